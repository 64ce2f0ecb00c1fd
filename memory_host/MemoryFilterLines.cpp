#include "memory_host/MemoryFilterLines.h"

namespace memhost {

MemoryFilterLineList::MemoryFilterLineList(const std::vector<LineSpec>& specs) {
  lines_.reserve(specs.size());
  for (const LineSpec& spec : specs) Add(spec);
}

void MemoryFilterLineList::Add(LineSpec spec) {
  original_brackets_.emplace_back(spec.open, spec.close);
  lines_.emplace_back(std::move(spec));
}

void MemoryFilterLineList::ResetBrackets() {
  for (size_t i = 0; i < lines_.size(); ++i) {
    lines_[i].SetOpenBrackets(original_brackets_[i].first);
    lines_[i].SetCloseBrackets(original_brackets_[i].second);
  }
}

}  // namespace memhost
