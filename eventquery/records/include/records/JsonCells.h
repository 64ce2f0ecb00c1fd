// Cells of a record from one JSON object, for the JSON readers.
//
// Every key of the object is a column (in the order keys first appear in
// the input); a value's cell is its text: a string as it is, a number or
// boolean as written, an object or array as compact JSON, null as no
// value. In a journald record (one with __REALTIME_TIMESTAMP or __CURSOR)
// an array of numbers 0 to 255 is the field's bytes, as journalctl writes
// a value that is no plain text; bytes that are no UTF-8 stay as they are
// (the deciders report them). A field the filter names that is no key of the
// object is looked up as a path: "Event.System.EventID" selects inside nested
// objects and "Tags.0" the first element of an array. At each level a key that
// itself contains dots is tried first as it stands ("a.b" before "a" then "b"),
// so {"a.b": 1} is found by "a.b". Paths found become columns too, but not
// keys of the record, so CSV output shows the object's own keys only.
//
// Thread safety: one thread.

#ifndef RECORDS_JSONCELLS_H_
#define RECORDS_JSONCELLS_H_

#include <simdjson.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "records/RecordReader.h"

namespace eventquery {

class JsonCells {
 public:
  // The filter's field names; names with a dot are looked up as paths.
  void WantFields(const std::vector<std::string>& names);
  // From now on only keys that may be a wanted field's column (equal to a
  // wanted name in ASCII case, spaces aside) and paths get cells; every key
  // is still a column and one of the record's keys. For callers that read
  // no other cell: text that is not read is not copied, nor a nested
  // value written out as JSON.
  void FillWantedOnly();
  // Parses `text` as one JSON value and fills `record`'s cells and keys;
  // sets record.problem when it is no valid JSON object. Throws InputError
  // when memory runs out: that is no fault of the record.
  void Fill(std::string_view text, Record& record);
  // Like Fill, for an element already parsed.
  void FillFrom(simdjson::dom::element doc, Record& record);
  simdjson::dom::parser& parser() { return parser_; }

  const std::vector<std::string>& columns() const { return columns_; }
  // Paths seen inside the first objects, for "closest" hints.
  std::vector<std::string> hint_names() const {
    return {hints_.begin(), hints_.end()};
  }

 private:
  size_t Column(std::string_view name, Record& record);
  // Whether a column of `name` may be the column of a wanted field.
  bool Wanted(std::string_view name) const;
  void Collect(simdjson::dom::element value, const std::string& prefix);

  simdjson::dom::parser parser_;
  std::string padded_;
  std::string arena_;
  std::vector<std::string> columns_;
  // Column by key, looked up without copying the key.
  struct KeyHash {
    using is_transparent = void;
    size_t operator()(std::string_view key) const {
      return std::hash<std::string_view>{}(key);
    }
  };
  std::unordered_map<std::string, size_t, KeyHash, std::equal_to<>> index_;
  // (column, (arena offset, size)) of the current record's values.
  struct Span {
    size_t column;
    size_t begin, size;  // in the arena
    bool nested;         // an object or an array
  };
  std::vector<Span> spans_;
  std::vector<char> nested_;  // per column: its last span is nested
  std::vector<std::string> paths_;
  std::vector<bool> filled_;  // per column, in the current record
  bool wanted_only_ = false;
  std::vector<std::string> wanted_;  // lowered, without spaces
  std::vector<char> wanted_column_;  // per column: Wanted(its name)
  std::set<std::string> hints_;
  uint64_t sampled_ = 0;
};

// The value at `path` inside `value` (see above); false when there is none.
bool FindPath(simdjson::dom::element value, std::string_view path,
              simdjson::dom::element* found);

// Appends the cell text of `value` (see above) to `out`; false, appending
// nothing, for null.
bool AppendJsonCell(simdjson::dom::element value, std::string& out);

// Appends `s` as a JSON string: quotes, backslashes and control
// characters escaped, valid UTF-8 as it is, and each byte that starts no
// valid sequence as \udcNN (U+DC00 + the byte, the usual mark of a byte
// that was no text), so that the output is always valid UTF-8 JSON. The
// mark says which byte it was to a reader; our own readers do not turn it
// back into that byte.
void AppendJsonString(std::string& out, std::string_view s);

// Appends the cells `record` has as one JSON object of strings, keyed by
// their `columns` (a CSV or TSV record written as JSON).
void AppendJsonObject(std::string& out, const std::vector<std::string>& columns,
                      const Record& record);

// Cells out of one JSON value given as text, read as the JSON readers read
// a record's: the value's own cell for an empty path, else the cell at the
// path inside it. For hosts that hold JSON values of their own (a frame's
// dict cells rendered as JSON). Costs a parse of the text per call.
class JsonValueReader {
 public:
  // The cell, valid until the next call; nothing for null or a path that
  // is not there (`*there`, when given, says which: true for null). Throws
  // InputError when `json` is no valid JSON.
  std::optional<std::string_view> Cell(std::string_view json,
                                       std::string_view path,
                                       bool* there = nullptr);

 private:
  simdjson::dom::parser parser_;
  std::string padded_;
  std::string cell_;
};

}  // namespace eventquery

#endif  // RECORDS_JSONCELLS_H_
