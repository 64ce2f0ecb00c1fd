// Streaming readers of event records, one per format behind RecordReader:
//
//   CSV         a header row, then records read as RFC 4180 readers do in
//               their lenient mode: a field that starts with a quote is
//               quoted (a doubled quote inside stands for one, and line
//               breaks inside belong to the field); a quote anywhere else
//               is an ordinary character; text after a closing quote is
//               kept. A quoted field that never closes is a fatal problem
//               reported at the line where it opened. A first line
//               "#TYPE ..." as Windows PowerShell writes it is skipped.
//   TSV         a header row, then one record per line, cells split at
//               tabs; inside a cell "\t", "\n", "\r" and "\\" stand for a
//               tab, a line feed, a carriage return and a backslash, and a
//               backslash before anything else is kept as it is.
//   JSON Lines  one JSON object per line (see JsonCells.h for its cells);
//               a line that is no JSON object is reported and skipped.
//   JSON array  one array of objects, pretty-printed or not, read element
//               by element (memory follows the largest element, not the
//               document); each element is a record whose line is the one
//               where it starts and whose raw text is the element made
//               compact. An element that is no object is reported and
//               skipped; a document that is not one array (no "[" first, a
//               missing comma, text after the closing "]", an array that
//               never closes) is a fatal problem where it goes wrong.
//   EVTX        a Windows event log file: one record per event, in record
//               order (a full log that wraps round is read from its oldest
//               chunk). Its raw text is a JSON object of the event's
//               fields: the System fields EventID, Version, Level, Task,
//               Opcode, Keywords, EventRecordID, Channel, Computer,
//               Provider_Name, Provider_Guid, TimeCreated (ISO 8601 UTC),
//               ProcessID, ThreadID and UserID; then each EventData Data
//               element by its Name (one without a name is Data, Data_2,
//               ...) and each UserData leaf element by its own name. Every
//               field is also reached by its full path (Event.System.
//               EventID, Event.EventData.Image); a System field whose short
//               name an EventData or UserData field takes (names compare
//               without case) goes by its full path only. Names compare
//               without case: columns that differ only in case are one. A
//               chunk or record that fails its checks is a problem record
//               (`where` names its chunk and record id) and the rest is
//               read on; a file whose header is not EVTX, or is cut short,
//               throws InputError. Deleted records in a chunk's slack
//               space are not recovered.
//
// Every text reader skips a UTF-8 byte-order mark (CSV: also before a quoted
// header) and blank lines. Duplicate column names keep the first and
// rename later copies name_2, name_3, ... (CsvCells.h splits and writes the
// cells of the two delimited formats.)
//
// Records (Record.h) stay valid until the next call of Next. Input of any
// size is read in chunks; memory stays proportional to the longest record.
//
// Thread safety: a reader is used by one thread.

#ifndef RECORDS_RECORDREADER_H_
#define RECORDS_RECORDREADER_H_

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Inputs.h"
#include "records/Record.h"

namespace eventquery {

// What kind of log an input is, in the Sigma rule format's words: a
// product ("windows", "linux", "zeek", "aws") and, where known, a service
// (a Zeek log's #path). An empty product: not known.
struct LogSource {
  std::string product, service;
};

class RecordReader {
 public:
  virtual ~RecordReader() = default;
  // Column names in order (CSV: the header; JSON: every key seen so far).
  virtual const std::vector<std::string>& columns() const = 0;
  // False at the end of the input.
  virtual bool Next(Record& record) = 0;
  // Like Next, but a CSV reader leaves the cells empty (SplitCsv makes
  // them), so that another thread can split the record.
  virtual bool NextUnsplit(Record& record) { return Next(record); }
  // True when NextUnsplit leaves the cells to SplitCsv.
  virtual bool SplitsLater() const { return false; }
  virtual uint64_t bytes_read() const = 0;
  // The offset in the stream where the next record (or blank line) starts,
  // and its line number; after the header row, before the first record.
  virtual uint64_t position() const = 0;
  virtual uint64_t line() const = 0;
  // CSV: the header row as read (without a byte-order mark) and its break.
  virtual std::string_view header_raw() const { return {}; }
  virtual std::string_view header_terminator() const { return {}; }
  // What the reader noticed about the header (renamed duplicates).
  virtual std::vector<std::string> header_notes() const { return {}; }
  // JSON: the fields the filter names, so that a name that is no key is
  // looked up as a path inside the objects.
  virtual void WantFields(const std::vector<std::string>& /*names*/) {}
  // Promises that only the cells of the fields given to WantFields will be
  // read, so that a reader may leave the others empty (JSON: an object's
  // other keys are columns and keys without cells). Readers that gain
  // nothing by it fill every cell.
  virtual void FillWantedFieldsOnly() {}
  // Field types the input declares, as (name, "numeric" or "text"): a
  // Zeek log's #types. Fields it declares as time (epoch seconds, read as
  // timestamps) are left to the expression.
  virtual std::vector<std::pair<std::string, std::string>> declared_types()
      const {
    return {};
  }
  // The log source the input says it is, as the Sigma rule format names
  // products: ("windows", "") for an event log file, ("zeek", its #path)
  // for a Zeek log; empty for inputs that do not say.
  virtual LogSource log_source() const { return {}; }
  // Names worth suggesting for a field no column matches (JSON: paths
  // seen inside the first objects).
  virtual std::vector<std::string> hint_names() const { return {}; }
  // Asks the reader to note its fields' full paths for field_paths (a
  // cost per field of every record, so only a front end that needs them
  // asks).
  virtual void KeepFieldPaths() {}
  // (full path, column) of each column whose fields all have one full path
  // other than the column's name (an event log's Event.System.EventID for
  // EventID), as far as read since KeepFieldPaths; a column whose fields
  // came from two paths has none.
  virtual std::vector<std::pair<std::string, std::string>> field_paths() const {
    return {};
  }
  // What the reader noticed about the input as a whole, each a sentence
  // for a note (EVTX: a file not closed cleanly); grows while it reads.
  virtual std::vector<std::string> input_notes() const { return {}; }
  // False when position() does not follow the file's bytes in record
  // order, so the input cannot be cut in pieces (EVTX: a log that wraps).
  virtual bool divisible() const { return true; }
  // A reader that decodes on threads of its own (EVTX) may use `threads`.
  virtual void UseThreads(unsigned /*threads*/) {}
};

// The reader for `format`, which reads the header row at once; throws
// InputError (a CSV or TSV input without a header row, one whose header
// never closes a quote). A byte-order mark is skipped only when `file`
// begins `at_file_start`: in a piece it is the content of a record.
std::unique_ptr<RecordReader> MakeRecordReader(Format format, std::FILE* file,
                                               bool at_file_start = true);
// The reader for the open `input`, in its format.
std::unique_ptr<RecordReader> MakeRecordReader(const Input& input);

// Column names made unique: later copies of a name become name_2, name_3
// (skipping names already taken). One note per renamed column.
std::vector<std::string> UniqueColumnNames(std::vector<std::string> names,
                                           std::vector<std::string>* notes);

}  // namespace eventquery

#endif  // RECORDS_RECORDREADER_H_
