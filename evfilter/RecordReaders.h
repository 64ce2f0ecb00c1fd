// Streaming readers of event records, one per format behind RecordReader:
// CSV and TSV with a header row (CsvReader.h, TsvReader.h), JSON Lines and
// one JSON array of objects (JsonLinesReader.h, JsonArrayReader.h).
// Duplicate column names keep the first and rename later copies name_2,
// name_3, ...
//
// A record gives its raw bytes and line break (so that it can be written
// out byte for byte), its first line number and its cells by column. A line
// that is no record (malformed JSON) comes back with `problem` set. Views
// stay valid until the next call of Next. Input of any size is read in
// chunks; memory stays proportional to the longest record.
//
// Thread safety: a reader is used by one thread.

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

#include "evfilter/Inputs.h"

namespace evfilter {

class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Record {
  std::string_view raw;         // without the line break
  std::string_view terminator;  // "\n", "\r\n", or "" at the end of input
  uint64_t line = 0;            // 1-based line number where it starts
  // One cell per column; nothing for a cell the record lacks (CSV, TSV: a
  // short row; JSON: an absent key or null).
  std::vector<std::optional<std::string_view>> cells;
  // JSON: the columns the object names, in its own order (null included).
  std::vector<uint32_t> keys;
  // Not empty when the line could not be read as a record; it is then
  // reported and skipped. `fatal` when the rest of the input is lost too.
  std::string problem;
  bool fatal = false;
};

// Reads chunks of a stream and hands out whole lines or CSV records.
class ChunkedInput {
 public:
  explicit ChunkedInput(std::FILE* file) : file_(file) {}
  // Skips a UTF-8 byte-order mark at the current position.
  void SkipByteOrderMark();
  // The next line, without its break; false at the end.
  bool NextLine(std::string_view* out, std::string_view* terminator,
                uint64_t* lines);
  // The next CSV record (line breaks inside quoted fields belong to it);
  // false at the end. A quoted field still open at the end of the input
  // sets `*open_quote_line` (lines counted from the record's start, 1 for
  // its first) and yields the rest of the input as the record.
  bool NextCsvRecord(std::string_view* out, std::string_view* terminator,
                     uint64_t* lines, uint64_t* open_quote_line);
  uint64_t bytes_read() const { return bytes_read_; }

  // For readers that scan by themselves: the bytes read but not yet taken,
  // More to read further (false at the end; the window then has to be
  // asked for again), and Advance to take bytes from its front.
  std::string_view Window() const {
    return std::string_view(buffer_).substr(start_);
  }
  bool More();
  void Advance(size_t bytes) { start_ += bytes; }

 private:
  // Reads the next chunk; false at the end. Throws InputError when the
  // stream fails (a corrupt gzip stream, a read error).
  bool Fill();
  // The record [start_, end) with its break at `end`.
  void Take(size_t end, std::string_view* out, std::string_view* terminator);
  std::FILE* file_;
  std::string buffer_;
  size_t start_ = 0;
  bool eof_ = false;
  uint64_t bytes_read_ = 0;
};

inline constexpr std::string_view kLf = "\n";
inline constexpr std::string_view kCrLf = "\r\n";

class RecordReader {
 public:
  virtual ~RecordReader() = default;
  // Column names in order (CSV: the header; JSON: every key seen so far).
  virtual const std::vector<std::string>& columns() const = 0;
  // False at the end of the input.
  virtual bool Next(Record& record) = 0;
  // Like Next, but a CSV reader leaves the cells empty (SplitCsv makes
  // them), so that another thread can split the record.
  virtual bool NextUnsplit(Record& record) { return Next(record); }
  // True when NextUnsplit leaves the cells to SplitCsv.
  virtual bool SplitsLater() const { return false; }
  virtual uint64_t bytes_read() const = 0;
  // CSV: the header row as read (without a byte-order mark) and its break.
  virtual std::string_view header_raw() const { return {}; }
  virtual std::string_view header_terminator() const { return {}; }
  // What the reader noticed about the header (renamed duplicates).
  virtual std::vector<std::string> header_notes() const { return {}; }
  // JSON: the fields the filter names, so that a name that is no key is
  // looked up as a path inside the objects.
  virtual void WantFields(const std::vector<std::string>& /*names*/) {}
  // Names worth suggesting for a field no column matches (JSON: paths
  // seen inside the first objects).
  virtual std::vector<std::string> hint_names() const { return {}; }
};

// The reader for `format`; throws InputError (a CSV or TSV input without a
// header row).
std::unique_ptr<RecordReader> MakeRecordReader(Format format, std::FILE* file);

// Column names made unique: later copies of a name become name_2, name_3
// (skipping names already taken). One note per renamed column.
std::vector<std::string> UniqueColumnNames(std::vector<std::string> names,
                                           std::vector<std::string>* notes);

}  // namespace evfilter

#endif  // EVFILTER_RECORDREADERS_H_
