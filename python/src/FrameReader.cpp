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
#include "ReadSupport.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/Formats.h"
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

// An input opened, its header read (for dividing it).
struct Opened {
  std::unique_ptr<Input> input;
  std::unique_ptr<RecordReader> reader;
};

Opened Open(const std::string& path, const std::string& format,
            const std::string& encoding) {
  Opened o;
  o.input = OpenInput(path, format, std::nullopt, encoding);
  try {
    o.reader = eventquery::MakeRecordReader(*o.input);
  } catch (const InputError& e) {
    throw ReadError(o.input->name() + ": " +
                    eventquery::ReadFailure(*o.input, e));
  }
  return o;
}

// Notes on the input as a whole and on its renamed columns.
void NoteInput(const Opened& o, Reports& reports) {
  std::string renamed =
      eventquery::RenamedColumns(o.input->name(), o.reader->header_notes());
  if (!renamed.empty()) reports.Add("note", std::move(renamed));
  for (const std::string& note : o.reader->input_notes())
    reports.Add("note", o.input->name() + ": " + note);
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
  const bool header = eventquery::FormatTraitsOf(format).header_row;
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

// The scan's records made frame columns: a chunk of records is copied
// without the GIL, then made objects with it (when Python's signal
// handlers run, too).
class FrameSink : public eventquery::RecordSink {
 public:
  FrameSink(const std::optional<std::vector<std::string>>& columns,
            Reports& reports)
      : given_(columns.has_value()), reports_(reports) {
    if (columns) names_ = *columns;
    for (size_t c = 0; c < names_.size(); ++c) index_.emplace(names_[c], c);
    data_.assign(names_.size(), ObjectColumn(0));
  }

  bool Begin(const Input& input, RecordReader& reader) override {
    name_ = input.name();
    traits_ = &eventquery::FormatTraitsOf(input.format());
    header_ = traits_->header_row;
    reader_ = &reader;
    // Filter.mask reads an event log's full paths through them.
    reader.KeepFieldPaths();
    return true;
  }
  bool Take(const Record& record, uint64_t /*id*/) override {
    const std::vector<std::string>& columns = reader_->columns();
    // JSON text is checked by its parser; delimited cells are bytes as
    // found.
    if (header_)
      for (size_t c = 0; c < record.cells.size() && c < columns.size(); ++c)
        if (record.cells[c] &&
            !simdjson::validate_utf8(record.cells[c]->data(),
                                     record.cells[c]->size()))
          reports_.NotUtf8(columns[c], eventquery::PlaceOf(name_, record),
                           *record.cells[c]);
    chunk_.Add(record, columns.size(), header_);
    return chunk_.row_ends.size() < kChunkRecords || Flush();
  }
  bool Drain() override { return Flush(); }
  void End(const RecordReader& reader, const eventquery::ScanResult&) override {
    declared_ = reader.declared_types();
    paths_ = reader.field_paths();
  }

  // What stopped the scan from here: a Python error (a signal handler's,
  // or ReadError), rethrown with the GIL.
  void Rethrow() const {
    if (error_) std::rethrow_exception(error_);
  }
  py::dict Frame(const Reports& reports) const {
    py::list arrays;
    for (const ObjectColumn& c : data_) arrays.append(c.ToArray());
    py::dict out;
    out["columns"] = Strs(names_);
    out["arrays"] = arrays;
    out["rows"] = rows_;
    out["reports"] = reports.List();
    py::list declared;
    for (const auto& [name, type] : declared_)
      declared.append(py::make_tuple(name, type));
    out["types"] = declared;
    py::dict paths;
    for (const auto& [path, column] : paths_) paths[Str(path)] = Str(column);
    out["paths"] = paths;
    return out;
  }

 private:
  // Makes the chunk's records objects; false when that failed or a signal
  // handler raised (error_ then holds it).
  bool Flush() {
    if (error_) return false;
    py::gil_scoped_acquire gil;
    try {
      CheckSignals();
      Convert();
    } catch (...) {
      error_ = std::current_exception();
      return false;
    }
    chunk_ = Chunk();
    return true;
  }

  void Convert() {
    // Columns the reader found meanwhile (JSON keys), named as Python has
    // them (the columns given came from there).
    const std::vector<std::string>& found = reader_->columns();
    for (size_t c = to_frame_.size(); c < found.size(); ++c) {
      const std::string readable = Readable(found[c]);
      auto at = index_.find(readable);
      // An event log's names compare without case; a piece may have met
      // another spelling first than the whole file did.
      if (at == index_.end() && traits_->names_ignore_case)
        for (auto it = index_.begin(); it != index_.end(); ++it)
          if (common::EqualsNoCase(it->first, readable)) at = it;
      if (at == index_.end() && !given_) {
        at = index_.emplace(readable, names_.size()).first;
        names_.push_back(readable);
        data_.emplace_back(rows_);
      }
      to_frame_.push_back(
          at == index_.end() ? -1 : static_cast<int64_t>(at->second));
    }
    std::vector<bool> filled(names_.size());
    size_t cell = 0;
    for (size_t r = 0; r < chunk_.row_ends.size(); ++r, ++rows_) {
      filled.assign(names_.size(), false);
      for (; cell < chunk_.row_ends[r]; ++cell) {
        const Chunk::Cell& c = chunk_.cells[cell];
        const int64_t to = to_frame_[c.column];
        const std::string_view text(chunk_.arena.data() + c.begin, c.size);
        if (to < 0)
          throw ReadError(name_ + ":" + std::to_string(chunk_.lines[r]) +
                          ": key '" + found[c.column] +
                          "' is not among the columns given; name them all");
        ObjectColumn& column = data_[static_cast<size_t>(to)];
        filled[static_cast<size_t>(to)] = true;
        if (!c.nested) {
          column.AddText(text);
          continue;
        }
        padded_.assign(text);
        padded_.append(simdjson::SIMDJSON_PADDING, '\0');
        simdjson::dom::element value;
        if (parser_.parse(padded_.data(), text.size(), false).get(value) !=
            simdjson::SUCCESS)
          throw ReadError(name_ + ":" + std::to_string(chunk_.lines[r]) +
                          ": a nested value could not be read again");
        column.Add(ToPython(value));
      }
      for (size_t c = 0; c < names_.size(); ++c)
        if (!filled[c]) data_[c].Add(py::none());
    }
  }

  const bool given_;
  Reports& reports_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, size_t> index_;
  std::vector<ObjectColumn> data_;
  std::vector<int64_t> to_frame_;  // reader column -> frame column, -1: none
  std::string name_;
  const eventquery::FormatTraits* traits_ = nullptr;
  bool header_ = false;
  const RecordReader* reader_ = nullptr;
  Chunk chunk_;
  size_t rows_ = 0;
  simdjson::dom::parser parser_;
  std::string padded_;
  std::vector<std::pair<std::string, std::string>> declared_, paths_;
  std::exception_ptr error_;
};

}  // namespace

py::dict ReadFrame(const std::string& path, const std::string& format,
                   const std::optional<std::vector<std::string>>& columns,
                   const std::optional<PieceTuple>& piece,
                   const std::string& encoding) {
  std::unique_ptr<Input> input = OpenInput(path, format, piece, encoding);
  // A piece's records count their lines from the header's (an event log's
  // records go by their ids, its pieces by chunk numbers).
  eventquery::ScanOptions options;
  if (piece) options.line_offset = std::get<4>(*piece) - std::get<1>(*piece);
  Reports reports;
  FrameSink sink(columns, reports);
  eventquery::ScanResult result;
  {
    py::gil_scoped_release release;
    result = eventquery::ScanInput(*input, sink, reports, options);
  }
  sink.Rethrow();
  ThrowIfOutOfMemory(result);
  if (!reports.failure().empty()) throw ReadError(reports.failure());
  return sink.Frame(reports);
}

py::dict DivideInput(const std::string& path, const std::string& format,
                     uint64_t piece_bytes, const std::string& encoding) {
  Opened o = Open(path, format, encoding);
  const std::string& name = o.input->name();
  const Format f = o.input->format();
  Reports reports;
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
