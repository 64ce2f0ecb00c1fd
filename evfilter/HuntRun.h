// `evfilter hunt`: Sigma rules run over event inputs in one pass.
//
// Rules are loaded from files and folders and compiled (the event
// library's sigma part); every record of every input is read once and
// decided by every rule that the index lets near it. One detection is
// written per matching (record, rule), in input order, then rule id, the
// same on every run: JSON Lines with the event's fields, or a CSV
// timeline. A summary closes on standard error. `--list` writes what each
// rule came to instead.
//
// Thread safety: called from the main thread.

#ifndef EVFILTER_HUNTRUN_H_
#define EVFILTER_HUNTRUN_H_

#include <optional>
#include <string>
#include <vector>

#include "decide/CellReaders.h"
#include "records/Inputs.h"
#include "sigma/RuleSelection.h"
#include "sigma/SigmaRule.h"

namespace evfilter {

struct HuntOptions {
  std::vector<std::string> rules;  // files and folders
  std::vector<std::string> inputs;
  eventquery::sigma::RuleSelection select;       // which rules run
  std::vector<std::string> exclude_files;        // files of ids to leave out
  std::vector<std::string> filters;              // filter files and folders
  std::string since, until;                      // the period hunted ("": open)
  std::vector<eventquery::ConditionLine> where;  // events of interest
  std::vector<std::string> placeholders;         // NAME=VALUE
  size_t max_rule_bytes = eventquery::sigma::kDefaultMaxRuleBytes;
  // Every input's product (RuleRunsOn); "" each input's own, "any": none.
  std::string product;
  bool list = false;
  bool profile = false;
  bool strict = false;
  std::optional<eventquery::Format> input_format;
  bool csv = false;               // the timeline, not JSON Lines
  bool summary_json = false;      // the summary as one JSON object
  bool sort_by_time = false;      // detections in event-time order, not input's
  bool per_event = false;         // one line per event, its detections grouped
  bool follow = false;            // the one input read as it grows
  size_t sort_memory_mib = 1024;  // the most the sorted lines hold
  size_t sort_memory = size_t{1} << 30;
  std::string report;  // the HTML report's path ("": none)
  eventquery::Encoding encoding = eventquery::Encoding::kUtf8;
  unsigned jobs = 1;
  eventquery::Zone zone = eventquery::Zone::kLocal;
};

// Runs `hunt`; returns the exit status (0 a detection, 1 none, 2 an error).
int RunHunt(const HuntOptions& options);

}  // namespace evfilter

#endif  // EVFILTER_HUNTRUN_H_
