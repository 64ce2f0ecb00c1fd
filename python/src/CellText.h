// Frame values as the texts a file written from the frame would hold, so
// that they are read by evfilter's cell readers exactly as evfilter reads
// that file:
//
//   int64      decimal digits
//   float64    the shortest text that reads back as the same double
//   datetime   ISO 8601 without a zone (yyyy-mm-ddThh:mm:ss), with the
//              fraction of a second only when there is one
//   object     str as it is; bool and numpy.bool_ as true/false; float,
//              int, numpy's integers and floats and Decimal as Python
//              writes them (a float32 as numpy shows it: 0.1, not
//              0.100000001490116); anything with isoformat() in ISO form;
//              dict, list and tuple as the JSON value's cell
//              (JsonValues.h); None, NaN (of any kind), NaT and pandas' NA
//              are missing values
//
// Thread safety: the render functions are safe on any thread; an
// ObjectCells is made and used with the GIL held.

#ifndef FILTERMODULE_PYTHON_CELLTEXT_H_
#define FILTERMODULE_PYTHON_CELLTEXT_H_

#include <pybind11/pybind11.h>

#include <cstdint>
#include <string>

#include "JsonValues.h"

namespace fmpython {

// Each replaces the contents of `out`.
void RenderInt64(int64_t value, std::string& out);
void RenderDouble(double value, std::string& out);
void RenderTimestamp(int64_t nanoseconds, std::string& out);

// The nanosecond count that pandas uses for NaT.
inline constexpr int64_t kNotATime = INT64_MIN;

class ObjectCells {
 public:
  enum class Outcome { kText, kMissing };

  ObjectCells();

  // Appends the text of `cell` to `out` (kText), or leaves `out` alone.
  // Throws UnreadableObject for an object it cannot read, and
  // error_already_set when Python fails to give a text.
  Outcome Append(PyObject* cell, std::string& out);

 private:
  JsonValues json_;
  // pandas' NA and NaT types, when pandas is importable.
  pybind11::object na_type_;
  pybind11::object nat_type_;
  // numpy's scalar types, when numpy is importable, and Decimal.
  pybind11::object numpy_bool_;
  pybind11::object numpy_integer_;
  pybind11::object numpy_floating_;
  pybind11::object decimal_;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_CELLTEXT_H_
