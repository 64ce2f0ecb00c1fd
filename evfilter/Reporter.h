// Everything evfilter says on standard error while it matches.
//
// Every message starts with "evfilter: ". A progress line (on a terminal,
// for long runs) is cleared before any message or record is written, so
// output never glues onto it. Reports about single records are capped: the
// first 10 of each kind are shown, then one line tells how many more there
// were. Values that could not be read are summed up once per field at the
// end, with their count and the first place. With --strict the first
// report of any kind ends the run (FatalError).
//
// Thread safety: one thread (the one that writes the output).

#ifndef EVFILTER_REPORTER_H_
#define EVFILTER_REPORTER_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace evfilter {

// Ends the run with status 2 after its message was printed.
class FatalError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Progress {
 public:
  Progress();
  ~Progress() { Clear(); }
  void Tick(uint64_t records, uint64_t bytes);
  // Removes the progress line, if one is shown.
  void Clear();

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_;
};

class Reporter {
 public:
  explicit Reporter(bool strict) : strict_(strict) {}

  Progress& progress() { return progress_; }
  // A message shown whatever the count; not a report.
  void Note(const std::string& message);
  // A report about one record, of a kind ("malformed line", ...); with
  // --strict it ends the run. A `failure` (a record of an event log that
  // could not be read) makes the run fail at its end, too, and `lost` is
  // the records it stands for (0: unknown).
  void RecordReport(const std::string& kind, const std::string& message,
                    bool failure = false, uint64_t lost = 0);
  // A value of `field` that could not be read as `wanted`, at `place`.
  void Unreadable(const std::string& field, const std::string& wanted,
                  const std::string& place, const std::string& cell);
  // A number of `field` beyond what the module's numbers carry exactly.
  void Inexact(const std::string& field, const std::string& place,
               const std::string& cell);
  // A text of `field` that is no valid UTF-8 (`cell` as shown).
  void NotUtf8(const std::string& field, const std::string& place,
               const std::string& cell);
  // Something that makes the run fail (status 2) without stopping it.
  void Failure(const std::string& message);

  // What became of the matched records, for the closing line
  // (kRunningTotals: not counted, but --every wrote running totals).
  enum class Output {
    kWritten,
    kNotAllWritten,
    kCounted,
    kNotCounted,
    kRunningTotals
  };
  // The deferred summaries, and a closing line when anything was
  // reported.
  void Finish(uint64_t records, uint64_t matched, Output output);
  bool failed() const { return failed_; }
  uint64_t reported() const { return reported_; }

 private:
  void Print(const std::string& message);
  // The closing line's words on what became of the matched records.
  static const char* OutputWords(Output output);
  // The closing line's words on records of event logs that were lost.
  std::string LostRecords() const;
  struct PerField {
    uint64_t count = 0;
    std::string first_place, first_cell;
  };
  bool strict_;
  bool failed_ = false;
  // Records of event logs that could not be read, and in how many places.
  uint64_t lost_records_ = 0, lost_places_ = 0;
  // Places whose count of lost records is unknown.
  uint64_t unknown_places_ = 0;
  uint64_t reported_ = 0;
  Progress progress_;
  std::map<std::string, uint64_t> per_kind_;
  std::map<std::pair<std::string, std::string>, PerField> unreadable_;
  std::map<std::string, PerField> inexact_;
  std::map<std::string, PerField> not_utf8_;
};

}  // namespace evfilter

#endif  // EVFILTER_REPORTER_H_
