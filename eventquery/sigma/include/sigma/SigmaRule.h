// Sigma detection rules compiled to the module's condition lines.
//
// A rule file (YAML, one or more documents) is read with yaml-cpp; each
// rule document becomes a CompiledRule or a RejectedRule with its reason.
// A rule is never run approximately: what the module's operators cannot
// express exactly is either decided by the host per event (HostCheck) or
// makes the rule "not supported".
//
//   selections    a map is an AND of its fields, a list of maps an OR; a
//                 value list is an OR (AND with |all); a list of plain
//                 values is a keyword search over every field
//   values        * and ? wildcards with \ escapes become LIKE patterns; a
//                 literal *, ?, [ or % is bracketed so it stays literal;
//                 comparisons ignore case, as the module's do
//   conditions    or < and < not < "1 of" / "all of" < brackets, written out
//                 with brackets, since the module links strictly left to
//                 right; a negation is pushed down to the conditions, each
//                 of which carries a NOT flag
//   log source    product windows with a service gives its Channel; a
//                 category gives Sysmon's channel and EventIDs (and for
//                 process_creation and network_connection, a form for the
//                 Security log's events too: MappedForm); a source
//                 without a mapping gives no condition, and a note says so
//
// Host checks: re (RE2), cidr, cased, fieldref, exists, null, a value of
// stars only ("any value") and keyword searches are decided by the host
// for each event and handed to the module
// as forced conditions; the module's tree still decides the rule. So is
// every condition on `Data`, the event's unnamed data: an event log event
// may hold several values (Data, Data_2, ...), and the condition holds
// when one of them satisfies it on its own.
//
// Thread safety: loading and compiling are pure; a CompiledRule is
// immutable and may be shared by threads (its regular expressions are
// RE2's, which are).

#ifndef SIGMA_SIGMARULE_H_
#define SIGMA_SIGMARULE_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "decide/HostCheck.h"
#include "query/ConditionLine.h"
#include "records/RecordReader.h"

namespace eventquery::sigma {

// What a rule says of itself.
struct RuleMeta {
  std::string file;
  int document = 1;  // 1-based, within the file
  std::string id;
  std::string title;
  std::string level;   // informational, low, medium, high, critical, or ""
  std::string status;  // stable, test, experimental, deprecated, ...
  std::string product, category, service;
  std::vector<std::string> tags;  // as written (attack.t1059.001, ...)
  std::string name;               // what correlations may call it by, or ""
};

// The rule as it runs on another log's events that stand for its own
// (the Security log's process starts for a process_creation rule), its
// fields mapped; a condition on a field the mapping cannot give is false.
struct MappedForm {
  std::string source;  // "Security 4688"
  std::vector<ConditionLine> lines;
  std::vector<HostCheck> checks;  // in line order
};

struct CompiledRule {
  RuleMeta meta;
  std::vector<ConditionLine> lines;
  std::vector<HostCheck> checks;   // in line order
  std::vector<std::string> notes;  // about the log source
  // Where it also runs; a detection in any form is the rule's.
  std::vector<MappedForm> mapped;
};

struct RejectedRule {
  RuleMeta meta;
  std::string reason;
  // True when the file could not be read or parsed as YAML (an error);
  // false when the rule is only not supported.
  bool unreadable = false;
};

// A filter document (the rule format's global filter, a site's tuning):
// its selection and condition compiled as a rule of its log source, which
// removes the detections of the rules it names on the events it matches.
struct CompiledFilter {
  CompiledRule rule;               // meta: the filter's title and id
  std::vector<std::string> rules;  // the ids it names
};

// A correlation document: detections of the rules it names, grouped by
// fields, within a timespan (see Correlations.h for how it is run).
struct CompiledCorrelation {
  RuleMeta meta;
  enum Type : uint8_t { kEventCount, kValueCount, kTemporal, kTemporalOrdered };
  Type type = kEventCount;
  std::vector<std::string> rules;     // ids or names, as written
  std::vector<std::string> group_by;  // fields or aliases
  // alias -> (rule id or name -> the field it stands for in its events)
  std::map<std::string, std::map<std::string, std::string>> aliases;
  int64_t timespan_ns = 0;
  // The count (events, values, rules) a window fires at (temporal: every
  // rule named, when no condition says).
  uint64_t at_least = 1;
  std::string field;      // value_count's
  bool generate = false;  // the rules named also give their own detections
};

struct RuleLoad {
  std::vector<CompiledRule> loaded;
  std::vector<CompiledFilter> filters;
  std::vector<CompiledCorrelation> correlations;
  std::vector<RejectedRule> rejected;
  size_t files = 0;
  // Entries of a rules folder named as rule files that are none ("path:
  // a dangling symbolic link"): not read, each said.
  std::vector<std::string> skipped;
};

// The largest rule file read by default; the public rule sets' largest
// are tens of KB.
inline constexpr size_t kDefaultMaxRuleBytes = size_t{4} << 20;

struct CompileOptions {
  // Placeholder name (without %) -> its values, for |expand.
  std::map<std::string, std::vector<std::string>> placeholders;
  // A rule file or text larger than this is refused, not read.
  size_t max_bytes = kDefaultMaxRuleBytes;
  // The files of a folder are compiled on this many threads (the result
  // is the same, in the same order).
  unsigned threads = 1;
};

// Compiles every rule document of one YAML text, `name` naming it in
// reports.
RuleLoad CompileRules(std::string_view yaml, const std::string& name,
                      const CompileOptions& options = {});

// Loads rule files, and folders recursively (.yml and .yaml, in name order).
// A path that cannot be read is a rejected, unreadable entry, with the
// reason: no such file, not a regular file (a FIFO or a device is never
// opened for reading, so it cannot block), larger than
// `options.max_bytes`, or a read that failed (EIO). In a folder, an entry
// named as a rule file that is no regular file (a dangling link, a link
// loop, a FIFO) is skipped and listed in `skipped`.
RuleLoad LoadRules(const std::vector<std::string>& paths,
                   const CompileOptions& options = {});

// A correlation type as the rule format writes it ("event_count", ...).
const char* CorrelationTypeName(CompiledCorrelation::Type type);

// The levels in order, lowest first; -1 for a word that is no level.
int LevelRank(std::string_view level);

// The log source of an input: what its reader says (an event log file is
// Windows, a Zeek log Zeek), else what its columns (the first record's)
// show: CloudTrail's eventSource with awsRegion is AWS; journald's
// __REALTIME_TIMESTAMP or _SYSTEMD_UNIT is Linux; Channel, EventID (so
// spelled: CloudTrail's eventID is none) or an Event.System path is
// Windows. Anything else is not known.
LogSource SourceOfInput(const LogSource& declared,
                        const std::vector<std::string>& columns);

// Whether a rule runs on an input of `source`. On an input of no known
// product every rule runs. Otherwise a rule whose product is another is
// not run, nor, when it names no product, one whose category or service
// belongs to another product's logs (a Windows category on a Zeek log; a
// category such as proxy or webserver, or a service Windows does not
// have, on Windows events). A Zeek rule's service must be the log's
// #path when both say. A rule that names no log source runs everywhere.
bool RuleRunsOn(const RuleMeta& meta, const LogSource& source);

}  // namespace eventquery::sigma

#endif  // SIGMA_SIGMARULE_H_
