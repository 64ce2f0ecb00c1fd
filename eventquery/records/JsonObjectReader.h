// The part that the JSON Lines and JSON array readers share: records that
// are JSON objects, whose keys become columns as they appear (JsonCells).
// Private to the readers.
//
// Thread safety: one thread.

#ifndef RECORDS_JSONOBJECTREADER_H_
#define RECORDS_JSONOBJECTREADER_H_

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "records/ChunkedInput.h"
#include "records/JsonCells.h"
#include "records/RecordReader.h"

namespace eventquery {

class JsonObjectReader : public RecordReader {
 public:
  const std::vector<std::string>& columns() const override {
    return cells_.columns();
  }
  void WantFields(const std::vector<std::string>& names) override {
    cells_.WantFields(names);
  }
  void FillWantedFieldsOnly() override { cells_.FillWantedOnly(); }
  std::vector<std::string> hint_names() const override {
    return cells_.hint_names();
  }
  uint64_t bytes_read() const override { return input_.bytes_read(); }
  uint64_t position() const override { return input_.position(); }
  uint64_t line() const override { return line_; }

 protected:
  // Reads `file`; at a file's start, after any byte-order mark.
  JsonObjectReader(std::FILE* file, bool at_file_start) : input_(file) {
    if (at_file_start) input_.SkipByteOrderMark();
  }

  ChunkedInput input_;
  JsonCells cells_;
  uint64_t line_ = 1;  // the line the next record starts on
};

}  // namespace eventquery

#endif  // RECORDS_JSONOBJECTREADER_H_
