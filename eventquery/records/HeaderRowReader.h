// The part that the CSV and TSV readers share: a reader of records under a
// header row, whose names become the columns (duplicates renamed, see
// UniqueColumnNames). Event Viewer's five names get a sixth, "Message", for
// the unnamed cell its rows carry. Private to the readers.
//
// Thread safety: one thread.

#ifndef RECORDS_HEADERROWREADER_H_
#define RECORDS_HEADERROWREADER_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/ChunkedInput.h"
#include "records/RecordReader.h"

namespace eventquery {

class HeaderRowReader : public RecordReader {
 public:
  const std::vector<std::string>& columns() const override { return columns_; }
  std::string_view header_raw() const override { return header_raw_; }
  std::string_view header_terminator() const override {
    return header_terminator_;
  }
  std::vector<std::string> header_notes() const override { return notes_; }
  uint64_t bytes_read() const override { return input_.bytes_read(); }
  uint64_t position() const override { return input_.position(); }
  uint64_t line() const override { return line_; }

 protected:
  using Splitter = void (*)(std::string_view, std::string&,
                            std::vector<std::optional<std::string_view>>&);

  // Reads `file`; at a file's start, after any byte-order mark.
  HeaderRowReader(std::FILE* file, bool at_file_start) : input_(file) {
    if (at_file_start) input_.SkipByteOrderMark();
  }
  // Takes `raw` (with its break `terminator`) as the header row, its cells
  // split by `split`.
  void SetHeader(std::string_view raw, std::string_view terminator,
                 Splitter split);
  // Takes `raw` (with its break `terminator`) as the header, written back
  // before records, and `names` as the columns.
  void SetHeader(std::string_view raw, std::string_view terminator,
                 std::vector<std::string> names);

  ChunkedInput input_;
  std::string arena_;  // the current record's unquoted cells
  uint64_t line_ = 1;  // the line the next record starts on

 private:
  std::vector<std::string> columns_;
  std::vector<std::string> notes_;
  std::string header_raw_;
  std::string_view header_terminator_;
};

}  // namespace eventquery

#endif  // RECORDS_HEADERROWREADER_H_
