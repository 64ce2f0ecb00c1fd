// What `match` and `hunt` do alike around their inputs: opening each in
// turn, and the end of a run a signal stopped.
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
#include "records/Inputs.h"
#include "records/RecordReader.h"
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
                  eventquery::Encoding encoding, Reporter& reporter,
                  Read read) {
  if (paths.empty()) paths.push_back("-");
  for (const std::string& path : paths) {
    if (eventquery::StopRequested()) break;
    eventquery::Input input(path, format, encoding);
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

// Says that memory ran out while `input` was read, where (`reader`'s line,
// or an event log's chunk) and after how many of its records, and ends the
// run with status 2; the records decided until then are written.
[[noreturn]] inline void OutOfMemory(Reporter& reporter,
                                     const eventquery::Input& input,
                                     const eventquery::RecordReader& reader,
                                     uint64_t records) {
  const bool evtx = input.format() == eventquery::Format::kEvtx;
  const std::string message =
      input.name() + ": not enough memory to read on at " +
      (evtx ? "chunk " : "line ") + std::to_string(reader.line()) +
      " (reading " + (evtx ? "and decoding its events" : "its record") +
      ", after " + std::to_string(records) + " record(s) of the input); " +
      "the run stops";
  reporter.Note(message);
  throw FatalError(message);
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
  reporter.Note(std::string("interrupted by ") + SignalName(signal) +
                " after " + std::to_string(records) + " record(s)");
  return 128 + signal;
}

}  // namespace evfilter

#endif  // EVFILTER_INPUTLOOP_H_
