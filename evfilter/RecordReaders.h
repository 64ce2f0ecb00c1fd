// Streaming readers of event records: CSV with a header row (RFC 4180) and
// JSON Lines (one object per line).
//
// A record gives its raw bytes (for writing it out unchanged), its first
// line number and its cells by column. Views stay valid until the next call
// of Next. Input of any size is read in chunks; memory stays proportional to
// the longest record.

#ifndef EVFILTER_RECORDREADERS_H_
#define EVFILTER_RECORDREADERS_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace evfilter {

class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Record {
  std::string_view raw;  // without the final line break
  uint64_t line = 0;     // 1-based line number where it starts
  // One cell per column; nothing for a missing cell (JSON: absent or null).
  std::vector<std::optional<std::string_view>> cells;
};

// Reads chunks of a stream and hands out whole lines or records.
class ChunkedInput {
 public:
  explicit ChunkedInput(std::FILE* file) : file_(file) {}
  // The next record ending in a line break outside quotes (quotes matter
  // only when `quoted` is set), without the break; false at the end.
  bool NextRecord(bool quoted, std::string_view* out, uint64_t* lines);
  uint64_t bytes_read() const { return bytes_read_; }

 private:
  bool Fill();
  std::FILE* file_;
  std::string buffer_;
  size_t start_ = 0;
  bool eof_ = false;
  uint64_t bytes_read_ = 0;
};

class RecordReader {
 public:
  virtual ~RecordReader() = default;
  // Column names in order (CSV: the header; JSON: every key seen so far).
  virtual const std::vector<std::string>& columns() const = 0;
  // False at the end of the input. Throws InputError for input it cannot
  // read at all (a JSON line that is not an object).
  virtual bool Next(Record& record) = 0;
  // Like Next, but a CSV reader leaves the cells empty (SplitCsv makes
  // them), so that another thread can split the record.
  virtual bool NextUnsplit(Record& record) { return Next(record); }
  // True when NextUnsplit leaves the cells to SplitCsv.
  virtual bool SplitsLater() const { return false; }
  virtual uint64_t bytes_read() const = 0;
};

// Reads the header row at once; throws InputError for an empty input.
std::unique_ptr<RecordReader> MakeCsvReader(std::FILE* file);
std::unique_ptr<RecordReader> MakeJsonLinesReader(std::FILE* file);

// Splits one CSV record into cells; quoted cells are unquoted into `arena`,
// which must not reallocate while the cells are used (it is reserved here).
void SplitCsv(std::string_view raw, std::string& arena,
              std::vector<std::optional<std::string_view>>& cells);

// A CSV field, quoted when it needs to be.
std::string CsvField(std::string_view text);

}  // namespace evfilter

#endif  // EVFILTER_RECORDREADERS_H_
