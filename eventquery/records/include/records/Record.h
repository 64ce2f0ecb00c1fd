// One record of an event input, as the readers hand it out: its raw bytes
// and line break (so that it can be written out byte for byte), its first
// line number and its cells by column. A line that is no record (malformed
// JSON) comes with `problem` set. The views stay valid until the reader's
// next call.
//
// Thread safety: plain data.

#ifndef RECORDS_RECORD_H_
#define RECORDS_RECORD_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace eventquery {

class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Record {
  std::string_view raw;         // without the line break
  std::string_view terminator;  // "\n", "\r\n", or "" at the end of input
  uint64_t line = 0;            // 1-based line number where it starts
  // Where the record is when no line says it (EVTX: "chunk 3, record
  // 1234"; `line` is then the record's id).
  std::string_view where;
  // One cell per column; nothing for a cell the record lacks (CSV, TSV: a
  // short row; JSON: an absent key or null).
  std::vector<std::optional<std::string_view>> cells;
  // JSON: the columns the object names, in its own order (null included).
  std::vector<uint32_t> keys;
  // JSON: the columns whose cell is an object or an array, as compact JSON
  // text (a reader that builds values of its own parses them again).
  std::vector<uint32_t> nested;
  // Not empty when the line could not be read as a record; it is then
  // reported and skipped. `fatal` when the rest of the input is lost too.
  std::string problem;
  bool fatal = false;
  // The records a problem stands for, when known (EVTX: a chunk or a run
  // of records that could not be read); 0: as many as its line says, or
  // for an EVTX chunk, unknown.
  uint64_t lost = 0;
};

inline constexpr std::string_view kLf = "\n";
inline constexpr std::string_view kCrLf = "\r\n";

}  // namespace eventquery

#endif  // RECORDS_RECORD_H_
