// Helpers for the Sigma tests: rules from YAML texts, events from field
// lists, and a rule decided alone on an event.

#ifndef TESTS_SIGMATESTRULES_H_
#define TESTS_SIGMATESTRULES_H_

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "records/Record.h"
#include "sigma/Hunter.h"
#include "sigma/SigmaRule.h"

namespace sigmatest {

// Fields in order; a field not listed is missing.
using Event = std::vector<std::pair<std::string, std::string>>;

// A rule of `detection` (YAML, indented by two, under "detection:") and an
// optional log source block.
inline std::string RuleText(
    const std::string& detection,
    const std::string& logsource = "  product: windows\n",
    const std::string& id = "test-rule") {
  return "title: " + id + "\nid: " + id + "\nlevel: high\nlogsource:\n" +
         logsource + "detection:\n" + detection;
}

inline eventquery::sigma::RuleLoad Compile(
    const std::string& text,
    const eventquery::sigma::CompileOptions& options = {}) {
  return eventquery::sigma::CompileRules(text, "test.yml", options);
}

// A record of `event` with the columns it names.
struct EventRecord {
  explicit EventRecord(const Event& event) {
    for (const auto& [name, value] : event) {
      columns.push_back(name);
      values.push_back(value);
    }
    for (const std::string& v : values) record.cells.emplace_back(v);
  }
  std::vector<std::string> columns, values;
  eventquery::Record record;
};

// The rule alone on one event.
inline bool Matches(const eventquery::sigma::CompiledRule& rule,
                    const Event& event) {
  eventquery::sigma::RuleMatcher m(rule, eventquery::Zone::kUtc);
  EventRecord e(event);
  return m.Match(e.record, e.columns, nullptr);
}

}  // namespace sigmatest

#endif  // TESTS_SIGMATESTRULES_H_
