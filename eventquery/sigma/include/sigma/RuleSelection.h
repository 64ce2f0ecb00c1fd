// Which of the loaded rules a hunt runs: by level, status, id and tag,
// less the ids a site excludes. Every criterion given must hold; a list
// holds when one of its entries does. Ids and tags compare ignoring ASCII
// case; a tag also takes the tags below it (attack.t1059 takes
// attack.t1059.001, attack.execution only itself).
//
// Thread safety: plain data and pure functions.

#ifndef SIGMA_RULESELECTION_H_
#define SIGMA_RULESELECTION_H_

#include <string>
#include <vector>

#include "sigma/SigmaRule.h"

namespace eventquery::sigma {

struct RuleSelection {
  std::string min_level;              // "" for any level
  std::vector<std::string> statuses;  // empty for any status
  std::vector<std::string> ids;       // empty for any id
  std::vector<std::string> tags;      // empty for any tags
  std::vector<std::string> excluded_ids;
};

// Throws std::invalid_argument for what cannot be right whatever the rules:
// a level that is none, an empty id or tag.
void CheckSelection(const RuleSelection& selection);

// Why `selection` leaves out the rule of `meta`, or "" when it runs it.
// Cost: linear in the lists and the rule's tags.
std::string LeftOutBecause(const RuleSelection& selection,
                           const RuleMeta& meta);

// The ids and tags of `selection` that none of `rules` has, each as a
// sentence ("no rule has the id X"): a mistake, since they would choose
// nothing. Excluded ids are not checked (a site's list may name rules of
// another set).
std::vector<std::string> UnmatchedChoices(const RuleSelection& selection,
                                          const std::vector<RuleMeta>& rules);

// The ids in the file at `path`: one per line, blanks around it, blank
// lines and "#" comments ignored. Throws InputError, naming the file and
// line, for a file that cannot be read or a line of more than one word.
std::vector<std::string> ReadRuleIds(const std::string& path);

}  // namespace eventquery::sigma

#endif  // SIGMA_RULESELECTION_H_
