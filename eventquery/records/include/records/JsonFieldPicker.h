// Chosen fields of a JSON record, kept as JSON: for output that writes
// some fields of each object and keeps their values' types (a number stays
// a number, an object an object).
//
// Which key or path a field is read from is the caller's: the column that
// FieldColumns found for the record, so that a field has the same value in
// every output. A column is looked up as the readers fill it: the last key
// of that name (a repeated key's last value is its cell), else the name as
// a path inside the object ("Event.System.EventID", "Tags.0"; see
// JsonCells).
//
// Thread safety: one thread.

#ifndef RECORDS_JSONFIELDPICKER_H_
#define RECORDS_JSONFIELDPICKER_H_

#include <simdjson.h>

#include <string>
#include <string_view>
#include <vector>

namespace eventquery {

class JsonFieldPicker {
 public:
  explicit JsonFieldPicker(std::vector<std::string> names)
      : names_(std::move(names)) {}

  // Appends {"name":value,...} for every name, in order, each read from
  // the column named by `from` (null for a field without one, or where the
  // object has no such key or path), and a line break. False, appending
  // nothing, when `json` is no JSON object. Costs a parse of `json`.
  bool AppendObject(std::string_view json,
                    const std::vector<const std::string*>& from,
                    std::string& out);

 private:
  simdjson::dom::parser parser_;
  std::string padded_;
  std::vector<std::string> names_;
};

}  // namespace eventquery

#endif  // RECORDS_JSONFIELDPICKER_H_
