// Sigma rules from any bytes: the compiler must load them or say why, and
// what it loads must decide events alike in one pass (Hunter: the index,
// the gates, one shared row) and alone (RuleMatcher). The events name the
// fields the rules read, with values cut from the input itself, so that
// rules can match; some are the Security log's process starts, which the
// rules' mapped forms decide. Correlations run over the detections.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzLogSetup.h"
#include "common/Utf8.h"
#include "decide/BuiltFilter.h"
#include "sigma/Correlations.h"
#include "sigma/Hunter.h"
#include "sigma/SigmaRule.h"

namespace {

using eventquery::sigma::CompiledRule;
using eventquery::sigma::Hunter;
using eventquery::sigma::RejectedRule;
using eventquery::sigma::RuleMatcher;
using eventquery::sigma::RuleSet;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool log_ready = (UsePrivateLogFolder(), true);
  (void)log_ready;
  if (size > 1 << 16) return 0;
  const std::string text(reinterpret_cast<const char*>(data), size);
  eventquery::sigma::CompileOptions options;
  options.placeholders["p"] = {"x*", "y"};
  auto load = eventquery::sigma::CompileRules(text, "fuzz.yml", options);
  for (const RejectedRule& r : load.rejected)
    if (r.reason.empty()) std::abort();  // a rejection always says why
  if (load.loaded.empty()) return 0;
  // The fields the rules read, Channel and EventID among them.
  std::vector<std::string> fields = {"Channel", "EventID", "TimeCreated"};
  for (const CompiledRule& rule : load.loaded)
    for (const auto& line : rule.lines) {
      const std::string f = common::ToUtf8(line.field);
      bool known = false;
      for (const std::string& g : fields) known = known || g == f;
      if (!known && fields.size() < 64) fields.push_back(f);
    }
  std::vector<RejectedRule> rejected;
  const RuleSet set(std::move(load.loaded), rejected);
  eventquery::sigma::Correlator correlator(std::move(load.correlations), set,
                                           rejected, 1 << 20,
                                           eventquery::Zone::kUtc);
  Hunter hunter(set, eventquery::Zone::kUtc);
  std::vector<std::unique_ptr<RuleMatcher>> alone;
  for (const CompiledRule& r : set.rules())
    alone.push_back(std::make_unique<RuleMatcher>(r, eventquery::Zone::kUtc));
  std::vector<std::string> values;
  for (size_t e = 0; e < 8; ++e) {
    values.clear();
    for (size_t f = 0; f < fields.size(); ++f) {
      // A slice of the input, or a value the log sources name.
      const size_t pick = (e * 31 + f * 7) % (size + 3);
      if (f == 0 && e % 2 == 0)
        values.push_back("Microsoft-Windows-Sysmon/Operational");
      else if (f == 0 && e % 4 == 1)
        values.push_back("Security");
      else if (f == 1 && e % 3 == 0)
        values.push_back("1");
      else if (f == 1 && e % 4 == 1)
        values.push_back("4688");
      else if (f == 2)
        values.push_back("2024-01-01T00:0" + std::to_string(e) + ":00Z");
      else if (pick < size)
        values.push_back(text.substr(pick, 1 + (e + f) % 12));
      else
        values.push_back("");
    }
    eventquery::Record record;
    for (size_t f = 0; f < fields.size(); ++f)
      if ((e + f) % 5 != 4)
        record.cells.emplace_back(values[f]);
      else
        record.cells.emplace_back(std::nullopt);
    std::vector<uint32_t> matched, expected;
    hunter.Match(record, fields, matched, nullptr);
    for (uint32_t r = 0; r < alone.size(); ++r)
      if (alone[r]->Match(record, fields, nullptr)) expected.push_back(r);
    if (matched != expected) {
      std::fprintf(stderr, "one pass and alone differ on event %zu\n", e);
      std::abort();
    }
    for (uint32_t r : matched)
      if (!correlator.Add(record, fields, r, "fuzz", e)) break;
  }
  for (const auto& found : correlator.Run())
    if (found.events.empty()) std::abort();  // made of detections
  return 0;
}
