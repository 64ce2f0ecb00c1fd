// What `match` and `hunt` do alike around their inputs: opening each in
// turn, saying what the record scan says through the reporter (records
// that cannot be read, notes on cells, memory that ran out), and the end
// of a run a signal stopped.
//
// Thread safety: the main thread.

#ifndef EVFILTER_INPUTLOOP_H_
#define EVFILTER_INPUTLOOP_H_

#include <csignal>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "Reporter.h"
#include "decide/RowFeeder.h"
#include "records/Inputs.h"
#include "records/RecordReader.h"
#include "records/RecordReports.h"
#include "records/Scan.h"
#include "records/Stop.h"

namespace evfilter {

// The inputs `paths` name, folders read recursively (ExpandFolders), with
// the folders' other files said; standard input when there are none.
inline std::vector<std::string> InputPaths(
    const std::vector<std::string>& paths, Reporter& reporter) {
  if (paths.empty()) return {"-"};
  std::vector<std::string> notes;
  std::vector<std::string> expanded = eventquery::ExpandFolders(paths, &notes);
  for (const std::string& note : notes) reporter.Note(note);
  return expanded;
}

// Calls read(input) for each of `paths` (standard input when there are
// none) that opens, until a read that returns bool returns false. Like grep, an
// input that cannot be opened is reported and the others are read. A stop ends
// the loop, also one that came while an input opened (a wait for its first
// bytes), which is no failure of it.
template <typename Read>
void ForEachInput(std::vector<std::string> paths,
                  const std::optional<eventquery::Format>& format,
                  eventquery::Encoding encoding, Reporter& reporter, Read read,
                  bool follow = false) {
  if (paths.empty()) paths.push_back("-");
  for (const std::string& path : paths) {
    if (eventquery::StopRequested()) break;
    eventquery::Input input(path, format, encoding, follow);
    if (eventquery::StopRequested()) break;
    if (!input.ok()) {
      reporter.Failure(input.name() + ": " + input.error());
      continue;
    }
    if constexpr (std::is_same_v<decltype(read(input)), bool>) {
      if (!read(input)) break;
    } else {
      read(input);
    }
  }
}

// What a scan says, said by the reporter.
class ScanSaid : public eventquery::ScanReports {
 public:
  explicit ScanSaid(Reporter& reporter) : reporter_(reporter) {}
  void Note(const std::string& message) override { reporter_.Note(message); }
  void Skipped(const char* kind, const std::string& message, bool lost_data,
               uint64_t lost) override {
    reporter_.RecordReport(kind, message, lost_data, lost);
  }
  void Failed(const std::string& message) override {
    reporter_.Failure(message);
  }

 private:
  Reporter& reporter_;
};

// Ends the run with status 2 when memory ran out in a scan (`result`),
// saying where; the records decided until then are written.
inline void EndIfOutOfMemory(Reporter& reporter,
                             const eventquery::ScanResult& result) {
  if (result.out_of_memory.empty()) return;
  const std::string message = result.out_of_memory + "; the run stops";
  reporter.Note(message);
  throw FatalError(message);
}

// Says the notes about a record's cells (`feeder` names their fields).
inline void SayCellNotes(Reporter& reporter,
                         const eventquery::RowFeeder& feeder,
                         const std::string& place,
                         const std::vector<eventquery::FeedNote>& notes) {
  using eventquery::FeedNote;
  for (const FeedNote& note : notes) {
    if (note.kind == FeedNote::kUnreadable)
      reporter.Unreadable(feeder.field_name(note.field), note.wanted, place,
                          note.cell);
    else if (note.kind == FeedNote::kNotUtf8)
      reporter.NotUtf8(feeder.field_name(note.field), place, note.cell);
    else
      reporter.Inexact(feeder.field_name(note.field), place, note.cell);
  }
}

// The name of a stop signal, for messages.
inline const char* SignalName(int signal) {
  switch (signal) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    case SIGXFSZ:
      return "SIGXFSZ";
    default:
      return "a signal";
  }
}

// 128 + the signal that stopped the run, said with the records read
// until then; 0 when none did.
inline int StoppedStatus(Reporter& reporter, uint64_t records) {
  const int signal = eventquery::StopSignal();
  if (signal == 0) return 0;
  // The reader of standard output is gone (FlushWhileWaiting): quietly.
  if (signal == SIGPIPE) return 128 + signal;
  reporter.Note(std::string("interrupted by ") + SignalName(signal) +
                " after " + std::to_string(records) + " record(s)");
  return 128 + signal;
}

}  // namespace evfilter

#endif  // EVFILTER_INPUTLOOP_H_
