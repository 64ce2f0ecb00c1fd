// A site's filters over a rule set: each filter document is run as a rule
// of its own, and removes the detections of the rules it names on the
// events it matches (a detection stays when no filter naming its rule
// matches the event). The filters are decided only for events that a rule
// some filter names detected, so they cost nothing on the other events. A
// detection that two filters match counts as removed by both.
//
// Thread safety: RuleFilters is immutable and shared; a FilterRunner is
// used by one thread at a time.

#ifndef SIGMA_RULEFILTERS_H_
#define SIGMA_RULEFILTERS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sigma/Hunter.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {

class RuleFilters {
 public:
  // Builds `filters` over the rules of `rules`; a filter the module cannot
  // build is moved to `rejected`. A filter that names an id no rule of
  // `rules` has leaves a note (a site's filters may tune rules of another
  // set, or rules not chosen for this run).
  RuleFilters(std::vector<CompiledFilter> filters, const RuleSet& rules,
              std::vector<RejectedRule>& rejected);

  // The filters as a rule set, in its order; filter f is set().rules()[f].
  const RuleSet& set() const { return *set_; }
  size_t size() const { return set_->rules().size(); }
  // The filters (into set()) that name rule `rule` of the rule set.
  const std::vector<uint32_t>& Of(uint32_t rule) const {
    return by_rule_[rule];
  }
  // "filter 'T' (id) names the rule X, which is not among the rules run",
  // one per id.
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  std::unique_ptr<RuleSet> set_;
  std::vector<std::vector<uint32_t>> by_rule_;
  std::vector<std::string> notes_;
};

// The filter documents under `paths` (files and folders, read as
// LoadRules reads them) over `rules`. Filters that cannot be loaded join
// `rejected` as "filter: REASON"; folder entries that are no file join
// `skipped` ("path: why"). Throws std::invalid_argument ("FILE: holds a
// rule, not a filter") when a path holds a rule.
std::unique_ptr<RuleFilters> LoadFilters(const std::vector<std::string>& paths,
                                         const CompileOptions& options,
                                         const RuleSet& rules,
                                         std::vector<RejectedRule>& rejected,
                                         std::vector<std::string>& skipped);

class FilterRunner {
 public:
  FilterRunner(const RuleFilters& filters, Zone zone);

  // Removes from `matched` (rules of the rule set, as Hunter::Match gives
  // them) those a filter removes for `record`. Throws what the module's
  // IsMatch throws.
  void Apply(const Record& record, const std::vector<std::string>& columns,
             std::vector<uint32_t>& matched);
  void NewInput() { hunter_.NewInput(); }
  void UseSource(const LogSource& source) { hunter_.UseSource(source); }
  // The fields the filters read, for a reader asked for fields by name.
  std::vector<std::string> field_names() const;
  // Per filter: the detections it removed.
  const std::vector<uint64_t>& removed() const { return removed_; }

 private:
  const RuleFilters& filters_;
  Hunter hunter_;
  std::vector<uint32_t> passed_;  // the filters an event matched
  std::vector<uint64_t> removed_;
};

}  // namespace eventquery::sigma

#endif  // SIGMA_RULEFILTERS_H_
