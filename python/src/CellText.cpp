#include "CellText.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "common/CivilCalendar.h"

namespace py = pybind11;

namespace fmpython {

void RenderInt64(int64_t value, std::string& out) {
  char buffer[32];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out.assign(buffer, end);
}

void RenderDouble(double value, std::string& out) {
  // What the value prints as, and what a file written from the frame holds.
  char buffer[64];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  out.assign(buffer, end);
}

void RenderTimestamp(int64_t nanoseconds, std::string& out) {
  constexpr int64_t kDay = 86400LL * 1000000000LL;
  int64_t days = nanoseconds / kDay;
  int64_t rest = nanoseconds % kDay;
  if (rest < 0) {
    rest += kDay;
    --days;
  }
  int64_t y = 0;
  int32_t m = 0, d = 0;
  common::CivilFromDays(days, &y, &m, &d);
  const int64_t seconds = rest / 1000000000LL;
  const int64_t fraction = rest % 1000000000LL;
  char buffer[64];
  int n = std::snprintf(
      buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
      static_cast<long long>(y), static_cast<long long>(m),
      static_cast<long long>(d), static_cast<long long>(seconds / 3600),
      static_cast<long long>(seconds / 60 % 60),
      static_cast<long long>(seconds % 60));
  out.assign(buffer, static_cast<size_t>(n));
  if (fraction != 0) {
    n = std::snprintf(buffer, sizeof buffer, ".%09lld",
                      static_cast<long long>(fraction));
    std::string_view digits(buffer, static_cast<size_t>(n));
    while (digits.back() == '0') digits.remove_suffix(1);
    out.append(digits);
  }
}

ObjectCells::ObjectCells() {
  try {
    py::module_ pandas = py::module_::import("pandas");
    na_type_ = py::type::of(pandas.attr("NA"));
    nat_type_ = py::type::of(pandas.attr("NaT"));
  } catch (const py::error_already_set&) {
    // Without pandas no cell can be NA or NaT.
  }
  try {
    py::module_ numpy = py::module_::import("numpy");
    numpy_bool_ = numpy.attr("bool_");
    numpy_integer_ = numpy.attr("integer");
    numpy_floating_ = numpy.attr("floating");
  } catch (const py::error_already_set&) {
    // Without numpy no cell is a numpy scalar.
  }
  try {
    decimal_ = py::module_::import("decimal").attr("Decimal");
  } catch (const py::error_already_set&) {
  }
}

namespace {

bool IsA(PyObject* o, const py::object& type) {
  if (!type) return false;
  const int is = PyObject_IsInstance(o, type.ptr());
  if (is < 0) throw py::error_already_set();
  return is == 1;
}

}  // namespace

ObjectCells::Outcome ObjectCells::Append(PyObject* o, std::string& out) {
  if (o == Py_None || o == nullptr) return Outcome::kMissing;
  if (PyUnicode_Check(o)) {
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size)) {
      out.append(utf8, static_cast<size_t>(size));
      return Outcome::kText;
    }
    // Lone surrogates: a byte kept by "surrogateescape" (read_events keeps
    // bytes that are no UTF-8 so) is that byte again, any other surrogate
    // its own three bytes; the cell readers keep both apart from text.
    PyErr_Clear();
    PyObject* bytes = PyUnicode_AsEncodedString(o, "utf-8", "surrogateescape");
    if (bytes == nullptr) {
      PyErr_Clear();
      bytes = PyUnicode_AsEncodedString(o, "utf-8", "surrogatepass");
    }
    if (bytes == nullptr) throw py::error_already_set();
    const py::object held = py::reinterpret_steal<py::object>(bytes);
    out.append(PyBytes_AS_STRING(bytes),
               static_cast<size_t>(PyBytes_GET_SIZE(bytes)));
    return Outcome::kText;
  }
  if (PyBool_Check(o)) {
    out.append(o == Py_True ? "true" : "false");
    return Outcome::kText;
  }
  if (PyFloat_Check(o)) {
    const double v = PyFloat_AS_DOUBLE(o);
    if (std::isnan(v)) return Outcome::kMissing;
    std::string text;
    RenderDouble(v, text);
    out.append(text);
    return Outcome::kText;
  }
  if (PyLong_Check(o)) {
    out.append(py::str(o).cast<std::string>());
    return Outcome::kText;
  }
  // numpy's scalars and Decimal, as they show themselves (np.float64 is a
  // float, and read above).
  if (IsA(o, numpy_bool_)) {
    const int truth = PyObject_IsTrue(o);
    if (truth < 0) throw py::error_already_set();
    out.append(truth ? "true" : "false");
    return Outcome::kText;
  }
  if (IsA(o, numpy_integer_)) {
    out.append(py::str(o).cast<std::string>());
    return Outcome::kText;
  }
  if (IsA(o, numpy_floating_) || IsA(o, decimal_)) {
    const py::handle value(o);
    // Decimal's NaN cannot become a float; is_nan says so for both.
    const bool nan = py::hasattr(value, "is_nan")
                         ? value.attr("is_nan")().cast<bool>()
                         : std::isnan(PyFloat_AsDouble(o));
    if (PyErr_Occurred()) throw py::error_already_set();
    if (nan) return Outcome::kMissing;
    out.append(py::str(o).cast<std::string>());
    return Outcome::kText;
  }
  if (na_type_ && (py::handle(o).get_type().is(na_type_) ||
                   py::handle(o).get_type().is(nat_type_)))
    return Outcome::kMissing;
  if (PyObject_HasAttrString(o, "isoformat")) {
    out.append(py::reinterpret_borrow<py::object>(o)
                   .attr("isoformat")()
                   .cast<std::string>());
    return Outcome::kText;
  }
  if (IsJsonValue(o)) {
    const std::optional<std::string_view> cell = json_.Cell(o, "");
    if (!cell) return Outcome::kMissing;
    out.append(*cell);
    return Outcome::kText;
  }
  throw UnreadableObject(
      "cannot read a value of type " +
      std::string(py::str(py::handle(o).get_type().attr("__name__"))));
}

}  // namespace fmpython
