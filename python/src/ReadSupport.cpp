#include "ReadSupport.h"

#include <pybind11/stl.h>

#include "common/Utf8.h"
#include "records/Formats.h"
#include "records/RecordReader.h"
#include "records/RecordReports.h"

namespace py = pybind11;

namespace fmpython {

using eventquery::Format;

// A name as a str can hold it: each byte that is no UTF-8 becomes U+FFFD
// (common/Utf8.h).
std::string Readable(std::string_view text) {
  return common::ToUtf8(common::ToUtf16(text));
}

// A cell as a str: each byte that is no UTF-8 kept as its surrogate escape
// (U+DC00 + the byte, as Python's "surrogateescape" makes it), so that
// different cells stay different; the mask reads the byte back.
py::object CellStr(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(
      text.data(), static_cast<Py_ssize_t>(text.size()), "surrogateescape");
  if (s == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(s);
}

// A text as a str, read as Readable reads it (a cell, a column name, a
// message quoting either).
py::object Str(std::string_view text) {
  PyObject* s = PyUnicode_DecodeUTF8(
      text.data(), static_cast<Py_ssize_t>(text.size()), nullptr);
  if (s == nullptr) {
    PyErr_Clear();
    const std::string readable = Readable(text);
    s = PyUnicode_DecodeUTF8(readable.data(),
                             static_cast<Py_ssize_t>(readable.size()), nullptr);
    if (s == nullptr) throw py::error_already_set();
  }
  return py::reinterpret_steal<py::object>(s);
}

py::list Strs(const std::vector<std::string>& texts) {
  py::list out;
  for (const std::string& t : texts) out.append(Str(t));
  return out;
}

std::optional<Format> FormatOf(const std::string& name) {
  if (name.empty()) return std::nullopt;
  const std::optional<Format> format = eventquery::FormatNamed(name);
  if (!format)
    throw py::value_error("unknown format '" + name +
                          "'; accepted: " + eventquery::FormatNameList(false));
  return format;
}

eventquery::Encoding EncodingOf(const std::string& name) {
  if (name.empty()) return eventquery::Encoding::kUtf8;
  const auto encoding = eventquery::EncodingNamed(name);
  if (!encoding)
    throw py::value_error("unknown encoding '" + name +
                          "'; accepted: " + eventquery::kEncodingNames);
  return *encoding;
}

// The Python value of a JSON value (a new reference), as json.loads makes
// it.
py::object ToPython(simdjson::dom::element value) {
  switch (value.type()) {
    case simdjson::dom::element_type::OBJECT: {
      py::dict out;
      // A copy: the result object of get_object() ends with the statement.
      const simdjson::dom::object object = value.get_object().value_unsafe();
      for (auto field : object)
        out[py::str(field.key.data(), field.key.size())] =
            ToPython(field.value);
      return out;
    }
    case simdjson::dom::element_type::ARRAY: {
      py::list out;
      const simdjson::dom::array array = value.get_array().value_unsafe();
      for (auto element : array) out.append(ToPython(element));
      return out;
    }
    case simdjson::dom::element_type::STRING: {
      const std::string_view s = value.get_string().value_unsafe();
      return py::str(s.data(), s.size());
    }
    case simdjson::dom::element_type::INT64:
      return py::int_(value.get_int64().value_unsafe());
    case simdjson::dom::element_type::UINT64:
      return py::int_(value.get_uint64().value_unsafe());
    case simdjson::dom::element_type::DOUBLE:
      return py::float_(value.get_double().value_unsafe());
    case simdjson::dom::element_type::BOOL:
      return py::bool_(value.get_bool().value_unsafe());
    case simdjson::dom::element_type::NULL_VALUE:
      break;
  }
  return py::none();
}

std::unique_ptr<eventquery::Input> OpenInput(
    const std::string& path, const std::string& format,
    const std::optional<PieceTuple>& piece, const std::string& encoding) {
  std::unique_ptr<eventquery::Input> input;
  const eventquery::Encoding e = EncodingOf(encoding);
  if (piece) {
    const auto [header_end, header_line, begin, end, first_line] = *piece;
    (void)header_line;
    const std::optional<Format> f = FormatOf(format);
    if (!f) throw py::value_error("a piece is read in a format named");
    input = std::make_unique<eventquery::Input>(
        path, *f, header_end, eventquery::InputPiece{begin, end, first_line},
        e);
  } else {
    input = std::make_unique<eventquery::Input>(path, FormatOf(format), e);
  }
  if (!input->ok()) throw ReadError(input->name() + ": " + input->error());
  return input;
}

void ThrowIfOutOfMemory(const eventquery::ScanResult& result) {
  if (result.out_of_memory.empty()) return;
  PyErr_SetString(PyExc_MemoryError, result.out_of_memory.c_str());
  throw py::error_already_set();
}

void Reports::NotUtf8(const std::string& column, const std::string& place,
                      std::string_view cell) {
  for (auto& [name, c] : not_utf8_)
    if (name == column) {
      ++c.count;
      return;
    }
  not_utf8_.push_back({column, {1, place, common::Printable(cell)}});
}

void Reports::Add(const std::string& kind, std::string message) {
  for (auto& [name, k] : kinds_)
    if (name == kind) {
      if (++k.count <= eventquery::kShownPerKind)
        k.shown.push_back(std::move(message));
      return;
    }
  kinds_.push_back({kind, {1, {std::move(message)}}});
}

py::list Reports::List() const {
  py::list out;
  for (const auto& [name, k] : kinds_)
    out.append(py::make_tuple(Str(name), k.count, Strs(k.shown)));
  for (const auto& [column, c] : not_utf8_)
    out.append(py::make_tuple(
        Str("value that is no UTF-8"), 1,
        Strs({"column '" + Readable(column) + "': " + std::to_string(c.count) +
              " value(s) are not valid UTF-8 (first at " + c.first_place +
              ": '" + c.first_cell +
              "'); each byte that is no UTF-8 is kept as its surrogate "
              "escape (U+DC00 + the byte). For a Latin-1 or Windows "
              "export, read with encoding='latin1' or 'cp1252'"})));
  return out;
}

}  // namespace fmpython
