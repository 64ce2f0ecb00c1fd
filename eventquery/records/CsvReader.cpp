#include <cstring>

#include "HeaderRowReader.h"
#include "Readers.h"
#include "records/CsvCells.h"

namespace eventquery {

void SplitCsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells) {
  cells.clear();
  arena.clear();
  arena.reserve(raw.size());
  // Runs without a quote or comma are found with memchr and copied whole.
  const char* const data = raw.data();
  const size_t size = raw.size();
  auto find = [&](size_t from, char c) {
    if (from >= size) return size;  // (an empty view's data may be null)
    const void* at = std::memchr(data + from, c, size - from);
    return at == nullptr
               ? size
               : static_cast<size_t>(static_cast<const char*>(at) - data);
  };
  size_t i = 0;
  for (;;) {
    if (i < size && data[i] == '"') {
      const size_t begin = arena.size();
      ++i;
      while (i < size) {
        const size_t quote = find(i, '"');
        arena.append(data + i, quote - i);
        i = quote;
        if (i == size) break;  // unclosed: the rest is the cell
        if (i + 1 < size && data[i + 1] == '"') {
          arena.push_back('"');
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      // Anything between the closing quote and the comma is kept as text.
      const size_t comma = find(i, ',');
      arena.append(data + i, comma - i);
      i = comma;
      cells.emplace_back(
          std::string_view(arena.data() + begin, arena.size() - begin));
    } else {
      const size_t comma = find(i, ',');
      cells.emplace_back(raw.substr(i, comma - i));
      i = comma;
    }
    if (i >= size) break;
    ++i;  // the comma
  }
}

std::string CsvField(std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string_view::npos)
    return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

namespace {

class CsvReader final : public HeaderRowReader {
 public:
  CsvReader(std::FILE* file, bool at_file_start)
      : HeaderRowReader(file, at_file_start) {
    std::string_view raw, terminator;
    uint64_t lines = 0, open_quote = 0;
    if (!input_.NextCsvRecord(&raw, &terminator, &lines, &open_quote))
      throw InputError("the CSV input is empty: a header row is needed");
    if (raw.starts_with("#TYPE ") && open_quote == 0) {
      // Windows PowerShell's type line; the header follows it.
      line_ += lines;
      if (!input_.NextCsvRecord(&raw, &terminator, &lines, &open_quote))
        throw InputError("the CSV input has a #TYPE line but no header row");
    }
    if (open_quote != 0)
      throw InputError(
          "line " + std::to_string(line_ - 1 + open_quote) +
          ": a quoted field of the header opened here never closes");
    line_ += lines;
    SetHeader(raw, terminator, SplitCsv);
  }

  bool Next(Record& record) override {
    if (!NextUnsplit(record)) return false;
    if (record.problem.empty()) SplitCsv(record.raw, arena_, record.cells);
    return true;
  }

  bool NextUnsplit(Record& record) override {
    std::string_view raw, terminator;
    uint64_t lines = 0, open_quote = 0;
    record.problem.clear();
    record.fatal = false;
    record.cells.clear();
    do {
      if (!input_.NextCsvRecord(&raw, &terminator, &lines, &open_quote))
        return false;
      record.line = line_;
      line_ += lines;
    } while (raw.empty() && open_quote == 0);  // blank lines are not records
    record.raw = raw;
    record.terminator = terminator;
    if (open_quote != 0) {
      const uint64_t opened = record.line + open_quote - 1;
      record.line = opened;
      record.problem = "a quoted field opened on this line never closes; " +
                       std::to_string(line_ - opened) +
                       " line(s) from here to the end were not read";
      record.fatal = true;
    }
    return true;
  }

  bool SplitsLater() const override { return true; }
};

}  // namespace

std::unique_ptr<RecordReader> MakeCsvReader(std::FILE* file,
                                            bool at_file_start) {
  return std::make_unique<CsvReader>(file, at_file_start);
}

}  // namespace eventquery
