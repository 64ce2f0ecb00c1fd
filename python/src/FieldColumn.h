// One field's values over the rows of a frame, prepared once per mask so
// that a row serves them by index (ColumnRow) instead of rendering a text
// per cell and reading it again.
//
// Each distinct value of the column is read once, by FieldReader (evfilter's
// RowFeeder on that one cell): what each accessor of the row returns, the
// marks of the field's conditions and its notes. A row is then an index
// into those readings. Distinct values are told apart by:
//
//   object     the object's address: read_csv and concat share one str
//              among equal cells, so a column of repeated texts costs one
//              reading per text. The frame holds every object for the
//              call, and str, int, float, bool and dates are immutable.
//   int64, datetime, bool   the value
//   float64    the bits of the double (-0.0 prints apart from 0.0); every
//              NaN is the one missing value
//
// An int64 column that only numeric conditions read, whose values all fit
// the module's 32-bit integer, is served straight from the array: such a
// value is an exact integer that no condition is forced on and no note is
// taken of, which is what the reader makes of its text.
//
// Thread safety: made with the GIL held (object cells are classified then);
// Read and At are for one thread at a time without the GIL.

#ifndef FILTERMODULE_PYTHON_FIELDCOLUMN_H_
#define FILTERMODULE_PYTHON_FIELDCOLUMN_H_

#include <pybind11/numpy.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FieldReader.h"
#include "TextColumn.h"
#include "filtermodule/FilterModule.h"

namespace fmpython {

// A date or time record kept in the low bytes of a 64-bit word. Served
// from the word's address (Unpack): GCC builds a 6-byte record chosen
// between two values on the stack and reads it back stalled; from an
// address chosen between two it is two plain loads.
template <typename Record>
uint64_t Pack(Record r) {
  static_assert(sizeof(Record) <= sizeof(uint64_t));
  uint64_t word = 0;
  std::memcpy(&word, &r, sizeof r);
  return word;
}
template <typename Record>
Record Unpack(const uint64_t* word) {
  Record r;
  std::memcpy(&r, word, sizeof r);
  return r;
}

class FieldColumn {
 public:
  // What the row serves, for the distinct value `at`: each accessor's
  // answer in an array of its own, so that a row touches only what the
  // filter asks for.
  struct View {
    const int32_t* kinds;  // GetValueKind: 1 integer (or no number), 0 real
    const int32_t* integers;
    const double* reals;
    const uint64_t* dates;  // a RowDate in the low bytes (Unpack)
    const uint64_t* times;  // a RowTime in the low bytes
    const uint32_t* texts;  // offsets of null-terminated texts in `text`
    const char16_t* text;
    const uint32_t* marks;  // offsets of the conditions' marks in `mark`
    const char* mark;
  };
  // Set in a row's index when its value forces a condition.
  static constexpr uint32_t kForces = 0x80000000u;

  // What was noted of the field's values, over all rows, as RowFeeder's
  // notes would count them row by row.
  struct Note {
    uint64_t count = 0;
    uint64_t first_row = 0;
    std::string first_cell;
    const char* wanted = "";
  };

  // The frame column `data` of kind `kind` serves `field` of `reader`
  // (name: the column's, for messages). Object cells are classified here;
  // throws TypeError naming the row of one that cannot be read. `index`
  // is storage for the rows' indexes, reused from call to call.
  FieldColumn(const std::string& name, ColumnKind kind, pybind11::array data,
              uint32_t field, const FieldReader& reader,
              std::vector<uint32_t>& index);
  // A field no column has: a missing value in each of `rows` rows.
  FieldColumn(uint32_t field, size_t rows, const FieldReader& reader,
              std::vector<uint32_t>& index);

  // Reads the distinct values. Call once, before view and At, without the
  // GIL. False when Ctrl-C came meanwhile (the column is then not ready).
  bool Read(FieldReader& reader);

  size_t rows() const { return rows_; }
  View view() const;
  // The distinct value of `row`, with kForces when it forces a condition.
  uint32_t At(size_t row) {
    switch (mode_) {
      case Mode::kDirect:
        integers_[0] = static_cast<int32_t>(ints_[row]);
        reals_[0] = integers_[0];
        return 0;
      case Mode::kIndexed:
        return (*index_)[row];
      case Mode::kConstant:
        break;
    }
    return constant_;
  }
  // The condition lines on the field; marks are in this order.
  const std::vector<uint32_t>& conditions() const { return conditions_; }
  const std::u16string& wide() const { return wide_; }
  // By eventquery::FeedNote::Kind: unreadable values, inexact ones, texts
  // that are no UTF-8.
  const Note& note(int kind) const { return notes_[kind]; }

 private:
  enum class Mode { kDirect, kIndexed, kConstant };

  // Numbers the distinct values of a typed column and renders each as the
  // text a file would hold.
  bool IndexTyped();
  // One distinct value first seen at `row`; its text starts at the end of
  // `cells_`.
  void AddDistinct(size_t row);

  pybind11::array data_;
  ColumnKind kind_ = ColumnKind::kText;
  uint32_t field_;
  Mode mode_ = Mode::kIndexed;
  size_t rows_ = 0;
  std::u16string wide_;
  std::vector<uint32_t> conditions_;
  bool number_only_ = false;
  const int64_t* ints_ = nullptr;
  uint32_t constant_ = 0;
  // Per row: its distinct value (and kForces).
  std::vector<uint32_t>* index_;
  // Per distinct value: its text (UTF-8, [start, start + size) of cells_),
  // whether there is one, and the first row that holds it.
  struct Distinct {
    uint64_t start = 0;
    uint64_t size = 0;
    bool present = false;
    uint64_t first_row = 0;
  };
  std::vector<Distinct> distinct_;
  std::string cells_;
  // Per distinct value, what the row serves (View).
  std::vector<int32_t> kinds_;
  std::vector<int32_t> integers_;
  std::vector<double> reals_;
  std::vector<uint64_t> dates_;
  std::vector<uint64_t> times_;
  std::vector<uint32_t> text_offsets_;
  std::u16string texts_;
  std::vector<uint32_t> mark_offsets_;
  std::string marks_;
  Note notes_[3];  // by eventquery::FeedNote::Kind
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_FIELDCOLUMN_H_
