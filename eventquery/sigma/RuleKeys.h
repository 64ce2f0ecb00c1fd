// What a rule's lines fix at their top level, for the index: the Channel
// and EventID values one of which an event must have to match; and the
// literals one of which a field must hold (a gate).
//
// Only a top level of AND links counts, and in it a term that is one
// condition, or a bracketed OR of conditions with no brackets inside, all
// "Channel = text" (or all "EventID = text"), none negated,
// tagged, or decided by the host. Two such terms on one field intersect.
//
// Thread safety: pure.

#ifndef SIGMA_RULEKEYS_H_
#define SIGMA_RULEKEYS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "query/ConditionLine.h"

namespace eventquery::sigma {

struct RuleKeys {
  // ASCII lower case; nothing: any channel.
  std::optional<std::vector<std::string>> channels;
  std::optional<std::vector<std::string>> event_ids;  // the same, any id
};

// `host[i]` is true for a line the host decides.
RuleKeys KeysOf(const std::vector<ConditionLine>& lines,
                const std::vector<bool>& host);

// A gate: the rule is false unless one of `needles` (ASCII, not empty)
// stands in the text of its field, ignoring ASCII case. Gates are found in
// the lines' bracket structure: a condition =, LIKE or CONTAINS on text
// (not negated, not decided by the host) needs its literal (the value of =
// and CONTAINS, the longest literal run of a LIKE pattern); an OR group
// needs one of its members' needs, an AND group that of its most selective
// member; every member of the top-level AND is a gate of its own. Channel
// and EventID conditions are left to the index.
struct Gate {
  std::vector<std::pair<std::string, std::string>> needles;  // field, literal
};
std::vector<Gate> GatesOf(const std::vector<ConditionLine>& lines,
                          const std::vector<bool>& host);

}  // namespace eventquery::sigma

#endif  // SIGMA_RULEKEYS_H_
