#include "FrameFilter.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <stdexcept>

#include "ColumnRow.h"
#include "FieldColumn.h"
#include "Interrupts.h"
#include "JsonValues.h"
#include "TextColumn.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/Record.h"

namespace py = pybind11;

namespace fmpython {
namespace {

// The name the package's warnings go by, per eventquery::FeedNote::Kind.
const char* KindName(int kind) {
  switch (kind) {
    case eventquery::FeedNote::kUnreadable:
      return "unreadable";
    case eventquery::FeedNote::kInexact:
      return "inexact";
    default:
      return "not utf-8";
  }
}

// The array of column `c`, which the filter reads and so must be given,
// checked to be fit for its kind and to hold `rows` rows before anything
// reads it.
const py::array& Given(const std::vector<std::string>& names,
                       const std::vector<std::string>& kinds,
                       const std::vector<std::optional<py::array>>& arrays,
                       size_t c, size_t rows) {
  if (!arrays[c])
    throw std::invalid_argument("column '" + names[c] + "' not given");
  CheckColumn(names[c], kinds[c], *arrays[c]);
  const auto got = static_cast<size_t>(arrays[c]->size());
  if (got != rows)
    throw std::invalid_argument("column '" + names[c] + "' has " +
                                std::to_string(got) + " rows, not " +
                                std::to_string(rows));
  return *arrays[c];
}

bool AllNone(const py::array& cells) {
  auto* objects = static_cast<PyObject* const*>(cells.data());
  for (py::ssize_t r = 0; r < cells.size(); ++r)
    if (objects[r] != Py_None) return false;
  return true;
}

}  // namespace

FrameFilter::FrameFilter(std::vector<eventquery::ConditionLine> lines, bool utc)
    : lines_(std::move(lines)),
      zone_(utc ? eventquery::Zone::kUtc : eventquery::Zone::kLocal),
      matcher_(lines_, zone_),  // throws BuildError
      text_(matcher_.variants().base_build().text_form()),
      fields_(matcher_.feeder().field_names()),
      reader_(lines_, zone_) {
  // Mask numbers its columns as the reader numbers its fields.
  if (reader_.fields() != fields_.size())
    throw std::logic_error("the filter reads fields it does not name");
  for (uint32_t f = 0; f < reader_.fields(); ++f)
    if (reader_.name(f) != fields_[f])
      throw std::logic_error("the fields of the filter are out of order");
}

std::vector<FrameFilter::Place> FrameFilter::Places(
    const std::vector<std::string>& names) const {
  std::vector<Place> places(fields_.size());
  for (size_t f = 0; f < fields_.size(); ++f) {
    Place& p = places[f];
    const std::string& field = fields_[f];
    for (size_t c = 0; c < names.size() && p.column < 0; ++c)
      if (names[c] == field) p.column = static_cast<int64_t>(c);
    // As a JSON reader looks a dotted name up in an object: the key of the
    // whole name first, then splits at each dot, left to right, the part
    // before it naming a key exactly.
    for (size_t dot = field.find('.'); dot != std::string::npos;
         dot = field.find('.', dot + 1))
      for (size_t c = 0; c < names.size(); ++c)
        if (names[c] == std::string_view(field).substr(0, dot))
          p.ways.emplace_back(c, field.substr(dot + 1));
    if (p.column >= 0 || !p.ways.empty()) continue;
    for (size_t c = 0; c < names.size() && p.column < 0; ++c)
      if (common::EqualsNoCase(names[c], field))
        p.column = static_cast<int64_t>(c);
  }
  return places;
}

std::vector<std::optional<FrameFilter::Column>> FrameFilter::Columns(
    size_t rows, const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays,
    Missing* missing) const {
  if (names.size() != kinds.size() || names.size() != arrays.size())
    throw std::invalid_argument("names, kinds and arrays differ in length");
  std::vector<std::optional<Column>> columns(fields_.size());
  const std::vector<Place> places = Places(names);
  for (size_t f = 0; f < fields_.size(); ++f) {
    const Place& p = places[f];
    // A column of the whole name is read as it is; where it also has ways
    // into other columns, a row it lacks a value for tries them, as a JSON
    // record without the key does (a datetime column has no value to lack
    // but NaT, and is read as it is).
    if (p.column >= 0 && (p.ways.empty() ||
                          kinds[static_cast<size_t>(p.column)] == "datetime")) {
      const auto c = static_cast<size_t>(p.column);
      columns[f] =
          Column{names[c], kinds[c], Given(names, kinds, arrays, c, rows)};
      continue;
    }
    const bool implicit =
        matcher_.feeder().field_implicit(static_cast<uint32_t>(f));
    if (p.column < 0 && p.ways.empty()) {
      if (!implicit) missing->emplace_back(fields_[f], "");
      continue;
    }
    std::vector<PathStep> steps;
    std::string held_by;
    if (p.column >= 0) {
      const auto c = static_cast<size_t>(p.column);
      py::array values = Given(names, kinds, arrays, c, rows);
      // Numbers and booleans as the objects they are; NaN is no value.
      if (kinds[c] != "text") values = values.attr("astype")("object");
      steps.push_back({names[c], values, ""});
      held_by = "'" + names[c] + "'";
    }
    for (const auto& [c, path] : p.ways) {
      const py::array& values = Given(names, kinds, arrays, c, rows);
      held_by += (held_by.empty() ? "'" : ", '") + names[c] + "'";
      // Only objects hold paths.
      if (kinds[c] == "text") steps.push_back({names[c], values, path});
    }
    py::array cells = CellsAtPath(steps, rows);
    if (rows > 0 && AllNone(cells))
      missing->emplace_back(
          fields_[f], "no value of the column(s) " + held_by + " holds it");
    columns[f] = Column{fields_[f], "text", std::move(cells)};
  }
  return columns;
}

py::tuple FrameFilter::Mask(
    size_t rows, const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays) {
  Missing missing;
  const std::vector<std::optional<Column>> given =
      Columns(rows, names, kinds, arrays, &missing);
  std::vector<std::unique_ptr<FieldColumn>> columns(fields_.size());
  // The rows' indexes of one call are kept for the next: a new buffer of
  // that size would be fresh pages, zeroed by the kernel on first touch.
  // Taken and given back with the GIL held, so that a thread sharing the
  // filter never fills the buffers of another.
  std::vector<std::vector<uint32_t>> index_buffers;
  index_buffers.swap(index_buffers_);
  index_buffers.resize(fields_.size());
  for (size_t s = 0; s < fields_.size(); ++s) {
    const auto field = static_cast<uint32_t>(s);
    if (!given[s]) {
      columns[s] =
          std::make_unique<FieldColumn>(field, rows, reader_, index_buffers[s]);
      continue;
    }
    const Column& c = *given[s];
    const ColumnKind kind = CheckColumn(c.name, c.kind, c.array);
    columns[s] = std::make_unique<FieldColumn>(c.name, kind, c.array, field,
                                               reader_, index_buffers[s]);
  }
  py::array_t<bool> result(static_cast<py::ssize_t>(rows));
  bool* out = result.mutable_data();
  Notes notes;
  bool interrupted = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FieldColumn*> fields;
    for (auto& c : columns) {
      if (!c->Read(reader_)) {
        interrupted = true;
        break;
      }
      fields.push_back(c.get());
    }
    ColumnRow row(std::move(fields));
    eventquery::FilterVariants& variants = matcher_.variants();
    IFilter* base = variants.base();
    size_t built = variants.variants_built();
    for (size_t r = 0; r < rows && !interrupted; ++r) {
      if (TimeToCheck(r) && SignalRaised()) {
        interrupted = true;
        break;
      }
      if (!row.Seek(r)) {
        out[r] = base->IsMatch(&row);
        continue;
      }
      row.Marks(lines_.size(), forced_);
      IFilter* variant = variants.For(forced_);
      // A variant built may have replaced others, whose field-name texts
      // the row remembers by address.
      if (variants.variants_built() != built) {
        built = variants.variants_built();
        row.ForgetFieldNames();
      }
      out[r] = variant->IsMatch(&row);
    }
    for (uint32_t s = 0; s < columns.size(); ++s)
      for (int kind = 0; kind < 3; ++kind) {
        const FieldColumn::Note& n = columns[s]->note(kind);
        if (n.count == 0) continue;
        notes[{s, kind}] = {fields_[s], KindName(kind), n.wanted,
                            n.count,    n.first_row,    n.first_cell};
      }
  }
  columns.clear();
  index_buffers_.swap(index_buffers);
  if (interrupted) throw py::error_already_set();  // KeyboardInterrupt
  return py::make_tuple(result, NoteList(notes), missing);
}

py::tuple FrameFilter::MaskByText(
    size_t rows, const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays) {
  return ByText(rows, names, kinds, arrays, false);
}

py::tuple FrameFilter::ByText(
    size_t rows, const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays, bool record) {
  Missing missing;
  const std::vector<std::optional<Column>> given =
      Columns(rows, names, kinds, arrays, &missing);
  std::vector<std::unique_ptr<TextColumn>> columns(fields_.size());
  for (size_t s = 0; s < fields_.size(); ++s)
    if (given[s])
      columns[s] = std::make_unique<TextColumn>(given[s]->name, given[s]->kind,
                                                given[s]->array, record);
  py::array_t<bool> result(static_cast<py::ssize_t>(rows));
  bool* out = result.mutable_data();
  Notes notes;
  bool interrupted = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    eventquery::Record r;
    r.cells.resize(fields_.size());
    std::vector<std::string> scratch(fields_.size());
    std::vector<eventquery::FeedNote> row_notes;
    for (size_t row = 0; row < rows; ++row) {
      if (TimeToCheck(row) && SignalRaised()) {
        interrupted = true;
        break;
      }
      for (size_t s = 0; s < fields_.size(); ++s)
        r.cells[s] =
            columns[s] ? columns[s]->Cell(row, scratch[s]) : std::nullopt;
      row_notes.clear();
      out[row] = matcher_.Match(r, fields_, &row_notes);
      if (!row_notes.empty()) Count(row_notes, row, notes);
    }
  }
  if (interrupted) throw py::error_already_set();  // KeyboardInterrupt
  return py::make_tuple(result, NoteList(notes), missing);
}

std::vector<int64_t> FrameFilter::Needed(
    const std::vector<std::string>& names) const {
  std::vector<int64_t> out;
  for (const Place& p : Places(names)) {
    if (p.column >= 0) out.push_back(p.column);
    for (const auto& way : p.ways)
      out.push_back(static_cast<int64_t>(way.first));
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

py::tuple FrameFilter::Match(const std::vector<std::string>& names,
                             py::array values) {
  if (static_cast<size_t>(values.size()) != names.size())
    throw std::invalid_argument("names and values differ in length");
  // A frame of one row, one column per field of the record.
  const std::vector<std::string> kinds(names.size(), "text");
  std::vector<std::optional<py::array>> arrays;
  for (size_t i = 0; i < names.size(); ++i)
    arrays.emplace_back(values[py::slice(static_cast<py::ssize_t>(i),
                                         static_cast<py::ssize_t>(i + 1), 1)]);
  const py::tuple decided = ByText(1, names, kinds, arrays, true);
  return py::make_tuple(decided[0].cast<py::array_t<bool>>().at(0), decided[1],
                        decided[2]);
}

std::vector<std::pair<int32_t, int32_t>> FrameFilter::Intervals(
    const std::string& field) {
  std::vector<std::pair<int32_t, int32_t>> out;
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(mutex_);
  INumericIntervalCollection* set =
      matcher_.variants().base()->GetNumericIntervals(
          common::ToUtf16(field).c_str());
  struct Releaser {
    INumericIntervalCollection* set;
    ~Releaser() { set->Release(); }
  } releaser{set};
  for (uint32_t i = 0; i < set->GetCount(); ++i) {
    INumericInterval* x = set->GetAt(static_cast<int32_t>(i));
    out.emplace_back(x->GetLower(), x->GetUpper());
  }
  return out;
}

void FrameFilter::Count(const std::vector<eventquery::FeedNote>& row_notes,
                        size_t row, Notes& notes) const {
  for (const eventquery::FeedNote& n : row_notes) {
    NoteCount& c = notes[{n.field, static_cast<int>(n.kind)}];
    if (c.count++ == 0) {
      c.field = fields_[n.field];
      c.kind = KindName(n.kind);
      c.wanted = n.wanted;
      c.first_row = row;
      c.first_cell = n.cell;
    }
  }
}

py::list FrameFilter::NoteList(const Notes& notes) {
  py::list out;
  for (const auto& [key, n] : notes)
    out.append(py::make_tuple(n.field, n.kind, n.wanted, n.count, n.first_row,
                              n.first_cell));
  return out;
}

}  // namespace fmpython
