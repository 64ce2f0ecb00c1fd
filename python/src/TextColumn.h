// One frame column as texts: every cell rendered as the text a file
// written from the frame would hold (CellText.h), for evfilter's
// RowFeeder to read as it reads a file's cells. This is how a single
// record is decided (Filter.match), and the reference that the typed
// column path (FieldColumn) is checked against.
//
// Object cells are turned into UTF-8 texts when the column is made, with
// the GIL held; Cell then needs no Python. Kinds: "text" (object array),
// "int64", "float64", "bool", "datetime" (datetime64[ns] viewed as int64).
//
// Thread safety: made with the GIL held; Cell may then be called on one
// thread at a time without it.

#ifndef FILTERMODULE_PYTHON_TEXTCOLUMN_H_
#define FILTERMODULE_PYTHON_TEXTCOLUMN_H_

#include <pybind11/numpy.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fmpython {

// The kinds of frame column the extension is given.
enum class ColumnKind { kText, kInt64, kFloat64, kBool, kDatetime };

// Checks that `data` is a contiguous 1-d array fit for `kind`; throws
// invalid_argument naming `name` otherwise.
ColumnKind CheckColumn(const std::string& name, const std::string& kind,
                       const pybind11::array& data);

class TextColumn {
 public:
  // Throws TypeError for an object it cannot read, naming the column and
  // row, or with `record` (a one-row column of one record's field) the
  // field.
  TextColumn(const std::string& name, const std::string& kind,
             pybind11::array data, bool record = false);

  size_t rows() const { return rows_; }

  // The cell of `row` as text, or nothing for a missing value (None, NaN,
  // NaT). `scratch` holds rendered numbers.
  std::optional<std::string_view> Cell(size_t row, std::string& scratch) const;

 private:
  void ReadObjects(const std::string& name, bool record);

  pybind11::array data_;
  ColumnKind kind_;
  size_t rows_ = 0;
  std::string arena_;
  std::vector<uint64_t> offsets_;
  std::vector<uint8_t> present_;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_TEXTCOLUMN_H_
