// Frame cells that hold JSON-like values (dicts, lists and tuples, as
// pandas.read_json and read_events give nested objects and arrays), read
// as the event library reads the JSON value of a record: the value's own
// cell (compact JSON) for its column's name, and paths inside it for a
// dotted name ("Event.System.EventID" on an "Event" column).
//
// A value is rendered as JSON text and then read by the library's
// JsonValueReader, so that every rule of the JSON readers (numbers,
// strings, nested values as compact JSON, null as missing, array indexes
// in paths) holds alike.
//
// Thread safety: made and used with the GIL held.

#ifndef FILTERMODULE_PYTHON_JSONVALUES_H_
#define FILTERMODULE_PYTHON_JSONVALUES_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/JsonCells.h"

namespace fmpython {

// An object a cell cannot be read from; what() says why ("cannot read a
// value of type set").
class UnreadableObject : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// True for the objects read as JSON values.
bool IsJsonValue(PyObject* o);

class JsonValues {
 public:
  // The cell of `value` at `path` ("" for the value itself), or nothing
  // for null or a path that is not there (`*there` says which, as
  // JsonValueReader's). Throws UnreadableObject.
  std::optional<std::string_view> Cell(PyObject* value, std::string_view path,
                                       bool* there = nullptr);

 private:
  // Appends `o` as JSON text; throws UnreadableObject.
  void Render(PyObject* o, int depth);

  std::string text_;
  eventquery::JsonValueReader reader_;
};

// One way to a dotted field through a frame column: the column's object
// array and the path inside its values; an empty path takes the cell
// itself (a column named as the whole field).
struct PathStep {
  std::string column;
  pybind11::array values;
  std::string path;
};

// The cells of a dotted field over `rows` rows: at each row the first way
// that reaches a value gives the cell (a str from a path, the object itself
// for an empty path); a path that reaches null, as the JSON readers' does,
// gives None without trying the others (an empty path's None is taken for
// no key, and the others are tried). Throws
// pybind11::type_error naming the column and row of a value that cannot
// be read.
pybind11::array CellsAtPath(const std::vector<PathStep>& ways, size_t rows);

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_JSONVALUES_H_
