#include "TextColumn.h"

#include <cmath>
#include <stdexcept>

#include "CellText.h"
#include "Interrupts.h"

namespace py = pybind11;

namespace fmpython {

ColumnKind CheckColumn(const std::string& name, const std::string& kind,
                       const py::array& data) {
  if (data.ndim() != 1 || !(data.flags() & py::array::c_style))
    throw std::invalid_argument("column '" + name +
                                "': expected a contiguous 1-d array");
  auto need = [&](py::dtype dtype) {
    if (!data.dtype().is(dtype) && data.dtype().kind() != dtype.kind())
      throw std::invalid_argument("column '" + name + "': expected " +
                                  std::string(py::str(dtype)) + " data");
  };
  if (kind == "int64" || kind == "datetime") {
    need(py::dtype::of<int64_t>());
    if (data.itemsize() != 8)
      throw std::invalid_argument("column '" + name + "': not 64-bit");
    return kind == "int64" ? ColumnKind::kInt64 : ColumnKind::kDatetime;
  }
  if (kind == "float64") {
    need(py::dtype::of<double>());
    if (data.itemsize() != 8)
      throw std::invalid_argument("column '" + name + "': not 64-bit");
    return ColumnKind::kFloat64;
  }
  if (kind == "bool") {
    need(py::dtype::of<bool>());
    return ColumnKind::kBool;
  }
  if (kind == "text") {
    if (data.dtype().kind() != 'O')
      throw std::invalid_argument("column '" + name +
                                  "': expected an object array");
    return ColumnKind::kText;
  }
  throw std::invalid_argument("column '" + name + "': unknown kind '" + kind +
                              "'");
}

TextColumn::TextColumn(const std::string& name, const std::string& kind,
                       py::array data, bool record)
    : data_(std::move(data)), kind_(CheckColumn(name, kind, data_)) {
  rows_ = static_cast<size_t>(data_.size());
  if (kind_ == ColumnKind::kText) ReadObjects(name, record);
}

std::optional<std::string_view> TextColumn::Cell(size_t row,
                                                 std::string& scratch) const {
  const void* base = data_.data();
  switch (kind_) {
    case ColumnKind::kText:
      if (!present_[row]) return std::nullopt;
      return std::string_view(arena_).substr(offsets_[row],
                                             offsets_[row + 1] - offsets_[row]);
    case ColumnKind::kInt64:
      RenderInt64(static_cast<const int64_t*>(base)[row], scratch);
      return scratch;
    case ColumnKind::kFloat64: {
      const double v = static_cast<const double*>(base)[row];
      if (std::isnan(v)) return std::nullopt;
      RenderDouble(v, scratch);
      return scratch;
    }
    case ColumnKind::kBool:
      return static_cast<const bool*>(base)[row] ? std::string_view("true")
                                                 : std::string_view("false");
    case ColumnKind::kDatetime: {
      const int64_t ns = static_cast<const int64_t*>(base)[row];
      if (ns == kNotATime) return std::nullopt;
      RenderTimestamp(ns, scratch);
      return scratch;
    }
  }
  return std::nullopt;
}

void TextColumn::ReadObjects(const std::string& name, bool record) {
  ObjectCells reader;
  auto* cells = static_cast<PyObject* const*>(data_.data());
  present_.assign(rows_, 0);
  offsets_.assign(rows_ + 1, 0);
  for (size_t r = 0; r < rows_; ++r) {
    if (TimeToCheck(r)) CheckSignals();
    offsets_[r] = arena_.size();
    try {
      present_[r] =
          reader.Append(cells[r], arena_) == ObjectCells::Outcome::kText;
    } catch (const UnreadableObject& e) {
      throw py::type_error(
          (record ? "field '" + name + "'"
                  : "column '" + name + "', row " + std::to_string(r)) +
          ": " + e.what());
    }
  }
  offsets_[rows_] = arena_.size();
}

}  // namespace fmpython
