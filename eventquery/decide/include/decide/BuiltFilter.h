// Building the module's filters, whole or not at all: a BuiltFilter owns a
// filter built from condition lines, and throws BuildError when the module
// wrote any error line while building it (a line it could not build,
// nesting too deep). The lines come from the module's log as it writes
// them, on the building thread (LogCapture), not from its file.
//
// Thread safety: builds may run on several threads at once, each seeing
// its own records; a BuiltFilter is then used by one thread at a time.

#ifndef DECIDE_BUILTFILTER_H_
#define DECIDE_BUILTFILTER_H_

#include <stdexcept>
#include <string>
#include <vector>

#include "decide/ModuleLog.h"
#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryFilterLines.h"
#include "query/ConditionLine.h"

namespace eventquery {

class BuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Owns a filter built from lines; throws BuildError when the module could
// not build all of it (its error lines, joined, are the message).
class BuiltFilter {
 public:
  explicit BuiltFilter(const std::vector<ConditionLine>& lines);
  ~BuiltFilter();
  BuiltFilter(const BuiltFilter&) = delete;
  BuiltFilter& operator=(const BuiltFilter&) = delete;
  IFilter* operator->() const { return filter_; }
  IFilter* get() const { return filter_; }
  // The log records of this build (the text form among them).
  const std::vector<LogRecord>& build_records() const { return records_; }
  // The filter's text form, as the module logged it; "" when the log
  // holds no trace records (detailed logging off).
  std::string text_form() const;

 private:
  memhost::MemoryFilterLineList list_;
  memhost::MemoryFilterDefinition definition_;
  IFilter* filter_ = nullptr;
  std::vector<LogRecord> records_;
};

}  // namespace eventquery

#endif  // DECIDE_BUILTFILTER_H_
