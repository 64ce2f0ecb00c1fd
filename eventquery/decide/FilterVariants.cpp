#include "decide/FilterVariants.h"

namespace eventquery {

FilterVariants::FilterVariants(std::vector<ConditionLine> lines)
    : lines_(std::move(lines)), base_(std::make_unique<BuiltFilter>(lines_)) {}

IFilter* FilterVariants::For(const std::string& forced) {
  if (forced.find_first_not_of('.') == std::string::npos) return base_->get();
  auto found = cache_.find(forced);
  if (found != cache_.end()) return found->second->get();
  // Bounded: records rarely lack more than a few patterns of fields, but a
  // pathological input must not grow the cache without end.
  if (cache_.size() >= 4096) cache_.clear();
  std::vector<ConditionLine> lines = lines_;
  for (size_t i = 0; i < lines.size() && i < forced.size(); ++i) {
    if (forced[i] == '.') continue;
    ConditionLine& l = lines[i];
    l.type = kTypeText;
    l.has_tag = false;
    l.tag.clear();
    if (forced[i] == 'F') {
      l.op = kOpLike;  // with a set that never closes: matches nothing
      l.value = u"[";
    } else {
      l.op = kOpContains;  // the empty text: matches everything
      l.value.clear();
    }
  }
  auto built = std::make_unique<BuiltFilter>(lines);
  ++built_;
  IFilter* filter = built->get();
  cache_.emplace(forced, std::move(built));
  return filter;
}

}  // namespace eventquery
