#include <memory>

#include "HeaderRowReader.h"
#include "Readers.h"
#include "ZeekLog.h"
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
    if (ZeekPreamble::Starts(raw)) {
      ReadZeekPreamble(raw, terminator);
      return;
    }
    SetHeader(raw, terminator, SplitTsv);
  }

  LogSource log_source() const override {
    return zeek_ ? LogSource{"zeek", zeek_->path()} : LogSource{};
  }

  std::vector<std::pair<std::string, std::string>> declared_types()
      const override {
    return zeek_ ? zeek_->DeclaredTypes()
                 : std::vector<std::pair<std::string, std::string>>();
  }
  std::vector<std::string> input_notes() const override { return notes_; }

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
      // Blank lines are no records, nor are a Zeek log's "#" lines. Under
      // a header of one name a blank line may also be a record whose one
      // value is empty, which TSV writes so: said once, not guessed.
      if (zeek_ && !raw.empty() && raw[0] == '#')
        CheckZeekLine(raw, record.line);
      if (raw.empty() && !zeek_ && columns().size() == 1 && notes_.empty())
        notes_.push_back(
            "line " + std::to_string(record.line) +
            ": a blank line under a header of one name is skipped; TSV "
            "writes a record whose one value is empty so, and cannot tell "
            "the two apart");
    } while (raw.empty() || (zeek_ && raw[0] == '#'));
    record.raw = raw;
    record.terminator = terminator;
    if (zeek_)
      zeek_->Split(raw, arena_, record.cells);
    else
      SplitTsv(raw, arena_, record.cells);
    return true;
  }

 private:
  // The "#" lines up to #fields and #types; they are the header written
  // back before records.
  void ReadZeekPreamble(std::string_view first, std::string_view terminator) {
    zeek_ = std::make_unique<ZeekPreamble>();
    std::string header(first);
    zeek_->Take(first, 1);
    std::string_view last_terminator = terminator;
    std::string_view raw;
    uint64_t lines = 0;
    while (!zeek_->complete()) {
      if (!input_.NextLine(&raw, &terminator, &lines)) break;
      // A blank line ends the preamble and is no record, but it is a line.
      if (raw.empty()) line_ += lines;
      if (raw.empty() || raw[0] != '#') break;
      zeek_->Take(raw, line_);
      line_ += lines;
      header.append(last_terminator.empty() ? kLf : last_terminator);
      header.append(raw);
      last_terminator = terminator;
    }
    // A record before #types: the log's fields are known, its types not.
    if (!zeek_->complete() && !raw.empty() && raw[0] != '#')
      throw InputError("line " + std::to_string(line_) +
                       ": a record before the Zeek log's #fields and "
                       "#types lines");
    zeek_->Finish();
    SetHeader(header, last_terminator, zeek_->names());
  }

  // A "#" line among the records: rotated logs concatenated into one
  // stream repeat their preamble, which must keep the fields, types and
  // texts the records are read with; a log of other fields would be read
  // under the wrong names, so it ends the input.
  void CheckZeekLine(std::string_view raw, uint64_t line) {
    ZeekPreamble next = *zeek_;
    next.Take(raw, line);
    if (!next.SameForm(*zeek_))
      throw InputError("line " + std::to_string(line) +
                       ": a Zeek log of other fields, types or separators "
                       "starts here; give each log as an input of its own");
  }

  std::unique_ptr<ZeekPreamble> zeek_;
  std::vector<std::string> notes_;  // on the input as a whole
};

}  // namespace

std::unique_ptr<RecordReader> MakeTsvReader(std::FILE* file,
                                            bool at_file_start) {
  return std::make_unique<TsvReader>(file, at_file_start);
}

}  // namespace eventquery
