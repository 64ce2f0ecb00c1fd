#include "FieldColumn.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "CellText.h"
#include "DistinctKeys.h"

namespace py = pybind11;

namespace fmpython {

namespace {

// Offsets into the readings' texts and marks are 32-bit.
void CheckOffset(size_t size, const char* what) {
  if (size > std::numeric_limits<uint32_t>::max() - 1)
    throw std::length_error(std::string("too many distinct ") + what +
                            " in one column for one mask");
}

}  // namespace

FieldColumn::FieldColumn(const std::string& name, ColumnKind kind,
                         py::array data, uint32_t field,
                         const FieldReader& reader)
    : data_(std::move(data)),
      kind_(kind),
      field_(field),
      rows_(static_cast<size_t>(data_.size())),
      wide_(reader.wide(field)),
      conditions_(reader.conditions(field)),
      number_only_(reader.number_only(field)) {
  CheckOffset(rows_, "rows");
  if (kind_ != ColumnKind::kText) return;  // indexed in Read, without the GIL
  const ObjectCells cells;
  DistinctKeys keys;
  auto* objects = static_cast<PyObject* const*>(data_.data());
  index_.resize(rows_);
  PyObject* last = nullptr;
  uint32_t last_number = 0;
  for (size_t r = 0; r < rows_; ++r) {
    PyObject* o = objects[r];
    // Runs of one object (a sorted or repeated column) skip the table.
    if (r > 0 && o == last) {
      index_[r] = last_number;
      ++distinct_[last_number].rows;
      continue;
    }
    bool added = false;
    const uint32_t number = keys.Find(reinterpret_cast<uintptr_t>(o), &added);
    if (added) {
      AddDistinct(r, false);
      switch (cells.Append(o, cells_)) {
        case ObjectCells::Outcome::kText:
          distinct_.back().present = true;
          break;
        case ObjectCells::Outcome::kMissing:
          break;
        case ObjectCells::Outcome::kUnsupported:
          throw py::type_error("column '" + name + "', row " +
                               std::to_string(r) + ": " +
                               ObjectCells::Unsupported(o));
      }
      distinct_.back().size = cells_.size() - distinct_.back().start;
    }
    ++distinct_[number].rows;
    index_[r] = number;
    last = o;
    last_number = number;
  }
}

FieldColumn::FieldColumn(uint32_t field, size_t rows, const FieldReader& reader)
    : field_(field),
      mode_(Mode::kConstant),
      rows_(rows),
      wide_(reader.wide(field)),
      conditions_(reader.conditions(field)) {
  AddDistinct(0, false);
}

void FieldColumn::AddDistinct(size_t row, bool present) {
  Distinct d;
  d.start = cells_.size();
  d.present = present;
  d.first_row = row;
  distinct_.push_back(d);
}

void FieldColumn::IndexTyped() {
  const void* base = data_.data();
  if (kind_ == ColumnKind::kInt64 && number_only_) {
    ints_ = static_cast<const int64_t*>(base);
    int64_t low = 0, high = 0;
    for (size_t r = 0; r < rows_; ++r) {
      low = std::min(low, ints_[r]);
      high = std::max(high, ints_[r]);
    }
    if (low >= std::numeric_limits<int32_t>::min() &&
        high <= std::numeric_limits<int32_t>::max()) {
      mode_ = Mode::kDirect;
      return;
    }
  }
  // Every NaN is the one missing value; other doubles by their bits.
  constexpr uint64_t kNaNKey = 0x7ff8000000000000ull;
  auto key_of = [this, base](size_t r) -> uint64_t {
    switch (kind_) {
      case ColumnKind::kFloat64: {
        const double v = static_cast<const double*>(base)[r];
        if (std::isnan(v)) return kNaNKey;
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return bits;
      }
      case ColumnKind::kBool:
        return static_cast<const bool*>(base)[r] ? 1 : 0;
      default:
        return static_cast<uint64_t>(static_cast<const int64_t*>(base)[r]);
    }
  };
  DistinctKeys keys;
  index_.resize(rows_);
  std::string text;
  uint64_t last = 0;
  uint32_t last_number = 0;
  for (size_t r = 0; r < rows_; ++r) {
    const uint64_t key = key_of(r);
    if (r > 0 && key == last) {
      index_[r] = last_number;
      ++distinct_[last_number].rows;
      continue;
    }
    bool added = false;
    const uint32_t number = keys.Find(key, &added);
    if (added) {
      bool present = true;
      switch (kind_) {
        case ColumnKind::kFloat64: {
          const double v = static_cast<const double*>(base)[r];
          present = !std::isnan(v);
          if (present) RenderDouble(v, text);
          break;
        }
        case ColumnKind::kBool:
          text = key != 0 ? "true" : "false";
          break;
        case ColumnKind::kDatetime:
          present = static_cast<int64_t>(key) != kNotATime;
          if (present) RenderTimestamp(static_cast<int64_t>(key), text);
          break;
        default:
          RenderInt64(static_cast<int64_t>(key), text);
          break;
      }
      AddDistinct(r, present);
      if (present) cells_.append(text);
      distinct_.back().size = cells_.size() - distinct_.back().start;
    }
    ++distinct_[number].rows;
    index_[r] = number;
    last = key;
    last_number = number;
  }
}

void FieldColumn::Read(FieldReader& reader) {
  if (mode_ == Mode::kConstant)
    distinct_[0].rows = rows_;
  else if (kind_ != ColumnKind::kText)
    IndexTyped();
  if (mode_ == Mode::kDirect) return;
  texts_.assign(1, u'\0');  // offset 0: the empty text
  readings_.clear();
  readings_.reserve(distinct_.size());
  const char16_t* field = wide_.c_str();
  for (const Distinct& d : distinct_) {
    std::optional<std::string_view> cell;
    if (d.present) cell = std::string_view(cells_).substr(d.start, d.size);
    reader.Read(field_, cell);
    memhost::MemoryDataRow& row = reader.row();
    Reading& r = readings_.emplace_back();
    r.kind = row.GetValueKind(field);
    r.integer = row.GetInteger(field);
    r.real = row.GetReal(field);
    r.date = row.GetDate(field);
    r.time = row.GetTime(field);
    if (const char16_t* text = row.GetText(field); text && *text) {
      r.text = static_cast<uint32_t>(texts_.size());
      texts_.append(text);
      texts_.push_back(u'\0');
      CheckOffset(texts_.size(), "texts");
    }
    const std::string& forced = reader.forced();
    bool any = false;
    for (uint32_t c : conditions_) any = any || forced[c] != evfilter::kLoaded;
    if (any) {
      r.marks = static_cast<uint32_t>(marks_.size());
      for (uint32_t c : conditions_) marks_.push_back(forced[c]);
      CheckOffset(marks_.size(), "values");
    }
    // Each row holding the value would have noted the same: count them
    // all, and keep the first row's cell.
    for (const evfilter::FeedNote& n : reader.notes()) {
      Note& note = notes_[n.kind == evfilter::FeedNote::kUnreadable ? 0 : 1];
      if (note.count == 0 || d.first_row < note.first_row) {
        note.first_row = d.first_row;
        note.first_cell = n.cell;
        note.wanted = n.wanted;
      }
      note.count += d.rows;
    }
  }
}

}  // namespace fmpython
