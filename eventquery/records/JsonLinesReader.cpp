#include "JsonObjectReader.h"
#include "Readers.h"

namespace eventquery {
namespace {

class JsonLinesReader final : public JsonObjectReader {
 public:
  JsonLinesReader(std::FILE* file, bool at_file_start)
      : JsonObjectReader(file, at_file_start) {}

  bool Next(Record& record) override {
    std::string_view raw, terminator;
    uint64_t lines = 0;
    for (;;) {
      if (!input_.NextLine(&raw, &terminator, &lines)) return false;
      record.line = line_;
      line_ += lines;
      if (raw.find_first_not_of(" \t\r") != std::string_view::npos) break;
    }
    record.raw = raw;
    record.terminator = terminator;
    cells_.Fill(raw, record);
    return true;
  }
};

}  // namespace

std::unique_ptr<RecordReader> MakeJsonLinesReader(std::FILE* file,
                                                  bool at_file_start) {
  return std::make_unique<JsonLinesReader>(file, at_file_start);
}

}  // namespace eventquery
