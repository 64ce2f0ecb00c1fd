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
// float64, bool and datetime64[ns] arrays are read in place; object arrays
// are turned into UTF-8 texts once, with the GIL held. The row loop then
// runs without the GIL, each cell rendered as the text a CSV file would
// hold and read as evfilter reads it.
//
// Thread safety: a Filter is used by one thread at a time; its calls take
// the filter's own lock (after the GIL is released), so threads sharing one
// Filter wait for each other, and threads with their own Filters run at
// once.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "evfilter/CellReaders.h"
#include "evfilter/Definition.h"
#include "evfilter/FilterBuild.h"
#include "evfilter/RecordReaders.h"
#include "evfilter/RowFeeder.h"
#include "evfilter/WhereCompiler.h"
#include "memory_host/MemoryDataRow.h"
#include "textconv/Utf8.h"

namespace py = pybind11;
using memhost::LineSpec;

namespace {

// Raised for an expression that does not compile; a ValueError with the
// 1-based column of the error as `column`.
PyObject* g_expression_error = nullptr;
PyObject* g_build_error = nullptr;

// ---------------------------------------------------------------- columns

// One frame column as the row loop reads it.
class Column {
 public:
  enum class Kind { kText, kInt64, kFloat64, kBool, kDatetime };

  // Kinds: "text" (object array), "int64", "float64", "bool", "datetime"
  // (datetime64[ns] viewed as int64). Object cells are read here, with
  // the GIL held.
  // `row_names` names the rows in messages (a record's keys), else numbers.
  Column(const std::string& name, const std::string& kind, py::array data,
         const std::vector<std::string>* row_names = nullptr)
      : data_(std::move(data)), row_names_(row_names) {
    rows_ = static_cast<size_t>(data_.size());
    if (data_.ndim() != 1 || !(data_.flags() & py::array::c_style))
      throw std::invalid_argument("column '" + name +
                                  "': expected a contiguous 1-d array");
    auto need = [&](py::dtype dtype) {
      if (!data_.dtype().is(dtype) && data_.dtype().kind() != dtype.kind())
        throw std::invalid_argument("column '" + name + "': expected " +
                                    std::string(py::str(dtype)) + " data");
    };
    if (kind == "int64" || kind == "datetime") {
      need(py::dtype::of<int64_t>());
      if (data_.itemsize() != 8)
        throw std::invalid_argument("column '" + name + "': not 64-bit");
      kind_ = kind == "int64" ? Kind::kInt64 : Kind::kDatetime;
    } else if (kind == "float64") {
      need(py::dtype::of<double>());
      if (data_.itemsize() != 8)
        throw std::invalid_argument("column '" + name + "': not 64-bit");
      kind_ = Kind::kFloat64;
    } else if (kind == "bool") {
      need(py::dtype::of<bool>());
      kind_ = Kind::kBool;
    } else if (kind == "text") {
      if (data_.dtype().kind() != 'O')
        throw std::invalid_argument("column '" + name +
                                    "': expected an object array");
      kind_ = Kind::kText;
      ReadObjects(name);
    } else {
      throw std::invalid_argument("column '" + name + "': unknown kind '" +
                                  kind + "'");
    }
  }

  size_t rows() const { return rows_; }

  // The cell of `row` as text, or nothing for a missing value (None, NaN,
  // NaT). `scratch` holds rendered numbers.
  std::optional<std::string_view> Cell(size_t row, std::string& scratch) const {
    const void* base = data_.data();
    switch (kind_) {
      case Kind::kText:
        if (!present_[row]) return std::nullopt;
        return std::string_view(arena_).substr(
            offsets_[row], offsets_[row + 1] - offsets_[row]);
      case Kind::kInt64: {
        char buffer[32];
        const int64_t v = static_cast<const int64_t*>(base)[row];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
        scratch.assign(buffer, end);
        return scratch;
      }
      case Kind::kFloat64: {
        const double v = static_cast<const double*>(base)[row];
        if (std::isnan(v)) return std::nullopt;
        // The shortest text that reads back as the same double: what the
        // value prints as, and what a file written from the frame holds.
        char buffer[64];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
        scratch.assign(buffer, end);
        return scratch;
      }
      case Kind::kBool:
        return static_cast<const bool*>(base)[row] ? std::string_view("true")
                                                   : std::string_view("false");
      case Kind::kDatetime: {
        const int64_t ns = static_cast<const int64_t*>(base)[row];
        if (ns == INT64_MIN) return std::nullopt;  // NaT
        RenderTimestamp(ns, scratch);
        return scratch;
      }
    }
    return std::nullopt;
  }

 private:
  // An ISO 8601 timestamp without a zone (taken as written), with the
  // fraction only when there is one.
  static void RenderTimestamp(int64_t ns, std::string& out) {
    constexpr int64_t kDay = 86400LL * 1000000000LL;
    int64_t days = ns / kDay;
    int64_t rest = ns % kDay;
    if (rest < 0) {
      rest += kDay;
      --days;
    }
    // Civil date from days since 1970-01-01 (proleptic Gregorian).
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    const int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    const int64_t seconds = rest / 1000000000LL;
    const int64_t fraction = rest % 1000000000LL;
    char buffer[64];
    int n = std::snprintf(
        buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
        static_cast<long long>(y), static_cast<long long>(m),
        static_cast<long long>(d), static_cast<long long>(seconds / 3600),
        static_cast<long long>(seconds / 60 % 60),
        static_cast<long long>(seconds % 60));
    out.assign(buffer, static_cast<size_t>(n));
    if (fraction != 0) {
      n = std::snprintf(buffer, sizeof buffer, ".%09lld",
                        static_cast<long long>(fraction));
      std::string_view digits(buffer, static_cast<size_t>(n));
      while (digits.back() == '0') digits.remove_suffix(1);
      out.append(digits);
    }
  }

  // Texts of an object column: str as it is; None, NaN, NaT and pandas'
  // NA missing; bool, int and float as JSON and Python write them; a date
  // or timestamp in ISO form. Anything else is an error naming the row.
  void ReadObjects(const std::string& name) {
    py::object na_type, nat_type;
    try {
      py::module_ pandas = py::module_::import("pandas");
      na_type = py::type::of(pandas.attr("NA"));
      nat_type = py::type::of(pandas.attr("NaT"));
    } catch (const py::error_already_set&) {
      // Without pandas no cell can be NA or NaT.
    }
    auto* cells = static_cast<PyObject* const*>(data_.data());
    present_.assign(rows_, 0);
    offsets_.assign(rows_ + 1, 0);
    for (size_t r = 0; r < rows_; ++r) {
      offsets_[r] = arena_.size();
      PyObject* o = cells[r];
      if (o == Py_None || o == nullptr) {
      } else if (PyUnicode_Check(o)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
        if (utf8 == nullptr) throw py::error_already_set();
        arena_.append(utf8, static_cast<size_t>(size));
        present_[r] = 1;
      } else if (PyBool_Check(o)) {
        arena_.append(o == Py_True ? "true" : "false");
        present_[r] = 1;
      } else if (PyFloat_Check(o)) {
        const double v = PyFloat_AS_DOUBLE(o);
        if (!std::isnan(v)) {
          char buffer[64];
          const auto end = std::to_chars(buffer, buffer + sizeof buffer, v).ptr;
          arena_.append(buffer, end);
          present_[r] = 1;
        }
      } else if (PyLong_Check(o)) {
        arena_.append(py::str(o).cast<std::string>());
        present_[r] = 1;
      } else if (na_type && (py::handle(o).get_type().is(na_type) ||
                             py::handle(o).get_type().is(nat_type))) {
      } else if (PyObject_HasAttrString(o, "isoformat")) {
        arena_.append(py::reinterpret_borrow<py::object>(o)
                          .attr("isoformat")()
                          .cast<std::string>());
        present_[r] = 1;
      } else {
        throw py::type_error(
            (row_names_ != nullptr && r < row_names_->size()
                 ? "field '" + (*row_names_)[r] + "'"
                 : "column '" + name + "', row " + std::to_string(r)) +
            ": cannot read a value of type " +
            std::string(py::str(py::handle(o).get_type().attr("__name__"))));
      }
    }
    offsets_[rows_] = arena_.size();
  }

  py::array data_;
  const std::vector<std::string>* row_names_;
  Kind kind_ = Kind::kText;
  size_t rows_ = 0;
  std::string arena_;
  std::vector<uint64_t> offsets_;
  std::vector<uint8_t> present_;
};

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
    std::vector<std::unique_ptr<Column>> columns(slots_.size());
    for (size_t s = 0; s < slots_.size(); ++s) {
      if (source[s] < 0) continue;
      const auto c = static_cast<size_t>(source[s]);
      if (!arrays[c])
        throw std::invalid_argument("column '" + names[c] + "' not given");
      columns[s] = std::make_unique<Column>(names[c], kinds[c], *arrays[c]);
      if (columns[s]->rows() != rows)
        throw std::invalid_argument("column '" + names[c] + "' has " +
                                    std::to_string(columns[s]->rows()) +
                                    " rows, not " + std::to_string(rows));
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
    Column column("record", "text", std::move(values), &names);
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
      .def("needed", &Filter::Needed, py::arg("names"))
      .def("match", &Filter::Match, py::arg("names"), py::arg("values"))
      .def("intervals", &Filter::Intervals, py::arg("field"));
}
