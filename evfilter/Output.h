// Writing matched records to standard output.
//
// A record is written unchanged when the output format is its input's: the
// same bytes, quoting and line break (a last line without one gets "\n").
// CSV output starts with a header row; whenever the columns change (another
// CSV header, or a JSON record with other keys) a blank line and a new
// header row follow, so that no value is ever dropped or put under another
// column's name. JSON output from CSV or TSV writes every cell of the row
// as a string under its column's name; CSV and TSV output from JSON writes
// the object's own keys. Records of a JSON array come as JSON Lines.
//
// With the input's name (--with-input, as grep -H) every record says which
// input it came from: a first column "input" in CSV and TSV, a first key
// "input" in JSON. A Zeek log kept as one has no place for it.
//
// With chosen fields (--fields) only those are written, in their order,
// under one header: CSV and TSV cells are empty where a record lacks a
// field, JSON values null (JSON records keep their values' types). A Zeek
// log stays one, its #fields and #types lines cut to the chosen fields.
//
// Thread safety: one thread.

#ifndef EVFILTER_OUTPUT_H_
#define EVFILTER_OUTPUT_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Reporter.h"
#include "records/FieldColumns.h"
#include "records/Formats.h"
#include "records/Inputs.h"
#include "records/JsonFieldPicker.h"
#include "records/Record.h"

namespace evfilter {

// Where a record comes from: the format of its raw text (kJsonLines for
// the elements of a JSON array), its columns and (CSV, TSV) header row.
struct Source {
  eventquery::Format format{};  // the input's own
  const std::vector<std::string>* columns = nullptr;
  std::string_view header_raw;
  std::string_view header_terminator;
};

class Writer {
 public:
  // Writes every field, or only `fields` when there are any.
  Writer(eventquery::Format format, Progress& progress,
         std::vector<std::string> fields = {});

  void Write(const eventquery::Record& record, const Source& source);
  // Whether writing a record of `source` reads cells other than the chosen
  // fields' (a record written in another format without chosen fields).
  bool ReadsEveryCell(eventquery::Format source) const;
  // False when records of `source` cannot carry the input's name that is
  // wanted: a Zeek log kept as one.
  bool CanName(const Source& source) const;
  // The next records come from another input, with columns of its own;
  // `name` is written with each when the input's name is wanted.
  void NewInput(const std::string& name = "");
  // Writes each record's input name from now on.
  void WithInput() { with_input_ = true; }
  // Sees the columns of a record that is not written, so that the chosen
  // fields find their columns where the filter's do.
  void Track(const std::vector<std::string>& columns) {
    if (picked_) picked_->See(columns);
  }

 private:
  // Whether a record of `source` is written as it was read (its raw text).
  bool WritesAsRead(eventquery::Format source) const;
  // The chosen fields of `record` into out_.
  void Pick(const eventquery::Record& record, const Source& source);
  // The same for a Zeek log written as one: its raw cells.
  void PickZeek(const eventquery::Record& record, const Source& source);
  // Starts a header block for `names` unless it is the current one (and,
  // when `raw_matters`, has the same raw header).
  void Header(const std::vector<std::string>& names, std::string_view raw,
              std::string_view terminator, bool raw_matters = false);
  char Separator() const { return out_format_.separator; }
  // Ends the row that starts at `start` in out_.
  void EndRow(size_t start);
  // A cell quoted or escaped for the output format.
  std::string Field(std::string_view text) const;
  // The input's name as the first cell of a row, when wanted, with a
  // separator when `cells_follow`.
  void StartRow(bool cells_follow);
  // The input's name as the first key of the JSON object at `start`.
  void NameInObject(size_t start);

  eventquery::Format format_;
  const eventquery::FormatTraits& out_format_;  // format_'s
  Progress& progress_;
  bool any_header_ = false;
  std::vector<std::string> header_;
  std::string header_raw_;          // the current block's raw header, if any
  std::vector<std::string> names_;  // reused
  std::string out_;
  std::vector<std::string> fields_;
  std::optional<eventquery::FieldColumns> picked_;
  std::optional<eventquery::JsonFieldPicker> json_;
  std::vector<const std::string*> from_;     // reused
  std::string zeek_source_, zeek_preamble_;  // the last Zeek log's, cut
  bool with_input_ = false;
  std::string input_;  // the current input's name
};

// Flushes standard output: "" when all that was printed is written, else
// why not ("No space left on device").
std::string FlushStandardOutput();

// When a write to standard output failed with `error` because its reader
// is gone (EPIPE: `| head` has what it wants), ends the run without a word
// and with the status a shell expects of SIGPIPE (141), by Exit, so that
// what the run made is cleaned up. Returns for any other error.
void EndIfReaderGone(int error);

// Writes `text` to standard output; a failed write is said and ends the
// run (FatalError), a reader gone ends it quietly.
void Put(std::string_view text);

// Flushes standard output before an input waits for its writer. A reader
// gone stops the run (as SIGPIPE would: quietly, status 141); another
// failure is kept for the next Put to say. Thread safety: any thread.
void FlushWhileWaiting();

// What an input's wait does (see eventquery::SetWhileWaiting): the
// waiting task, then FlushWhileWaiting. The task runs only on the thread
// that set it (a reading thread of the input's own does not write).
void WhileWaiting();

// For its life, the task WhileWaiting runs: what a run settles or writes
// while its input waits (records decided on threads, running totals). What
// it throws (what Put throws, out of memory) is kept: the next Put, or
// ThrowWhatTheWaitThrew, on its thread throws it. One at a time.
// Throws what the waiting task threw, once, when called on its thread;
// the task then runs no more.
void ThrowWhatTheWaitThrew();

class WaitingTask {
 public:
  explicit WaitingTask(std::function<void()> task);
  ~WaitingTask();
  WaitingTask(const WaitingTask&) = delete;
  WaitingTask& operator=(const WaitingTask&) = delete;
};

}  // namespace evfilter

#endif  // EVFILTER_OUTPUT_H_
