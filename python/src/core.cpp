// filtermodule._core: the filter module for Python.
//
// A Filter is compiled by evfilter's expression compiler or read from
// definition lines, built whole by the module (a build that writes any
// error line raises BuildError, never a partial filter), and decides
// records exactly as `evfilter match` does: every cell a condition needs is
// read by evfilter's cell readers (RowFeeder) and a condition whose value a
// record cannot serve runs in a filter variant where it is decided before
// its NOT (FilterVariants).
//
// Frames arrive as prepared columns (see filtermodule/__init__.py): int64,
// float64, bool and datetime64[ns] arrays read in place, object arrays
// whose objects are classified with the GIL held. Mask reads each distinct
// value of a column once, as evfilter reads the text a file written from
// the frame would hold (FieldColumn), and then decides the rows in order,
// without the GIL, on a row that serves those readings by index
// (ColumnRow). mask_by_text, the earlier way and the reference for tests,
// renders every cell as text and feeds the row from it (TextColumn), as
// match does for one record.
//
// Thread safety: a Filter is used by one thread at a time; its calls take
// the filter's own lock (after the GIL is released), so threads sharing one
// Filter wait for each other, and threads with their own Filters run at
// once.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ColumnRow.h"
#include "FieldColumn.h"
#include "FieldReader.h"
#include "TextColumn.h"
#include "evfilter/CellReaders.h"
#include "evfilter/Definition.h"
#include "evfilter/FilterBuild.h"
#include "evfilter/RecordReaders.h"
#include "evfilter/RowFeeder.h"
#include "evfilter/WhereCompiler.h"
#include "memory_host/MemoryDataRow.h"
#include "textconv/Utf8.h"

namespace py = pybind11;
using fmpython::ColumnKind;
using fmpython::ColumnRow;
using fmpython::FieldColumn;
using fmpython::TextColumn;
using memhost::LineSpec;

namespace {

// Raised for an expression that does not compile; a ValueError with the
// 1-based column of the error as `column`.
PyObject* g_expression_error = nullptr;
PyObject* g_build_error = nullptr;

// ----------------------------------------------------------------- filter

// What the cell readers noticed, counted per field and kind.
struct NoteCount {
  std::string field;
  std::string kind;  // "unreadable" or "inexact"
  std::string wanted;
  uint64_t count = 0;
  uint64_t first_row = 0;
  std::string first_cell;
};

class Filter {
 public:
  Filter(std::vector<LineSpec> lines, bool utc)
      : lines_(std::move(lines)),
        zone_(utc ? evfilter::Zone::kUtc : evfilter::Zone::kLocal) {
    evfilter::BuiltFilter checked(lines_);  // throws BuildError
    text_ = TextForm(checked.build_records());
    variants_ = std::make_unique<evfilter::FilterVariants>(lines_);
    // The feeder sees a fixed column list, one per field the filter names
    // (each resolves to itself); Mask and Match map frame columns onto it.
    for (const LineSpec& line : lines_) {
      AddSlot(textconv::ToUtf8(line.field), false);
      if (line.type == 1 &&
          evfilter::EqualsNoCase(textconv::ToUtf8(line.field), "REL_EXT_TAGS"))
        AddSlot("EXT_TAGS", true);
    }
    feeder_ = std::make_unique<evfilter::RowFeeder>(lines_, zone_);
    reader_ = std::make_unique<fmpython::FieldReader>(lines_, zone_);
    // Mask numbers its columns as the reader numbers its fields.
    for (uint32_t f = 0; f < reader_->fields(); ++f)
      if (f >= slots_.size() || reader_->name(f) != slots_[f].name)
        throw std::logic_error("the fields of the filter are out of order");
    if (reader_->fields() != slots_.size())
      throw std::logic_error("the filter reads fields it does not name");
  }

  const std::vector<LineSpec>& lines() const { return lines_; }
  const std::string& text() const { return text_; }
  bool utc() const { return zone_ == evfilter::Zone::kUtc; }

  // One result per row of the columns; notes and the fields no column has
  // come back alongside.
  py::tuple Mask(size_t rows, const std::vector<std::string>& names,
                 const std::vector<std::string>& kinds,
                 const std::vector<std::optional<py::array>>& arrays) {
    if (names.size() != kinds.size() || names.size() != arrays.size())
      throw std::invalid_argument("names, kinds and arrays differ in length");
    // Only the columns the filter reads are prepared (and given).
    std::vector<int64_t> source = Resolve(names);
    std::vector<std::unique_ptr<FieldColumn>> columns(slots_.size());
    // The rows' indexes of one call are kept for the next: a new buffer of
    // that size would be fresh pages, zeroed by the kernel on first touch.
    // Taken and given back with the GIL held, so that a thread sharing the
    // filter never fills the buffers of another.
    std::vector<std::vector<uint32_t>> index_buffers;
    index_buffers.swap(index_buffers_);
    index_buffers.resize(slots_.size());
    for (size_t s = 0; s < slots_.size(); ++s) {
      const auto field = static_cast<uint32_t>(s);
      if (source[s] < 0) {
        columns[s] = std::make_unique<FieldColumn>(field, rows, *reader_,
                                                   index_buffers[s]);
        continue;
      }
      const auto c = static_cast<size_t>(source[s]);
      const py::array& array = Given(names, arrays, c);
      const ColumnKind kind = fmpython::CheckColumn(names[c], kinds[c], array);
      columns[s] = std::make_unique<FieldColumn>(names[c], kind, array, field,
                                                 *reader_, index_buffers[s]);
      CheckRows(names[c], columns[s]->rows(), rows);
    }
    py::array_t<bool> result(static_cast<py::ssize_t>(rows));
    bool* out = result.mutable_data();
    std::map<std::pair<uint32_t, int>, NoteCount> notes;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      std::vector<FieldColumn*> fields;
      for (auto& c : columns) {
        c->Read(*reader_);
        fields.push_back(c.get());
      }
      ColumnRow row(std::move(fields));
      IFilter* base = variants_->base();
      size_t built = variants_->variants_built();
      for (size_t r = 0; r < rows; ++r) {
        if (!row.Seek(r)) {
          out[r] = base->IsMatch(&row);
          continue;
        }
        row.Marks(lines_.size(), forced_);
        IFilter* variant = variants_->For(forced_);
        // A variant built may have replaced others, whose field-name
        // texts the row remembers by address.
        if (variants_->variants_built() != built) {
          built = variants_->variants_built();
          row.ForgetFieldNames();
        }
        out[r] = variant->IsMatch(&row);
      }
      for (uint32_t s = 0; s < columns.size(); ++s)
        for (int kind = 0; kind < 2; ++kind) {
          const FieldColumn::Note& n = columns[s]->note(kind);
          if (n.count == 0) continue;
          notes[{s, kind}] = {
              slots_[s].name, kind == 0 ? "unreadable" : "inexact",
              n.wanted,       n.count,
              n.first_row,    n.first_cell};
        }
    }
    columns.clear();
    index_buffers_.swap(index_buffers);
    return py::make_tuple(result, NoteList(notes), Missing(source));
  }

  // As Mask, each cell rendered as text and fed to the row: the
  // reference Mask is tested against.
  py::tuple MaskByText(size_t rows, const std::vector<std::string>& names,
                       const std::vector<std::string>& kinds,
                       const std::vector<std::optional<py::array>>& arrays) {
    if (names.size() != kinds.size() || names.size() != arrays.size())
      throw std::invalid_argument("names, kinds and arrays differ in length");
    // Only the columns the filter reads are prepared (and given).
    std::vector<int64_t> source = Resolve(names);
    std::vector<std::unique_ptr<TextColumn>> columns(slots_.size());
    for (size_t s = 0; s < slots_.size(); ++s) {
      if (source[s] < 0) continue;
      const auto c = static_cast<size_t>(source[s]);
      columns[s] = std::make_unique<TextColumn>(names[c], kinds[c],
                                                Given(names, arrays, c));
      CheckRows(names[c], columns[s]->rows(), rows);
    }
    py::array_t<bool> result(static_cast<py::ssize_t>(rows));
    bool* out = result.mutable_data();
    std::map<std::pair<uint32_t, int>, NoteCount> notes;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      evfilter::Record record;
      record.cells.resize(slots_.size());
      std::vector<std::string> scratch(slots_.size());
      std::vector<evfilter::FeedNote> row_notes;
      for (size_t r = 0; r < rows; ++r) {
        for (size_t s = 0; s < slots_.size(); ++s)
          record.cells[s] =
              columns[s] ? columns[s]->Cell(r, scratch[s]) : std::nullopt;
        row_notes.clear();
        out[r] = Decide(record, &row_notes);
        if (!row_notes.empty()) Count(row_notes, r, notes);
      }
    }
    return py::make_tuple(result, NoteList(notes), Missing(source));
  }

  // The positions of the columns the filter reads, among `names`.
  std::vector<int64_t> Needed(const std::vector<std::string>& names) const {
    std::vector<int64_t> out;
    for (int64_t c : Resolve(names))
      if (c >= 0 && std::find(out.begin(), out.end(), c) == out.end())
        out.push_back(c);
    std::sort(out.begin(), out.end());
    return out;
  }

  // One record given as (name, value) pairs; values as object cells.
  py::tuple Match(const std::vector<std::string>& names, py::array values) {
    std::vector<int64_t> source = Resolve(names);
    TextColumn column("record", "text", std::move(values), &names);
    std::map<std::pair<uint32_t, int>, NoteCount> notes;
    bool matched = false;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(mutex_);
      evfilter::Record record;
      record.cells.resize(slots_.size());
      std::string scratch;
      for (size_t s = 0; s < slots_.size(); ++s)
        if (source[s] >= 0)
          record.cells[s] =
              column.Cell(static_cast<size_t>(source[s]), scratch);
      std::vector<evfilter::FeedNote> row_notes;
      matched = Decide(record, &row_notes);
      Count(row_notes, 0, notes);
    }
    return py::make_tuple(matched, NoteList(notes));
  }

  std::vector<std::pair<int32_t, int32_t>> Intervals(const std::string& field) {
    std::vector<std::pair<int32_t, int32_t>> out;
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    INumericIntervalCollection* set = variants_->base()->GetNumericIntervals(
        textconv::ToUtf16(field).c_str());
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

 private:
  // The array of column `c`, which the filter reads and so must be given.
  static const py::array& Given(
      const std::vector<std::string>& names,
      const std::vector<std::optional<py::array>>& arrays, size_t c) {
    if (!arrays[c])
      throw std::invalid_argument("column '" + names[c] + "' not given");
    return *arrays[c];
  }

  static void CheckRows(const std::string& name, size_t got, size_t rows) {
    if (got != rows)
      throw std::invalid_argument("column '" + name + "' has " +
                                  std::to_string(got) + " rows, not " +
                                  std::to_string(rows));
  }

  struct Slot {
    std::string name;
    bool implicit;  // read on the module's behalf, not named by a line
  };

  void AddSlot(const std::string& name, bool implicit) {
    for (Slot& s : slots_)
      if (s.name == name) {
        s.implicit = s.implicit && implicit;
        return;
      }
    slots_.push_back({name, implicit});
    slot_names_.push_back(name);
  }

  // The frame column of each slot, found as evfilter finds a field's
  // column: by exact name, else ignoring ASCII case; -1 for none.
  std::vector<int64_t> Resolve(const std::vector<std::string>& names) const {
    std::vector<int64_t> source(slots_.size(), -1);
    for (size_t s = 0; s < slots_.size(); ++s) {
      for (size_t c = 0; c < names.size() && source[s] < 0; ++c)
        if (names[c] == slots_[s].name) source[s] = static_cast<int64_t>(c);
      for (size_t c = 0; c < names.size() && source[s] < 0; ++c)
        if (evfilter::EqualsNoCase(names[c], slots_[s].name))
          source[s] = static_cast<int64_t>(c);
    }
    return source;
  }

  bool Decide(const evfilter::Record& record,
              std::vector<evfilter::FeedNote>* notes) {
    feeder_->Feed(record, slot_names_, row_, forced_, notes);
    return variants_->For(forced_)->IsMatch(&row_);
  }

  void Count(const std::vector<evfilter::FeedNote>& row_notes, size_t row,
             std::map<std::pair<uint32_t, int>, NoteCount>& notes) const {
    for (const evfilter::FeedNote& n : row_notes) {
      NoteCount& c = notes[{n.field, static_cast<int>(n.kind)}];
      if (c.count++ == 0) {
        c.field = feeder_->field_name(n.field);
        c.kind = n.kind == evfilter::FeedNote::kUnreadable ? "unreadable"
                                                           : "inexact";
        c.wanted = n.wanted;
        c.first_row = row;
        c.first_cell = n.cell;
      }
    }
  }

  static py::list NoteList(
      const std::map<std::pair<uint32_t, int>, NoteCount>& notes) {
    py::list out;
    for (const auto& [key, n] : notes)
      out.append(py::make_tuple(n.field, n.kind, n.wanted, n.count, n.first_row,
                                n.first_cell));
    return out;
  }

  // The named fields no column has, each with no closest name (a frame's
  // names are known to its caller).
  std::vector<std::string> Missing(const std::vector<int64_t>& source) const {
    std::vector<std::string> out;
    for (size_t s = 0; s < slots_.size(); ++s)
      if (source[s] < 0 && !slots_[s].implicit) out.push_back(slots_[s].name);
    return out;
  }

  // The module writes the tree's text form at trace level just before it
  // reports the filter initialised.
  static std::string TextForm(const std::vector<evfilter::LogRecord>& records) {
    size_t done = records.size();
    for (size_t i = records.size(); i-- > 0;)
      if (records[i].message == evfilter::kLogFilterInitialized) {
        done = i;
        break;
      }
    for (size_t i = done; i-- > 0;)
      if (records[i].level == evfilter::kLogLevelTrace)
        return records[i].message;
    return {};
  }

  std::vector<LineSpec> lines_;
  evfilter::Zone zone_;
  std::string text_;
  std::vector<Slot> slots_;
  std::vector<std::string> slot_names_;
  std::unique_ptr<evfilter::FilterVariants> variants_;
  std::unique_ptr<evfilter::RowFeeder> feeder_;
  std::unique_ptr<fmpython::FieldReader> reader_;
  std::vector<std::vector<uint32_t>> index_buffers_;  // with the GIL held
  memhost::MemoryDataRow row_;
  std::string forced_;
  std::mutex mutex_;
};

// ------------------------------------------------------------------ lines

using LineTuple =
    std::tuple<int32_t, std::u16string, int32_t, std::u16string, int32_t,
               int32_t, int32_t, bool, bool, std::u16string, bool>;

LineTuple ToTuple(const LineSpec& l) {
  return {l.open, l.field,  l.op,      l.value, l.type,    l.close,
          l.link, l.negate, l.has_tag, l.tag,   l.inverted};
}

LineSpec FromTuple(const LineTuple& t) {
  LineSpec l;
  std::tie(l.open, l.field, l.op, l.value, l.type, l.close, l.link, l.negate,
           l.has_tag, l.tag, l.inverted) = t;
  return l;
}

std::vector<LineSpec> CompileWhere(
    const std::string& expression,
    const std::map<std::string, std::string>& types) {
  evfilter::TypeOverrides overrides;
  for (const auto& [field, name] : types) {
    const int32_t code = evfilter::TypeFromName(name);
    if (code < 0)
      throw py::value_error("unknown type '" + name + "' for field '" + field +
                            "'; accepted: numeric, text, date, time");
    overrides[field] = code;
  }
  return evfilter::CompileWhere(expression, overrides);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The filter module, deciding records as evfilter does.";

  static py::exception<evfilter::BuildError> build_error(m, "BuildError",
                                                         PyExc_RuntimeError);
  g_build_error = build_error.ptr();
  static py::exception<evfilter::SyntaxError> expression_error(
      m, "ExpressionError", PyExc_ValueError);
  g_expression_error = expression_error.ptr();
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const evfilter::SyntaxError& e) {
      const std::string message =
          "column " + std::to_string(e.column()) + ": " + e.what();
      PyObject* error =
          PyObject_CallFunction(g_expression_error, "s", message.c_str());
      if (error == nullptr) return;
      PyObject* column = PyLong_FromSize_t(e.column());
      PyObject_SetAttrString(error, "column", column);
      Py_XDECREF(column);
      PyErr_SetObject(g_expression_error, error);
      Py_DECREF(error);
    } catch (const evfilter::BuildError& e) {
      PyErr_SetString(g_build_error,
                      (std::string("the filter module could not build the "
                                   "filter: ") +
                       e.what())
                          .c_str());
    } catch (const evfilter::DefinitionError& e) {
      PyErr_SetString(PyExc_ValueError, e.what());
    }
  });

  m.def(
      "setup_log",
      [](const std::string& folder, bool debug) {
        evfilter::ModuleLog::Setup(folder, debug);
      },
      py::arg("folder"), py::arg("debug"));

  m.def(
      "compile_where",
      [](const std::string& expression,
         const std::map<std::string, std::string>& types) {
        std::vector<LineTuple> out;
        for (const LineSpec& l : CompileWhere(expression, types))
          out.push_back(ToTuple(l));
        return out;
      },
      py::arg("expression"), py::arg("types"));
  m.def(
      "parse_definition",
      [](const std::string& json) {
        std::vector<LineTuple> out;
        for (const LineSpec& l : evfilter::ParseDefinition(json))
          out.push_back(ToTuple(l));
        return out;
      },
      py::arg("json"));
  m.def(
      "definition_json",
      [](const std::vector<LineTuple>& lines) {
        std::vector<LineSpec> specs;
        for (const LineTuple& t : lines) specs.push_back(FromTuple(t));
        return evfilter::DefinitionToJson(specs);
      },
      py::arg("lines"));

  py::class_<Filter>(m, "Filter")
      .def(py::init([](const std::vector<LineTuple>& lines, bool utc) {
             std::vector<LineSpec> specs;
             for (const LineTuple& t : lines) specs.push_back(FromTuple(t));
             return std::make_unique<Filter>(std::move(specs), utc);
           }),
           py::arg("lines"), py::arg("utc") = false)
      .def_property_readonly("text", &Filter::text)
      .def_property_readonly("utc", &Filter::utc)
      .def_property_readonly("lines",
                             [](const Filter& f) {
                               std::vector<LineTuple> out;
                               for (const LineSpec& l : f.lines())
                                 out.push_back(ToTuple(l));
                               return out;
                             })
      .def("mask", &Filter::Mask, py::arg("rows"), py::arg("names"),
           py::arg("kinds"), py::arg("arrays"))
      .def("mask_by_text", &Filter::MaskByText, py::arg("rows"),
           py::arg("names"), py::arg("kinds"), py::arg("arrays"))
      .def("needed", &Filter::Needed, py::arg("names"))
      .def("match", &Filter::Match, py::arg("names"), py::arg("values"))
      .def("intervals", &Filter::Intervals, py::arg("field"));
}
