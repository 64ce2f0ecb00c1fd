// The module's diagnostic log, read back by the tools.
//
// The module reports a line it cannot build only in its log, and then runs
// the rest of the filter without it. The tools therefore keep the log where
// they can read it: Setup points the module's settings at a folder (or a
// private temporary one, removed at exit), and TakeNewRecords hands out
// what the module wrote since the last call. The records' layout and the
// messages looked for are the module's own (filtermodule/LogMessages.h).
//
// Thread safety: every function is safe on any thread.

#ifndef DECIDE_MODULELOG_H_
#define DECIDE_MODULELOG_H_

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
  // for trace lines. Call once, before the first filter.
  static void Setup(const std::string& folder, bool debug);
  // The records written since Setup, or since the last call.
  static std::vector<LogRecord> TakeNewRecords();
  // Why the log set up cannot be read back, or "" when it can (or none was
  // set up).
  static std::string Unreadable();
};

}  // namespace eventquery

#endif  // DECIDE_MODULELOG_H_
