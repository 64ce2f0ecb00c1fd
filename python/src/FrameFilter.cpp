#include "FrameFilter.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <stdexcept>

#include "ColumnRow.h"
#include "FieldColumn.h"
#include "TextColumn.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/Record.h"

namespace py = pybind11;

namespace fmpython {
namespace {

// The array of column `c`, which the filter reads and so must be given,
// checked to hold `rows` rows.
const py::array& Given(const std::vector<std::string>& names,
                       const std::vector<std::optional<py::array>>& arrays,
                       size_t c, size_t rows) {
  if (!arrays[c])
    throw std::invalid_argument("column '" + names[c] + "' not given");
  const auto got = static_cast<size_t>(arrays[c]->size());
  if (got != rows)
    throw std::invalid_argument("column '" + names[c] + "' has " +
                                std::to_string(got) + " rows, not " +
                                std::to_string(rows));
  return *arrays[c];
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

std::vector<int64_t> FrameFilter::Sources(
    const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays) const {
  if (names.size() != kinds.size() || names.size() != arrays.size())
    throw std::invalid_argument("names, kinds and arrays differ in length");
  return Resolve(names);
}

py::tuple FrameFilter::Mask(
    size_t rows, const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays) {
  const std::vector<int64_t> source = Sources(names, kinds, arrays);
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
    if (source[s] < 0) {
      columns[s] =
          std::make_unique<FieldColumn>(field, rows, reader_, index_buffers[s]);
      continue;
    }
    const auto c = static_cast<size_t>(source[s]);
    const py::array& array = Given(names, arrays, c, rows);
    const ColumnKind kind = CheckColumn(names[c], kinds[c], array);
    columns[s] = std::make_unique<FieldColumn>(names[c], kind, array, field,
                                               reader_, index_buffers[s]);
  }
  py::array_t<bool> result(static_cast<py::ssize_t>(rows));
  bool* out = result.mutable_data();
  Notes notes;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FieldColumn*> fields;
    for (auto& c : columns) {
      c->Read(reader_);
      fields.push_back(c.get());
    }
    ColumnRow row(std::move(fields));
    eventquery::FilterVariants& variants = matcher_.variants();
    IFilter* base = variants.base();
    size_t built = variants.variants_built();
    for (size_t r = 0; r < rows; ++r) {
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
      for (int kind = 0; kind < 2; ++kind) {
        const FieldColumn::Note& n = columns[s]->note(kind);
        if (n.count == 0) continue;
        notes[{s, kind}] = {fields_[s],  kind == 0 ? "unreadable" : "inexact",
                            n.wanted,    n.count,
                            n.first_row, n.first_cell};
      }
  }
  columns.clear();
  index_buffers_.swap(index_buffers);
  return py::make_tuple(result, NoteList(notes), Missing(source));
}

py::tuple FrameFilter::MaskByText(
    size_t rows, const std::vector<std::string>& names,
    const std::vector<std::string>& kinds,
    const std::vector<std::optional<py::array>>& arrays) {
  const std::vector<int64_t> source = Sources(names, kinds, arrays);
  std::vector<std::unique_ptr<TextColumn>> columns(fields_.size());
  for (size_t s = 0; s < fields_.size(); ++s) {
    if (source[s] < 0) continue;
    const auto c = static_cast<size_t>(source[s]);
    columns[s] = std::make_unique<TextColumn>(names[c], kinds[c],
                                              Given(names, arrays, c, rows));
  }
  py::array_t<bool> result(static_cast<py::ssize_t>(rows));
  bool* out = result.mutable_data();
  Notes notes;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    eventquery::Record record;
    record.cells.resize(fields_.size());
    std::vector<std::string> scratch(fields_.size());
    std::vector<eventquery::FeedNote> row_notes;
    for (size_t r = 0; r < rows; ++r) {
      for (size_t s = 0; s < fields_.size(); ++s)
        record.cells[s] =
            columns[s] ? columns[s]->Cell(r, scratch[s]) : std::nullopt;
      row_notes.clear();
      out[r] = matcher_.Match(record, fields_, &row_notes);
      if (!row_notes.empty()) Count(row_notes, r, notes);
    }
  }
  return py::make_tuple(result, NoteList(notes), Missing(source));
}

std::vector<int64_t> FrameFilter::Needed(
    const std::vector<std::string>& names) const {
  std::vector<int64_t> out;
  for (int64_t c : Resolve(names))
    if (c >= 0 && std::find(out.begin(), out.end(), c) == out.end())
      out.push_back(c);
  std::sort(out.begin(), out.end());
  return out;
}

py::tuple FrameFilter::Match(const std::vector<std::string>& names,
                             py::array values) {
  const std::vector<int64_t> source = Resolve(names);
  TextColumn column("record", "text", std::move(values), &names);
  Notes notes;
  bool matched = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    eventquery::Record record;
    record.cells.resize(fields_.size());
    std::string scratch;
    for (size_t s = 0; s < fields_.size(); ++s)
      if (source[s] >= 0)
        record.cells[s] = column.Cell(static_cast<size_t>(source[s]), scratch);
    std::vector<eventquery::FeedNote> row_notes;
    matched = matcher_.Match(record, fields_, &row_notes);
    Count(row_notes, 0, notes);
  }
  return py::make_tuple(matched, NoteList(notes));
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

std::vector<int64_t> FrameFilter::Resolve(
    const std::vector<std::string>& names) const {
  std::vector<int64_t> source(fields_.size(), -1);
  for (size_t s = 0; s < fields_.size(); ++s) {
    for (size_t c = 0; c < names.size() && source[s] < 0; ++c)
      if (names[c] == fields_[s]) source[s] = static_cast<int64_t>(c);
    for (size_t c = 0; c < names.size() && source[s] < 0; ++c)
      if (common::EqualsNoCase(names[c], fields_[s]))
        source[s] = static_cast<int64_t>(c);
  }
  return source;
}

void FrameFilter::Count(const std::vector<eventquery::FeedNote>& row_notes,
                        size_t row, Notes& notes) const {
  for (const eventquery::FeedNote& n : row_notes) {
    NoteCount& c = notes[{n.field, static_cast<int>(n.kind)}];
    if (c.count++ == 0) {
      c.field = fields_[n.field];
      c.kind = n.kind == eventquery::FeedNote::kUnreadable ? "unreadable"
                                                           : "inexact";
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

std::vector<std::string> FrameFilter::Missing(
    const std::vector<int64_t>& source) const {
  std::vector<std::string> out;
  for (size_t s = 0; s < fields_.size(); ++s)
    if (source[s] < 0 &&
        !matcher_.feeder().field_implicit(static_cast<uint32_t>(s)))
      out.push_back(fields_[s]);
  return out;
}

}  // namespace fmpython
