#include "memory_host/MemoryFilterLines.h"

namespace memhost {

MemoryFilterLineList::MemoryFilterLineList(
    const std::vector<LineSpec>& line_data) {
  lines_.reserve(line_data.size());
  for (const LineSpec& data : line_data) Add(data);
}

void MemoryFilterLineList::Add(LineSpec data) {
  original_brackets_.emplace_back(data.open, data.close);
  lines_.emplace_back(std::move(data));
}

void MemoryFilterLineList::ResetBrackets() {
  for (size_t i = 0; i < lines_.size(); ++i) {
    lines_[i].SetOpenBrackets(original_brackets_[i].first);
    lines_[i].SetCloseBrackets(original_brackets_[i].second);
  }
}

}  // namespace memhost
