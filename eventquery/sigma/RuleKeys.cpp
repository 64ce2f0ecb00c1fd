#include "RuleKeys.h"

#include <algorithm>

namespace eventquery::sigma {
namespace {

// The ASCII-lowered text, or nothing for text with other characters (the
// module folds those its own way).
std::optional<std::string> AsciiKey(const std::u16string& value) {
  std::string out;
  for (char16_t c : value) {
    if (c == 0 || c >= 0x80) return std::nullopt;
    out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
  }
  return out;
}

template <typename T>
void Intersect(std::optional<std::vector<T>>& into, std::vector<T> more) {
  std::sort(more.begin(), more.end());
  more.erase(std::unique(more.begin(), more.end()), more.end());
  if (!into) {
    into = std::move(more);
    return;
  }
  std::vector<T> both;
  std::set_intersection(into->begin(), into->end(), more.begin(), more.end(),
                        std::back_inserter(both));
  *into = std::move(both);
}

}  // namespace

RuleKeys KeysOf(const std::vector<ConditionLine>& lines,
                const std::vector<bool>& host) {
  RuleKeys keys;
  // Top-level terms: [first, last] line ranges.
  std::vector<std::pair<size_t, size_t>> terms;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (depth == 0) start = i;
    depth += lines[i].open - lines[i].close;
    if (depth < 0) return {};
    if (depth == 0) {
      terms.emplace_back(start, i);
      // Any top-level link but AND: the terms are no conjuncts.
      if (i + 1 < lines.size() && lines[i].link != 0) return {};
    }
  }
  if (depth != 0) return {};
  for (const auto& [first, last] : terms) {
    const int outer = lines[first].open;
    if (lines[last].close != outer) continue;
    bool simple = true;
    for (size_t i = first; i <= last && simple; ++i) {
      const ConditionLine& l = lines[i];
      if ((i != first && l.open != 0) || (i != last && l.close != 0) ||
          (i != last && l.link != 1) || l.op != 0 || l.negate || l.inverted ||
          l.has_tag || (i < host.size() && host[i]))
        simple = false;
    }
    if (!simple) continue;
    const std::u16string& field = lines[first].field;
    bool same = true;
    for (size_t i = first; i <= last; ++i)
      same =
          same && lines[i].field == field && lines[i].type == lines[first].type;
    if (!same) continue;
    if (lines[first].type != 1 || (field != u"Channel" && field != u"EventID"))
      continue;
    std::vector<std::string> values;
    for (size_t i = first; i <= last && simple; ++i) {
      const auto key = AsciiKey(lines[i].value);
      if (key)
        values.push_back(*key);
      else
        simple = false;
    }
    if (simple)
      Intersect(field == u"Channel" ? keys.channels : keys.event_ids,
                std::move(values));
  }
  return keys;
}

}  // namespace eventquery::sigma
