#include "HeaderRowReader.h"

namespace eventquery {
namespace {

// Event Viewer's "Save as CSV" (and "Save as Text") names five columns and
// writes the message as a sixth cell without a name.
bool IsEventViewerHeader(const std::vector<std::string>& names) {
  static const char* const kNames[] = {"Level", "Date and Time", "Source",
                                       "Event ID", "Task Category"};
  if (names.size() != 5) return false;
  for (size_t i = 0; i < 5; ++i)
    if (names[i] != kNames[i]) return false;
  return true;
}

}  // namespace

void HeaderRowReader::SetHeader(std::string_view raw,
                                std::string_view terminator, Splitter split) {
  header_raw_.assign(raw);
  header_terminator_ = terminator.empty() ? kLf : terminator;
  std::vector<std::optional<std::string_view>> cells;
  split(raw, arena_, cells);
  std::vector<std::string> names;
  for (const auto& c : cells) names.emplace_back(*c);
  if (IsEventViewerHeader(names)) names.emplace_back("Message");
  columns_ = UniqueColumnNames(std::move(names), &notes_);
}

void HeaderRowReader::SetHeader(std::string_view raw,
                                std::string_view terminator,
                                std::vector<std::string> names) {
  header_raw_.assign(raw);
  header_terminator_ = terminator.empty() ? kLf : terminator;
  columns_ = UniqueColumnNames(std::move(names), &notes_);
}

}  // namespace eventquery
