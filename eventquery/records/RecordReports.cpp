#include "records/RecordReports.h"

namespace eventquery {

std::string PlaceOf(const std::string& name, const Record& record) {
  if (!record.where.empty()) return name + ": " + std::string(record.where);
  return name + ":" + std::to_string(record.line);
}

const char* UnreadableKind(const Record& record) {
  return record.where.empty() ? kUnreadableLine : kUnreadableRecord;
}

std::string SkippedLine(const std::string& place, const Record& record) {
  // A record that says where it is says what was skipped, too.
  if (!record.where.empty()) return place + ": " + record.problem;
  return place + ": " + record.problem + "; line skipped";
}

std::string LostInput(const std::string& place, const Record& record) {
  return place + ": " + record.problem;
}

std::string ReadFailure(const Input& input, const InputError& e) {
  return input.stream_error().empty() ? e.what() : input.stream_error();
}

std::string RenamedColumns(const std::string& name,
                           const std::vector<std::string>& renamed) {
  if (renamed.empty()) return {};
  std::string message = name + ": duplicate column names: ";
  for (size_t i = 0; i < renamed.size(); ++i)
    message += (i > 0 ? ", " : "") + renamed[i];
  return message;
}

std::string RaggedRow(const std::string& place, size_t cells,
                      size_t header_cells) {
  return place + ": " + std::to_string(cells) +
         " cell(s) where the header has " + std::to_string(header_cells) +
         "; read as far as it goes";
}

}  // namespace eventquery
