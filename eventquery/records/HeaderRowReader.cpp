#include "HeaderRowReader.h"

namespace eventquery {

void HeaderRowReader::SetHeader(std::string_view raw,
                                std::string_view terminator, Splitter split) {
  header_raw_.assign(raw);
  header_terminator_ = terminator.empty() ? kLf : terminator;
  std::vector<std::optional<std::string_view>> cells;
  split(raw, arena_, cells);
  std::vector<std::string> names;
  for (const auto& c : cells) names.emplace_back(*c);
  columns_ = UniqueColumnNames(std::move(names), &notes_);
}

}  // namespace eventquery
