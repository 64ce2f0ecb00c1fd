#include "FieldColumn.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "CellText.h"
#include "DistinctKeys.h"
#include "Interrupts.h"

namespace py = pybind11;

namespace fmpython {

namespace {

// Offsets into the readings' texts and marks are 32-bit, and distinct
// values are numbered below kForces.
void CheckSize(size_t size, size_t limit, const char* what) {
  if (size >= limit)
    throw std::length_error(std::string("too many ") + what +
                            " in one column for one mask");
}
constexpr size_t kMaxOffset = std::numeric_limits<uint32_t>::max();

}  // namespace

FieldColumn::FieldColumn(const std::string& name, ColumnKind kind,
                         py::array data, uint32_t field,
                         const FieldReader& reader,
                         std::vector<uint32_t>& index)
    : data_(std::move(data)),
      kind_(kind),
      field_(field),
      rows_(static_cast<size_t>(data_.size())),
      wide_(reader.wide(field)),
      conditions_(reader.conditions(field)),
      number_only_(reader.number_only(field)),
      index_(&index) {
  CheckSize(rows_, kMaxOffset, "rows");
  if (kind_ != ColumnKind::kText) return;  // indexed in Read, without the GIL
  ObjectCells cells;
  DistinctKeys keys;
  auto* objects = static_cast<PyObject* const*>(data_.data());
  std::vector<uint32_t>& rows = *index_;
  rows.resize(rows_);
  PyObject* last = nullptr;
  uint32_t last_number = 0;
  // Reading a cell may run Python code (isoformat, str of an int subclass)
  // that replaces cells of the frame: every object numbered stays alive
  // until the scan ends, so that no new object takes its address.
  std::vector<py::object> held;
  // The table's entry for a row a few ahead is fetched while this one is
  // looked up: a column of many values misses the cache on most rows.
  constexpr size_t kAhead = 8;
  for (size_t r = 0; r < rows_; ++r) {
    if (TimeToCheck(r)) CheckSignals();
    if (r + kAhead < rows_)
      keys.Prefetch(reinterpret_cast<uintptr_t>(objects[r + kAhead]));
    PyObject* o = objects[r];
    // Runs of one object (a sorted or repeated column) skip the table.
    if (r > 0 && o == last) {
      rows[r] = last_number;
      continue;
    }
    bool added = false;
    const uint32_t number = keys.Find(reinterpret_cast<uintptr_t>(o), &added);
    if (added) {
      held.push_back(py::reinterpret_borrow<py::object>(o));
      AddDistinct(r);
      try {
        distinct_.back().present =
            cells.Append(o, cells_) == ObjectCells::Outcome::kText;
      } catch (const UnreadableObject& e) {
        throw py::type_error("column '" + name + "', row " + std::to_string(r) +
                             ": " + e.what());
      }
      distinct_.back().size = cells_.size() - distinct_.back().start;
    }
    rows[r] = number;
    last = o;
    last_number = number;
  }
}

FieldColumn::FieldColumn(uint32_t field, size_t rows, const FieldReader& reader,
                         std::vector<uint32_t>& index)
    : field_(field),
      mode_(Mode::kConstant),
      rows_(rows),
      wide_(reader.wide(field)),
      conditions_(reader.conditions(field)),
      index_(&index) {
  AddDistinct(0);
}

void FieldColumn::AddDistinct(size_t row) {
  CheckSize(distinct_.size(), kForces, "distinct values");
  Distinct d;
  d.start = cells_.size();
  d.first_row = row;
  distinct_.push_back(d);
}

bool FieldColumn::IndexTyped() {
  const void* base = data_.data();
  if (kind_ == ColumnKind::kInt64 && number_only_) {
    ints_ = static_cast<const int64_t*>(base);
    // A value fits 32 bits when adding 2^31 leaves the high word zero;
    // or-ing those words vectorises where a 64-bit min and max do not.
    uint64_t beyond = 0;
    for (size_t r = 0; r < rows_; ++r)
      beyond |= (static_cast<uint64_t>(ints_[r]) + 0x80000000u) >> 32;
    if (beyond == 0) {
      // One reading, whose number At rewrites for each row.
      mode_ = Mode::kDirect;
      kinds_.assign(1, 1);
      integers_.assign(1, 0);
      reals_.assign(1, 0);
      dates_.assign(1, Pack(RowDate{0, 0, 0}));
      times_.assign(1, Pack(RowTime{0, 0, 0}));
      text_offsets_.assign(1, 0);
      texts_.assign(1, u'\0');
      mark_offsets_.assign(1, 0);
      return true;
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
  std::vector<uint32_t>& rows = *index_;
  rows.resize(rows_);
  std::string text;
  uint64_t last = 0;
  uint32_t last_number = 0;
  for (size_t r = 0; r < rows_; ++r) {
    if (TimeToCheck(r) && SignalRaised()) return false;
    const uint64_t key = key_of(r);
    if (r > 0 && key == last) {
      rows[r] = last_number;
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
      AddDistinct(r);
      distinct_.back().present = present;
      if (present) cells_.append(text);
      distinct_.back().size = cells_.size() - distinct_.back().start;
    }
    rows[r] = number;
    last = key;
    last_number = number;
  }
  return true;
}

bool FieldColumn::Read(FieldReader& reader) {
  if (mode_ != Mode::kConstant && kind_ != ColumnKind::kText && !IndexTyped())
    return false;
  if (mode_ == Mode::kDirect) return true;
  const size_t n = distinct_.size();
  kinds_.resize(n);
  integers_.resize(n);
  reals_.resize(n);
  dates_.resize(n);
  times_.resize(n);
  text_offsets_.assign(n, 0);
  mark_offsets_.assign(n, 0);
  texts_.assign(1, u'\0');  // offset 0: the empty text
  std::vector<bool> forces(n, false);
  struct Noted {
    uint32_t value;
    eventquery::FeedNote::Kind kind;
    const char* wanted;
    std::string cell;
  };
  std::vector<Noted> noted;
  const char16_t* field = wide_.c_str();
  for (size_t v = 0; v < n; ++v) {
    if (TimeToCheck(v) && SignalRaised()) return false;
    const Distinct& d = distinct_[v];
    std::optional<std::string_view> cell;
    if (d.present) cell = std::string_view(cells_).substr(d.start, d.size);
    reader.Read(field_, cell);
    memhost::MemoryDataRow& row = reader.row();
    kinds_[v] = row.GetValueKind(field);
    integers_[v] = row.GetInteger(field);
    reals_[v] = row.GetReal(field);
    dates_[v] = Pack(row.GetDate(field));
    times_[v] = Pack(row.GetTime(field));
    if (const char16_t* text = row.GetText(field); text && *text) {
      text_offsets_[v] = static_cast<uint32_t>(texts_.size());
      texts_.append(text);
      texts_.push_back(u'\0');
      CheckSize(texts_.size(), kMaxOffset, "texts");
    }
    const std::string& forced = reader.forced();
    for (uint32_t c : conditions_)
      forces[v] = forces[v] || forced[c] != eventquery::kLoaded;
    if (forces[v]) {
      mark_offsets_[v] = static_cast<uint32_t>(marks_.size());
      for (uint32_t c : conditions_) marks_.push_back(forced[c]);
      CheckSize(marks_.size(), kMaxOffset, "marks");
    }
    for (const eventquery::FeedNote& note : reader.notes())
      noted.push_back(
          {static_cast<uint32_t>(v), note.kind, note.wanted, note.cell});
  }
  // Each row holding a noted value would have noted the same: count the
  // rows of each value (only now, and only when there are notes, so that
  // numbering the rows writes nothing per value), and keep the first
  // row's cell.
  if (!noted.empty()) {
    std::vector<uint64_t> count(n, 0);
    if (mode_ == Mode::kConstant)
      count[0] = rows_;
    else
      for (uint32_t r : *index_) ++count[r];
    for (const Noted& note : noted) {
      const Distinct& d = distinct_[note.value];
      Note& to = notes_[note.kind];
      if (to.count == 0 || d.first_row < to.first_row) {
        to.first_row = d.first_row;
        to.first_cell = note.cell;
        to.wanted = note.wanted;
      }
      to.count += count[note.value];
    }
  }
  // Rows whose value forces a condition say so in their index, so that a
  // row is checked without reading its value's marks.
  if (mode_ == Mode::kConstant) {
    constant_ = forces[0] ? kForces : 0;
    return true;
  }
  bool any = false;
  for (size_t v = 0; v < n; ++v) any = any || forces[v];
  if (!any) return true;
  for (uint32_t& r : *index_)
    if (forces[r]) r |= kForces;
  return true;
}

FieldColumn::View FieldColumn::view() const {
  return {kinds_.data(), integers_.data(),     reals_.data(),
          dates_.data(), times_.data(),        text_offsets_.data(),
          texts_.data(), mark_offsets_.data(), marks_.data()};
}

}  // namespace fmpython
