#include "HeaderRowReader.h"
#include "Readers.h"
#include "records/CsvCells.h"

namespace eventquery {

void SplitTsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells) {
  cells.clear();
  arena.clear();
  arena.reserve(raw.size());
  size_t i = 0;
  for (;;) {
    const size_t tab = std::min(raw.find('\t', i), raw.size());
    const std::string_view cell = raw.substr(i, tab - i);
    if (cell.find('\\') == std::string_view::npos) {
      cells.emplace_back(cell);
    } else {
      const size_t begin = arena.size();
      for (size_t k = 0; k < cell.size(); ++k) {
        if (cell[k] == '\\' && k + 1 < cell.size()) {
          const char e = cell[k + 1];
          const char plain = e == 't'    ? '\t'
                             : e == 'n'  ? '\n'
                             : e == 'r'  ? '\r'
                             : e == '\\' ? '\\'
                                         : '\0';
          if (plain != '\0') {
            arena.push_back(plain);
            ++k;
            continue;
          }
        }
        arena.push_back(cell[k]);
      }
      cells.emplace_back(
          std::string_view(arena.data() + begin, arena.size() - begin));
    }
    if (tab >= raw.size()) break;
    i = tab + 1;
  }
}

std::string TsvField(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

namespace {

class TsvReader final : public HeaderRowReader {
 public:
  TsvReader(std::FILE* file, bool at_file_start)
      : HeaderRowReader(file, at_file_start) {
    std::string_view raw, terminator;
    uint64_t lines = 0;
    if (!input_.NextLine(&raw, &terminator, &lines))
      throw InputError("the TSV input is empty: a header row is needed");
    line_ = 2;
    SetHeader(raw, terminator, SplitTsv);
  }

  bool Next(Record& record) override {
    std::string_view raw, terminator;
    uint64_t lines = 0;
    record.problem.clear();
    record.fatal = false;
    record.keys.clear();
    do {
      if (!input_.NextLine(&raw, &terminator, &lines)) return false;
      record.line = line_;
      line_ += lines;
    } while (raw.empty());  // blank lines are not records
    record.raw = raw;
    record.terminator = terminator;
    SplitTsv(raw, arena_, record.cells);
    return true;
  }
};

}  // namespace

std::unique_ptr<RecordReader> MakeTsvReader(std::FILE* file,
                                            bool at_file_start) {
  return std::make_unique<TsvReader>(file, at_file_start);
}

}  // namespace eventquery
