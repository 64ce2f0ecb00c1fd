// Chosen fields of a JSON record, kept as JSON: for output that writes
// some fields of each object and keeps their values' types (a number stays
// a number, an object an object).
//
// A field is found as the readers find it: the key named exactly so, else
// one that differs in ASCII case only, else the name as a path inside the
// object ("Event.System.EventID", "Tags.0"; see JsonCells).
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

  // Appends {"name":value,...} for every name, in order, with null where
  // the object has no such field, and a line break. False, appending
  // nothing, when `json` is no JSON object. Costs a parse of `json`.
  bool AppendObject(std::string_view json, std::string& out);

 private:
  simdjson::dom::parser parser_;
  std::string padded_;
  std::vector<std::string> names_;
};

}  // namespace eventquery

#endif  // RECORDS_JSONFIELDPICKER_H_
