#include "FieldStats.h"

namespace evfilter {

void FieldStats::Add(const eventquery::Record& record,
                     const std::vector<std::string>& columns,
                     const std::vector<size_t>& unreadable) {
  ++records_;
  for (size_t i = 0; i < counts_.size(); ++i) {
    if (columns_.Cell(record, columns, i))
      ++counts_[i].had;
    else
      ++counts_[i].missing;
  }
  for (const size_t i : unreadable)
    if (unread_[i] != records_) {  // a record counts once per field
      unread_[i] = records_;
      ++counts_[i].unreadable;
    }
}

std::vector<std::string> FieldStats::Lines() const {
  std::vector<std::string> lines;
  lines.push_back("field statistics over " + std::to_string(records_) +
                  " record(s): had, missing (no value or null), unreadable");
  for (size_t i = 0; i < counts_.size(); ++i)
    lines.push_back("  '" + columns_.names()[i] +
                    "': " + std::to_string(counts_[i].had) + " had, " +
                    std::to_string(counts_[i].missing) + " missing, " +
                    std::to_string(counts_[i].unreadable) + " unreadable");
  return lines;
}

}  // namespace evfilter
