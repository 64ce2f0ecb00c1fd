// The module's diagnostic log: every message of the module goes through
// WriteLog, which hands it to the logging library.
//
// The log opens itself on the first message of the process, from the host's
// settings (folder and detail flag), and stays open until the process ends.
// A message is written literally: percent signs are escaped for the
// library's formatter. An error (level 0) is written always, a trace
// (level 2) only when the host's settings ask for detailed logging.
//
// Thread safety: WriteLog may be called from any number of threads at once;
// the log opens exactly once. A failed open is retried at most once a second;
// messages in between miss the file but still reach the library, which hands
// them to the process's observers. WriteLog never throws and never fails its
// caller: a message that cannot be written is dropped.
//
// Cost: after the open, a message that the threshold drops costs two atomic
// loads; a written one costs one escaped copy (on the stack for messages of
// up to 256 characters) and one library call.

#ifndef FILTERMODULE_LOG_DIAGNOSTICLOG_H_
#define FILTERMODULE_LOG_DIAGNOSTICLOG_H_

#include <cstdint>
#include <string_view>

namespace filtermodule {

enum LogLevel : int32_t { kLogError = 0, kLogTrace = 2 };

// Writes `text` (null counts as empty) at `level`.
void WriteLog(int32_t level, const char16_t* text) noexcept;
void WriteLog(int32_t level, std::u16string_view text) noexcept;

// True when a message of `level` is within the threshold (and so goes to
// the library); lets callers skip building a message nobody reads. Opens
// the log if needed.
bool LogWants(int32_t level) noexcept;

// Number of times the log library was asked to open a log (for tests).
int32_t DiagnosticLogOpenAttempts() noexcept;

}  // namespace filtermodule

#endif  // FILTERMODULE_LOG_DIAGNOSTICLOG_H_
