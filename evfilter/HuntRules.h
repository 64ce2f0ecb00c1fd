// The rules `evfilter hunt` runs: loaded from files and folders, chosen
// by level, status, id and tag, what could not be loaded said; and what
// --list and the summary say of them, and its JSON fields.
//
// Thread safety: the main thread.

#ifndef EVFILTER_HUNTRULES_H_
#define EVFILTER_HUNTRULES_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "HuntRun.h"
#include "sigma/Correlations.h"
#include "sigma/Hunter.h"
#include "sigma/RuleFilters.h"
#include "sigma/SigmaRule.h"

namespace evfilter {

struct HuntRules {
  std::unique_ptr<eventquery::sigma::RuleSet> set;          // the rules chosen
  std::unique_ptr<eventquery::sigma::RuleFilters> filters;  // over set
  std::unique_ptr<eventquery::sigma::Correlator> correlations;  // over set
  std::vector<eventquery::sigma::RejectedRule> rejected;        // not loaded
  std::vector<eventquery::sigma::RejectedRule> left_out;        // not chosen
  std::vector<std::string> skipped;  // folder entries that are no rule file
  size_t files = 0;
  // A rule file could not be read, or --strict and an entry was skipped.
  bool failed = false;
};

// Loads and chooses the rules `options` name, saying on standard error
// what was not loaded; an option that cannot be right (a level that is
// none, a product no rule names, a rule among the filters) ends the run
// (Fail).
HuntRules LoadHuntRules(const HuntOptions& options);
// --list: every rule as a JSON line, loaded or why not; the exit status.
int ListHuntRules(const HuntRules& rules);
// The summary's lines on the rules, on standard error.
void SayRuleSummary(const HuntRules& rules);

// Appends "key":"value" as JSON.
void JsonField(std::string& out, const char* key, const std::string& value);

}  // namespace evfilter

#endif  // EVFILTER_HUNTRULES_H_
