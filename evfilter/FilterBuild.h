// Building the module's filters, whole or not at all.
//
// The module reports a line it cannot build only in its diagnostic log, and
// then runs the rest of the filter without it. evfilter therefore keeps the
// module's log where it can read it (ModuleLog) and refuses every filter
// whose building wrote an error line (BuiltFilter throws BuildError).
//
// FilterVariants holds the filter and its variants: in a variant, chosen
// conditions are replaced by lines that can never match (a LIKE with an
// unclosed "[" set) or always do (CONTAINS of the empty text), keeping
// their NOT flag, brackets and link. That is how a condition is decided
// "false before its NOT" for a record whose value it cannot use.
//
// Thread safety: ModuleLog is safe on any thread; a BuiltFilter and a
// FilterVariants are used by one thread.

#ifndef EVFILTER_FILTERBUILD_H_
#define EVFILTER_FILTERBUILD_H_

#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "filter/LogMessages.h"
#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryFilterLines.h"

namespace evfilter {

// What evfilter looks for in the module's log (the messages are the
// module's own, filter/LogMessages.h).
inline constexpr char kLogFileName[] = "Filter-Module.csv";
inline constexpr const char* kLogCreatingFromDefinition =
    filtermodule::kMsgCreatingFromDefinitionUtf8;
inline constexpr const char* kLogFilterInitialized =
    filtermodule::kMsgFilterInitializedUtf8;
inline constexpr char kLogLevelError[] = "ERROR";
inline constexpr char kLogLevelTrace[] = "TRACE";

// One record of the module's log.
struct LogRecord {
  std::string level;  // "ERROR", "TRACE"
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

class BuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Owns a filter built from lines; throws BuildError when the module could
// not build all of it (its error lines, joined, are the message).
class BuiltFilter {
 public:
  explicit BuiltFilter(const std::vector<memhost::LineSpec>& lines);
  ~BuiltFilter();
  BuiltFilter(const BuiltFilter&) = delete;
  BuiltFilter& operator=(const BuiltFilter&) = delete;
  IFilter* operator->() const { return filter_; }
  IFilter* get() const { return filter_; }
  // The log records of this build (the text form among them).
  const std::vector<LogRecord>& build_records() const { return records_; }

 private:
  memhost::MemoryFilterLineList list_;
  memhost::MemoryFilterDefinition definition_;
  IFilter* filter_ = nullptr;
  std::vector<LogRecord> records_;
};

class FilterVariants {
 public:
  explicit FilterVariants(std::vector<memhost::LineSpec> lines);
  // The filter for one record: `forced` holds one mark per line (see
  // RowFeeder: loaded, forced false, forced true). Built on first use.
  IFilter* For(const std::string& forced);
  IFilter* base() const { return base_->get(); }
  size_t variants_built() const { return built_; }

 private:
  std::vector<memhost::LineSpec> lines_;
  std::unique_ptr<BuiltFilter> base_;
  std::unordered_map<std::string, std::unique_ptr<BuiltFilter>> cache_;
  size_t built_ = 0;
};

}  // namespace evfilter

#endif  // EVFILTER_FILTERBUILD_H_
