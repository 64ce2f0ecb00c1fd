#include "evfilter/TsvReader.h"

namespace evfilter {

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

class TsvReader final : public RecordReader {
 public:
  explicit TsvReader(std::FILE* file) : input_(file) {
    input_.SkipByteOrderMark();
    std::string_view raw, terminator;
    uint64_t lines = 0;
    if (!input_.NextLine(&raw, &terminator, &lines))
      throw InputError("the TSV input is empty: a header row is needed");
    line_ = 2;
    header_raw_.assign(raw);
    header_terminator_ = terminator.empty() ? kLf : terminator;
    std::vector<std::optional<std::string_view>> cells;
    SplitTsv(raw, arena_, cells);
    std::vector<std::string> names;
    for (const auto& c : cells) names.emplace_back(*c);
    columns_ = UniqueColumnNames(std::move(names), &notes_);
  }

  const std::vector<std::string>& columns() const override { return columns_; }
  std::string_view header_raw() const override { return header_raw_; }
  std::string_view header_terminator() const override {
    return header_terminator_;
  }
  std::vector<std::string> header_notes() const override { return notes_; }

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

  uint64_t bytes_read() const override { return input_.bytes_read(); }

 private:
  ChunkedInput input_;
  std::vector<std::string> columns_;
  std::vector<std::string> notes_;
  std::string header_raw_;
  std::string_view header_terminator_;
  std::string arena_;
  uint64_t line_ = 1;
};

}  // namespace

std::unique_ptr<RecordReader> MakeTsvReader(std::FILE* file) {
  return std::make_unique<TsvReader>(file);
}

}  // namespace evfilter
