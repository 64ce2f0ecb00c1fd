#include "sigma/RuleFilters.h"

#include <algorithm>
#include <map>
#include <stdexcept>
#include <utility>

#include "common/Ascii.h"

namespace eventquery::sigma {

RuleFilters::RuleFilters(std::vector<CompiledFilter> filters,
                         const RuleSet& rules,
                         std::vector<RejectedRule>& rejected) {
  // The set orders its rules by id: each finds its names again by where it
  // was written.
  std::map<std::pair<std::string, int>, std::vector<std::string>> names;
  std::vector<CompiledRule> as_rules;
  for (CompiledFilter& f : filters) {
    names[{f.rule.meta.file, f.rule.meta.document}] = std::move(f.rules);
    as_rules.push_back(std::move(f.rule));
  }
  set_ = std::make_unique<RuleSet>(std::move(as_rules), rejected);
  by_rule_.resize(rules.rules().size());
  for (uint32_t f = 0; f < set_->rules().size(); ++f) {
    const RuleMeta& meta = set_->rules()[f].meta;
    for (const std::string& id : names[{meta.file, meta.document}]) {
      bool found = false;
      for (uint32_t r = 0; r < rules.rules().size(); ++r)
        if (common::EqualsNoCase(rules.rules()[r].meta.id, id)) {
          // An id named twice counts once.
          if (by_rule_[r].empty() || by_rule_[r].back() != f)
            by_rule_[r].push_back(f);
          found = true;
        }
      if (!found)
        notes_.push_back("filter '" + meta.title + "' (" + meta.id +
                         ") names the rule " + id +
                         ", which is not among the rules run");
    }
  }
}

std::unique_ptr<RuleFilters> LoadFilters(const std::vector<std::string>& paths,
                                         const CompileOptions& options,
                                         const RuleSet& rules,
                                         std::vector<RejectedRule>& rejected,
                                         std::vector<std::string>& skipped) {
  RuleLoad load = LoadRules(paths, options);
  if (!load.loaded.empty())
    throw std::invalid_argument(load.loaded[0].meta.file +
                                ": holds a rule, not a filter");
  if (!load.correlations.empty())
    throw std::invalid_argument(load.correlations[0].meta.file +
                                ": holds a correlation rule, not a filter");
  for (RejectedRule& r : load.rejected) {
    r.reason = "filter: " + r.reason;
    rejected.push_back(std::move(r));
  }
  for (std::string& s : load.skipped) skipped.push_back(std::move(s));
  return std::make_unique<RuleFilters>(std::move(load.filters), rules,
                                       rejected);
}

FilterRunner::FilterRunner(const RuleFilters& filters, Zone zone)
    : filters_(filters),
      hunter_(filters.set(), zone),
      removed_(filters.size(), 0) {}

std::vector<std::string> FilterRunner::field_names() const {
  std::vector<std::string> names = hunter_.field_names();
  for (const std::string& f : filters_.set().host_fields()) names.push_back(f);
  return names;
}

void FilterRunner::Apply(const Record& record,
                         const std::vector<std::string>& columns,
                         std::vector<uint32_t>& matched) {
  if (std::all_of(matched.begin(), matched.end(),
                  [this](uint32_t r) { return filters_.Of(r).empty(); }))
    return;
  // Cells a filter cannot read are the rules' to report, which read them
  // too or not at all: the filter is false there.
  hunter_.Match(record, columns, passed_, nullptr);
  if (passed_.empty()) return;
  std::erase_if(matched, [this](uint32_t r) {
    bool removed = false;
    for (const uint32_t f : filters_.Of(r))
      if (std::binary_search(passed_.begin(), passed_.end(), f)) {
        ++removed_[f];
        removed = true;
      }
    return removed;
  });
}

}  // namespace eventquery::sigma
