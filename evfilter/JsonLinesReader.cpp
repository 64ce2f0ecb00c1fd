#include "evfilter/JsonLinesReader.h"

#include "evfilter/JsonCells.h"

namespace evfilter {
namespace {

class JsonLinesReader final : public RecordReader {
 public:
  explicit JsonLinesReader(std::FILE* file) : input_(file) {
    input_.SkipByteOrderMark();
  }

  const std::vector<std::string>& columns() const override {
    return cells_.columns();
  }
  void WantFields(const std::vector<std::string>& names) override {
    cells_.WantFields(names);
  }
  std::vector<std::string> hint_names() const override {
    return cells_.hint_names();
  }

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

  uint64_t bytes_read() const override { return input_.bytes_read(); }

 private:
  ChunkedInput input_;
  JsonCells cells_;
  uint64_t line_ = 1;
};

}  // namespace

std::unique_ptr<RecordReader> MakeJsonLinesReader(std::FILE* file) {
  return std::make_unique<JsonLinesReader>(file);
}

}  // namespace evfilter
