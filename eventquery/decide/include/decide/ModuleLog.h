// The module's diagnostic log as the tools see it.
//
// The module reports a line it cannot build only in its log, and then runs
// the rest of the filter without it. The logging library hands every
// record to observers in the process as well as to the file, so a tool
// learns of such a line whatever becomes of the file (a full disk, a folder
// shared with other runs): a LogCapture collects what the module writes on
// its thread while it lives. Setup points the module's file at a folder, or
// at a private temporary one that is removed when the process ends. The
// records' messages are the module's own (filtermodule/LogMessages.h).
//
// Thread safety: Setup once, before the first filter; captures on any
// number of threads, each seeing only its own thread's records.

#ifndef DECIDE_MODULELOG_H_
#define DECIDE_MODULELOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "filtermodule/LogMessages.h"

namespace eventquery {

// One record of the module's log.
struct LogRecord {
  std::string level;  // filtermodule::kLogLevelError, kLogLevelTrace
  std::string message;
};

class ModuleLog {
 public:
  // Points the module's log at `folder`, or, when it is empty, at a private
  // temporary folder that is removed when the process ends. `debug` asks
  // for trace lines. Throws std::runtime_error when no temporary folder can
  // be made.
  static void Setup(const std::string& folder, bool debug);
  // Records of this process the logging library could not write to the
  // file (a full disk, a lock held too long).
  static int64_t DroppedRecords();
};

// Collects the records the module writes on this thread from construction
// to destruction. Captures on one thread nest: the innermost one collects.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // The records so far, in the order written.
  const std::vector<LogRecord>& records() const { return records_; }
  // The records, moved out.
  std::vector<LogRecord> Take() { return std::move(records_); }
  // False when a record may be missing: memory ran out while one was
  // handed over (in this process; another thread's loss counts too).
  bool complete() const;

 private:
  friend struct LogCaptureAccess;
  LogCapture* outer_;
  std::vector<LogRecord> records_;
  int64_t unobserved_at_start_;
  bool lost_ = false;
};

}  // namespace eventquery

#endif  // DECIDE_MODULELOG_H_
