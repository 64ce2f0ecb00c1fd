#include "sigma/RuleSelection.h"

#include <algorithm>
#include <stdexcept>

#include "common/Ascii.h"

namespace eventquery::sigma {
namespace {

// True when the rule's `tag` is `chosen` or lies below it.
bool TagTakes(std::string_view chosen, std::string_view tag) {
  if (tag.size() < chosen.size() ||
      !common::EqualsNoCase(tag.substr(0, chosen.size()), chosen))
    return false;
  return tag.size() == chosen.size() || tag[chosen.size()] == '.';
}

bool HasTag(const RuleMeta& meta, std::string_view chosen) {
  return std::any_of(
      meta.tags.begin(), meta.tags.end(),
      [chosen](const std::string& tag) { return TagTakes(chosen, tag); });
}

bool Listed(const std::vector<std::string>& list, std::string_view id) {
  return std::any_of(list.begin(), list.end(), [id](const std::string& e) {
    return common::EqualsNoCase(e, id);
  });
}

}  // namespace

void CheckSelection(const RuleSelection& selection) {
  if (!selection.min_level.empty() && LevelRank(selection.min_level) < 0)
    throw std::invalid_argument(
        "unknown level '" + selection.min_level +
        "'; accepted: informational, low, medium, high, critical");
  for (const auto* list :
       {&selection.ids, &selection.tags, &selection.excluded_ids})
    for (const std::string& entry : *list)
      if (entry.empty())
        throw std::invalid_argument(list == &selection.tags
                                        ? "an empty tag chooses no rule"
                                        : "an empty id chooses no rule");
}

std::string LeftOutBecause(const RuleSelection& selection,
                           const RuleMeta& meta) {
  if (Listed(selection.excluded_ids, meta.id))
    return "its id '" + meta.id + "' is excluded";
  if (!selection.ids.empty() && !Listed(selection.ids, meta.id))
    return "its id '" + meta.id + "' is not among the ids chosen";
  if (!selection.min_level.empty() &&
      LevelRank(meta.level) < LevelRank(selection.min_level))
    return "level '" + meta.level + "' is below " + selection.min_level;
  if (!selection.statuses.empty() &&
      std::find(selection.statuses.begin(), selection.statuses.end(),
                meta.status) == selection.statuses.end())
    return "status '" + meta.status + "' is not among the statuses chosen";
  if (!selection.tags.empty() &&
      std::none_of(selection.tags.begin(), selection.tags.end(),
                   [&meta](const std::string& t) { return HasTag(meta, t); }))
    return "it has none of the tags chosen";
  return "";
}

std::vector<std::string> UnmatchedChoices(const RuleSelection& selection,
                                          const std::vector<RuleMeta>& rules) {
  std::vector<std::string> out;
  for (const std::string& id : selection.ids)
    if (std::none_of(rules.begin(), rules.end(), [&id](const RuleMeta& m) {
          return common::EqualsNoCase(m.id, id);
        }))
      out.push_back("no rule has the id '" + id + "'");
  for (const std::string& tag : selection.tags)
    if (std::none_of(rules.begin(), rules.end(),
                     [&tag](const RuleMeta& m) { return HasTag(m, tag); }))
      out.push_back("no rule has the tag '" + tag + "' or one below it");
  return out;
}

}  // namespace eventquery::sigma
