// `evfilter match`: every record of every input is read, decided by the
// filter module and written or counted, in input order, on one thread or
// several.
//
// Each record is decided by a RecordMatcher (the event library's). With
// -j N, batches of records go to N threads, each with its own matcher (a
// filter is used by one thread at a time); results are settled in input
// order (Deciders).
//
// Every input record is either written (matched, or with -v not matched),
// or not, and `match` and `match -v` together write each exactly once. A
// line that is no record is reported. --limit stops reading at the limit;
// --count-by writes counts instead of records (GroupCounts); --stats adds
// per-field counts at the end (FieldStats).

#ifndef EVFILTER_MATCHRUN_H_
#define EVFILTER_MATCHRUN_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "decide/CellReaders.h"
#include "query/ConditionLine.h"
#include "records/Inputs.h"

namespace evfilter {

struct MatchOptions {
  std::vector<std::string> inputs;
  bool count = false;
  bool invert = false;
  bool follow = false;  // the one input read as it grows, until a stop
  bool strict = false;
  // A field that no input has is a note, not an error (status 2).
  bool allow_missing = false;
  // Every record written says which input it came from (Output.h).
  bool with_input = false;
  std::optional<eventquery::Format> input_format;
  std::optional<eventquery::Format> output_format;
  eventquery::Encoding encoding = eventquery::Encoding::kUtf8;
  unsigned jobs = 1;
  eventquery::Zone zone = eventquery::Zone::kLocal;
  std::vector<std::string> fields;    // written alone, in this order
  uint64_t limit = 0;                 // records (or groups) written; 0: all
  std::vector<std::string> count_by;  // count the records by these fields
  uint64_t max_groups = 1000000;      // distinct values --count-by keeps
  bool stats = false;                 // per-field counts at the end
  // Seconds between running totals of --count or --count-by, written as
  // they change while the inputs are read; 0: at the end only.
  double every = 0;
  // The filter's lines again with the field types an input declares (a
  // Zeek log's #types); throws eventquery::SyntaxError. Unset: the lines
  // stay as given.
  std::function<std::vector<eventquery::ConditionLine>(
      const std::vector<std::pair<std::string, std::string>>&)>
      retype;
};

// Runs `match`; returns the exit status (0 written, 1 none, 2 failure).
// Throws eventquery::BuildError when the module cannot build the filter.
int RunMatch(const std::vector<eventquery::ConditionLine>& lines,
             const MatchOptions& options);

}  // namespace evfilter

#endif  // EVFILTER_MATCHRUN_H_
