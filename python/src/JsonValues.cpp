#include "JsonValues.h"

#include <charconv>
#include <cmath>
#include <unordered_map>

#include "records/Record.h"

namespace py = pybind11;

namespace fmpython {
namespace {

// Deeper values are refused: a list that holds itself would never end.
constexpr int kMaxDepth = 256;

std::string TypeName(PyObject* o) {
  return py::str(py::handle(o).get_type().attr("__name__"));
}

// The digits of an int; the JSON readers refuse integers beyond 64 bits,
// and so does this.
std::string IntegerText(PyObject* o) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (overflow == 0) return std::to_string(v);
  const unsigned long long u = PyLong_AsUnsignedLongLong(o);
  if (PyErr_Occurred()) {
    PyErr_Clear();
    throw UnreadableObject(
        "cannot read an integer beyond 64 bits inside a value");
  }
  return std::to_string(u);
}

std::string_view Utf8(PyObject* s) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(s, &size);
  if (utf8 == nullptr) throw py::error_already_set();
  return {utf8, static_cast<size_t>(size)};
}

}  // namespace

bool IsJsonValue(PyObject* o) {
  return PyDict_Check(o) || PyList_Check(o) || PyTuple_Check(o);
}

void JsonValues::Render(PyObject* o, int depth) {
  if (depth > kMaxDepth)
    throw UnreadableObject("cannot read a value nested deeper than " +
                           std::to_string(kMaxDepth) + " levels");
  if (o == Py_None) {
    text_ += "null";
  } else if (PyBool_Check(o)) {
    text_ += o == Py_True ? "true" : "false";
  } else if (PyUnicode_Check(o)) {
    eventquery::AppendJsonString(text_, Utf8(o));
  } else if (PyLong_Check(o)) {
    text_ += IntegerText(o);
  } else if (PyFloat_Check(o)) {
    const double v = PyFloat_AS_DOUBLE(o);
    if (!std::isfinite(v)) {
      text_ += "null";  // JSON has no NaN: a missing value, as pandas has it
    } else {
      char buffer[64];
      text_.append(buffer,
                   std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
    }
  } else if (PyDict_Check(o)) {
    // The items as they are now, held: reading a value may run Python code
    // (isoformat) that changes the dict.
    const py::list items = py::reinterpret_steal<py::list>(PyDict_Items(o));
    if (!items) throw py::error_already_set();
    text_.push_back('{');
    for (size_t i = 0; i < items.size(); ++i) {
      if (i > 0) text_.push_back(',');
      PyObject* item = PyList_GET_ITEM(items.ptr(), i);
      PyObject* key = PyTuple_GET_ITEM(item, 0);
      if (PyUnicode_Check(key))
        eventquery::AppendJsonString(text_, Utf8(key));
      else if (PyLong_Check(key) && !PyBool_Check(key))
        eventquery::AppendJsonString(text_, IntegerText(key));
      else
        throw UnreadableObject("cannot read a dict with a key of type " +
                               TypeName(key));
      text_.push_back(':');
      Render(PyTuple_GET_ITEM(item, 1), depth + 1);
    }
    text_.push_back('}');
  } else if (PyList_Check(o) || PyTuple_Check(o)) {
    // A tuple of the items as they are now, held (as for a dict).
    const py::tuple items =
        py::reinterpret_steal<py::tuple>(PySequence_Tuple(o));
    if (!items) throw py::error_already_set();
    text_.push_back('[');
    for (size_t i = 0; i < items.size(); ++i) {
      if (i > 0) text_.push_back(',');
      Render(PyTuple_GET_ITEM(items.ptr(), i), depth + 1);
    }
    text_.push_back(']');
  } else if (PyObject_HasAttrString(o, "isoformat")) {
    eventquery::AppendJsonString(text_, py::reinterpret_borrow<py::object>(o)
                                            .attr("isoformat")()
                                            .cast<std::string>());
  } else {
    throw UnreadableObject("cannot read a value of type " + TypeName(o));
  }
}

std::optional<std::string_view> JsonValues::Cell(PyObject* value,
                                                 std::string_view path,
                                                 bool* there) {
  text_.clear();
  Render(value, 0);
  try {
    return reader_.Cell(text_, path, there);
  } catch (const eventquery::InputError& e) {
    throw UnreadableObject(std::string("cannot read the ") + TypeName(value) +
                           " as JSON: " + e.what());
  }
}

py::array CellsAtPath(const std::vector<PathStep>& ways, size_t rows) {
  // numpy fills an object array with None.
  py::array out = py::module_::import("numpy").attr("empty")(
      static_cast<py::ssize_t>(rows), "object");
  auto* cells = static_cast<PyObject**>(out.mutable_data());
  JsonValues values;
  // Equal cells share one str, as read_csv's do: the mask reads each
  // distinct object once.
  std::unordered_map<std::string, py::object> texts;
  for (size_t r = 0; r < rows; ++r) {
    for (const PathStep& way : ways) {
      PyObject* o = static_cast<PyObject* const*>(way.values.data())[r];
      if (o == nullptr || o == Py_None) continue;
      // Held while it is read: reading may run Python code.
      const py::object held = py::reinterpret_borrow<py::object>(o);
      if (way.path.empty()) {
        if (PyFloat_Check(o) && std::isnan(PyFloat_AS_DOUBLE(o))) continue;
        Py_INCREF(o);
        Py_XDECREF(cells[r]);
        cells[r] = o;
        break;
      }
      if (!IsJsonValue(o)) continue;
      std::optional<std::string_view> cell;
      bool there = false;
      try {
        cell = values.Cell(o, way.path, &there);
      } catch (const UnreadableObject& e) {
        throw py::type_error("column '" + way.column + "', row " +
                             std::to_string(r) + ": " + e.what());
      }
      if (!cell && there) break;  // null where the path leads: no value
      if (!cell) continue;
      auto found = texts.find(std::string(*cell));
      if (found == texts.end()) {
        if (texts.size() >= (1u << 16)) texts.clear();
        found = texts
                    .emplace(std::string(*cell),
                             py::str(cell->data(), cell->size()))
                    .first;
      }
      // The array was made of None: replace this row's.
      PyObject* old = cells[r];
      cells[r] = found->second.inc_ref().ptr();
      Py_XDECREF(old);
      break;
    }
  }
  return out;
}

}  // namespace fmpython
