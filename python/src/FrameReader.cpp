#include "FrameReader.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>
#include <simdjson.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "Interrupts.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/InputPieces.h"
#include "records/Inputs.h"
#include "records/Record.h"
#include "records/RecordReader.h"
#include "records/RecordReports.h"

namespace py = pybind11;

namespace fmpython {
namespace {

using eventquery::Format;
using eventquery::Input;
using eventquery::InputError;
using eventquery::Record;
using eventquery::RecordReader;

// Records read without the GIL before their objects are made with it.
constexpr size_t kChunkRecords = 4096;
// Distinct texts a column shares before it starts afresh.
constexpr size_t kMaxShared = 1 << 16;

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

// Reports counted per kind, the first of each kept; values that are no
// UTF-8 counted per column, each column's first kept.
class Reports {
 public:
  void NotUtf8(const std::string& column, const std::string& place,
               std::string_view cell) {
    for (auto& [name, c] : not_utf8_)
      if (name == column) {
        ++c.count;
        return;
      }
    not_utf8_.push_back({column, {1, place, common::Printable(cell)}});
  }
  void Add(const std::string& kind, std::string message) {
    for (auto& [name, k] : kinds_)
      if (name == kind) {
        if (++k.count <= eventquery::kShownPerKind)
          k.shown.push_back(std::move(message));
        return;
      }
    kinds_.push_back({kind, {1, {std::move(message)}}});
  }
  py::list List() const {
    py::list out;
    for (const auto& [name, k] : kinds_)
      out.append(py::make_tuple(Str(name), k.count, Strs(k.shown)));
    for (const auto& [column, c] : not_utf8_)
      out.append(py::make_tuple(
          Str("value that is no UTF-8"), 1,
          Strs({"column '" + Readable(column) +
                "': " + std::to_string(c.count) +
                " value(s) are not valid UTF-8 (first at " + c.first_place +
                ": '" + c.first_cell +
                "'); each byte that is no UTF-8 is kept as its surrogate "
                "escape (U+DC00 + the byte). For a Latin-1 or Windows "
                "export, read with encoding='latin1' or 'cp1252'"})));
    return out;
  }

 private:
  struct Kind {
    uint64_t count = 0;
    std::vector<std::string> shown;
  };
  struct PerColumn {
    uint64_t count = 0;
    std::string first_place;
    std::string first_cell;
  };
  std::vector<std::pair<std::string, Kind>> kinds_;
  std::vector<std::pair<std::string, PerColumn>> not_utf8_;
};

std::optional<Format> FormatOf(const std::string& name) {
  if (name.empty()) return std::nullopt;
  const std::optional<Format> format = eventquery::FormatNamed(name);
  if (!format)
    throw py::value_error("unknown format '" + name +
                          "'; accepted: " + eventquery::kFormatNames);
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

// An input opened, its header read.
struct Opened {
  std::unique_ptr<Input> input;
  std::unique_ptr<RecordReader> reader;
  size_t noted = 0;  // of the reader's input notes
};

Opened Open(const std::string& path, const std::string& format,
            const std::optional<PieceTuple>& piece,
            const std::string& encoding) {
  Opened o;
  const eventquery::Encoding e = EncodingOf(encoding);
  if (piece) {
    const auto [header_end, header_line, begin, end, first_line] = *piece;
    (void)header_line;
    const std::optional<Format> f = FormatOf(format);
    if (!f) throw py::value_error("a piece is read in a format named");
    o.input = std::make_unique<Input>(
        path, *f, header_end, eventquery::InputPiece{begin, end, first_line},
        e);
  } else {
    o.input = std::make_unique<Input>(path, FormatOf(format), e);
  }
  if (!o.input->ok())
    throw ReadError(o.input->name() + ": " + o.input->error());
  try {
    o.reader = eventquery::MakeRecordReader(*o.input);
  } catch (const InputError& e) {
    throw ReadError(o.input->name() + ": " +
                    eventquery::ReadFailure(*o.input, e));
  }
  return o;
}

void NoteRenamed(const Opened& o, Reports& reports) {
  std::string renamed =
      eventquery::RenamedColumns(o.input->name(), o.reader->header_notes());
  if (!renamed.empty()) reports.Add("note", std::move(renamed));
}

// What the reader has noticed of the input as a whole since last asked
// (an event log not closed cleanly), as notes.
void NoteInput(Opened& o, Reports& reports) {
  const std::vector<std::string> notes = o.reader->input_notes();
  for (; o.noted < notes.size(); ++o.noted)
    reports.Add("note", o.input->name() + ": " + notes[o.noted]);
}

// What a front end says of a record before its cells are read: false when
// it is no record (reported, or raised when it loses the rest).
bool Check(const std::string& name, const Record& record, Format format,
           const std::vector<std::string>& columns, Reports& reports,
           std::string* fatal) {
  const size_t header_cells = columns.size();
  const std::string place = eventquery::PlaceOf(name, record);
  if (!record.problem.empty()) {
    if (record.fatal)
      *fatal = eventquery::LostInput(place, record);
    else
      reports.Add(eventquery::UnreadableKind(record),
                  eventquery::SkippedLine(place, record));
    return false;
  }
  const bool header = format == Format::kCsv || format == Format::kTsv;
  if (header && record.cells.size() != header_cells)
    reports.Add(
        eventquery::kRaggedRow,
        eventquery::RaggedRow(place, record.cells.size(), header_cells));
  // JSON text is checked by its parser; delimited cells are bytes as found.
  if (header)
    for (size_t c = 0; c < record.cells.size() && c < header_cells; ++c)
      if (record.cells[c] && !simdjson::validate_utf8(record.cells[c]->data(),
                                                      record.cells[c]->size()))
        reports.NotUtf8(columns[c], place, *record.cells[c]);
  return true;
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

// One frame column's objects, in row order.
class ObjectColumn {
 public:
  explicit ObjectColumn(size_t rows) : cells_(rows, py::none()) {}
  void Add(py::object cell) { cells_.push_back(std::move(cell)); }
  // A text cell; equal texts share one str.
  void AddText(std::string_view text) {
    auto found = shared_.find(text);
    if (found != shared_.end()) {
      cells_.push_back(found->second);
      return;
    }
    if (shared_.size() >= kMaxShared) shared_.clear();
    py::object s = CellStr(text);
    shared_.emplace(std::string(text), s);
    cells_.push_back(std::move(s));
  }
  size_t rows() const { return cells_.size(); }
  py::array ToArray() const {
    py::array out = py::module_::import("numpy").attr("empty")(
        static_cast<py::ssize_t>(cells_.size()), "object");
    auto* data = static_cast<PyObject**>(out.mutable_data());
    for (size_t r = 0; r < cells_.size(); ++r) {
      PyObject* old = data[r];
      data[r] = cells_[r].inc_ref().ptr();
      Py_XDECREF(old);
    }
    return out;
  }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::vector<py::object> cells_;
  std::unordered_map<std::string, py::object, Hash, std::equal_to<>> shared_;
};

// Records read without the GIL: each row's present cells as (reader
// column, nested, span of the arena).
struct Chunk {
  struct Cell {
    uint32_t column;
    bool nested;
    size_t begin, size;
  };
  std::string arena;
  std::vector<Cell> cells;
  std::vector<size_t> row_ends;  // one past each row's last cell
  std::vector<uint64_t> lines;   // each row's line, for messages
  std::string error;             // the input failed here
  std::string fatal;             // a record lost the rest of the input

  void Add(const Record& record, size_t header_cells, bool header) {
    for (size_t c = 0; c < record.cells.size(); ++c) {
      if (header && c >= header_cells) break;  // reported as ragged
      const auto& cell = record.cells[c];
      if (!cell) continue;
      // A record has few nested values, in its keys' order.
      const bool is_nested =
          std::find(record.nested.begin(), record.nested.end(), c) !=
          record.nested.end();
      cells.push_back(
          {static_cast<uint32_t>(c), is_nested, arena.size(), cell->size()});
      arena.append(*cell);
    }
    row_ends.push_back(cells.size());
    lines.push_back(record.line);
  }
};

}  // namespace

py::dict ReadFrame(const std::string& path, const std::string& format,
                   const std::optional<std::vector<std::string>>& columns,
                   const std::optional<PieceTuple>& piece,
                   const std::string& encoding) {
  Opened o = Open(path, format, piece, encoding);
  const std::string& name = o.input->name();
  const Format f = o.input->format();
  const bool header = f == Format::kCsv || f == Format::kTsv;
  // A piece's records count their lines from the header's (an event log's
  // records go by their ids, its pieces by chunk numbers).
  const uint64_t line_offset = piece && f != Format::kEvtx
                                   ? std::get<4>(*piece) - std::get<1>(*piece)
                                   : 0;
  Reports reports;
  NoteRenamed(o, reports);

  std::vector<std::string> names =
      columns ? *columns : std::vector<std::string>();
  std::unordered_map<std::string, size_t> index;
  for (size_t c = 0; c < names.size(); ++c) index.emplace(names[c], c);
  std::vector<ObjectColumn> data(names.size(), ObjectColumn(0));
  std::vector<int64_t> to_frame;  // reader column -> frame column, -1: none
  simdjson::dom::parser parser;
  std::string padded;
  size_t rows = 0;
  bool more = true;
  Record record;
  while (more) {
    CheckSignals();  // between chunks, with the GIL
    Chunk chunk;
    {
      py::gil_scoped_release release;
      while (chunk.row_ends.size() < kChunkRecords) {
        try {
          more = o.reader->Next(record);
        } catch (const InputError& e) {
          chunk.error = eventquery::ReadFailure(*o.input, e);
          more = false;
        }
        if (!more) break;
        record.line += line_offset;
        if (!Check(name, record, f, o.reader->columns(), reports,
                   &chunk.fatal)) {
          if (!chunk.fatal.empty()) {
            more = false;
            break;
          }
          continue;
        }
        chunk.Add(record, o.reader->columns().size(), header);
      }
    }
    if (!chunk.fatal.empty()) throw ReadError(chunk.fatal);
    NoteInput(o, reports);
    if (!chunk.error.empty())
      throw ReadError(name + ": " + chunk.error + "; reading stopped after " +
                      std::to_string(rows + chunk.row_ends.size()) +
                      " record(s)");
    // Columns the reader found meanwhile (JSON keys).
    // Names as Python has them (the columns given came from there).
    const std::vector<std::string>& found = o.reader->columns();
    for (size_t c = to_frame.size(); c < found.size(); ++c) {
      const std::string readable = Readable(found[c]);
      auto at = index.find(readable);
      // An event log's names compare without case; a piece may have met
      // another spelling first than the whole file did.
      if (at == index.end() && f == Format::kEvtx)
        for (auto it = index.begin(); it != index.end(); ++it)
          if (common::EqualsNoCase(it->first, readable)) at = it;
      if (at == index.end() && !columns) {
        at = index.emplace(readable, names.size()).first;
        names.push_back(readable);
        data.emplace_back(rows);
      }
      to_frame.push_back(at == index.end() ? -1
                                           : static_cast<int64_t>(at->second));
    }
    std::vector<bool> filled(names.size());
    size_t cell = 0;
    for (size_t r = 0; r < chunk.row_ends.size(); ++r, ++rows) {
      filled.assign(names.size(), false);
      for (; cell < chunk.row_ends[r]; ++cell) {
        const Chunk::Cell& c = chunk.cells[cell];
        const int64_t to = to_frame[c.column];
        const std::string_view text(chunk.arena.data() + c.begin, c.size);
        if (to < 0)
          throw ReadError(name + ":" + std::to_string(chunk.lines[r]) +
                          ": key '" + found[c.column] +
                          "' is not among the columns given; name them all");
        ObjectColumn& column = data[static_cast<size_t>(to)];
        filled[static_cast<size_t>(to)] = true;
        if (!c.nested) {
          column.AddText(text);
          continue;
        }
        padded.assign(text);
        padded.append(simdjson::SIMDJSON_PADDING, '\0');
        simdjson::dom::element value;
        if (parser.parse(padded.data(), text.size(), false).get(value) !=
            simdjson::SUCCESS)
          throw ReadError(name + ":" + std::to_string(chunk.lines[r]) +
                          ": a nested value could not be read again");
        column.Add(ToPython(value));
      }
      for (size_t c = 0; c < names.size(); ++c)
        if (!filled[c]) data[c].Add(py::none());
    }
  }
  py::list arrays;
  for (const ObjectColumn& c : data) arrays.append(c.ToArray());
  py::dict out;
  out["columns"] = Strs(names);
  out["arrays"] = arrays;
  out["rows"] = rows;
  out["reports"] = reports.List();
  py::list declared;
  for (const auto& [name, type] : o.reader->declared_types())
    declared.append(py::make_tuple(name, type));
  out["types"] = declared;
  return out;
}

py::dict DivideInput(const std::string& path, const std::string& format,
                     uint64_t piece_bytes, const std::string& encoding) {
  Opened o = Open(path, format, std::nullopt, encoding);
  const std::string& name = o.input->name();
  const Format f = o.input->format();
  Reports reports;
  NoteRenamed(o, reports);
  eventquery::InputPieces pieces;
  std::string fatal, error;
  {
    py::gil_scoped_release release;
    try {
      pieces = eventquery::DivideAtRecords(
          *o.input, *o.reader, piece_bytes, [&](const Record& record) {
            if (fatal.empty())
              Check(name, record, f, o.reader->columns(), reports, &fatal);
          });
    } catch (const InputError& e) {
      error = eventquery::ReadFailure(*o.input, e);
    }
  }
  if (!fatal.empty()) throw ReadError(fatal);
  NoteInput(o, reports);
  if (!error.empty()) throw ReadError(name + ": " + error);
  py::list list;
  for (const eventquery::InputPiece& p : pieces.pieces)
    list.append(py::make_tuple(pieces.header_end, pieces.header_line, p.begin,
                               p.end, p.first_line));
  py::dict out;
  out["format"] = eventquery::FormatName(f);
  out["columns"] = Strs(o.reader->columns());
  out["divided"] = pieces.divided;
  out["pieces"] = list;
  out["reports"] = reports.List();
  return out;
}

}  // namespace fmpython
