// Many rules in one pass (Hunter: one shared row, the index, the host
// checks) against each rule alone over every event (RuleMatcher): the
// detections must be the same, while the index spares most decisions.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "SigmaTestRules.h"

namespace {

using eventquery::sigma::CompiledRule;
using eventquery::sigma::Hunter;
using eventquery::sigma::RejectedRule;
using eventquery::sigma::RuleMatcher;
using eventquery::sigma::RuleSet;
using sigmatest::Event;
using sigmatest::RuleText;

std::vector<CompiledRule> ProjectRules() {
  const struct {
    const char* id;
    const char* logsource;
    const char* detection;
  } kRules[] = {
      {"r1-mimikatz", "  product: windows\n  category: process_creation\n",
       "  sel:\n    CommandLine|contains: mimikatz\n  condition: sel\n"},
      {"r2-failed", "  product: windows\n  service: security\n",
       "  sel:\n    EventID: 4625\n  condition: sel\n"},
      {"r3-admin-logon", "  product: windows\n  service: security\n",
       "  sel:\n    EventID:\n      - 4624\n      - 4625\n"
       "    TargetUserName|startswith: adm\n  condition: sel\n"},
      {"r4-keyword", "  product: windows\n",
       "  kw:\n    - evil\n  condition: kw\n"},
      {"r5-service", "  product: windows\n  service: system\n",
       "  sel:\n    EventID: 7045\n    ImagePath|re: '(?i)\\\\temp\\\\'\n"
       "  condition: sel\n"},
      {"r6-top-or", "  product: windows\n",
       "  sel:\n    EventID: 1\n  other:\n    F: x\n  condition: sel or "
       "other\n"},
      {"r7-not", "  product: windows\n  category: image_load\n",
       "  sel:\n    F: x\n  condition: not sel\n"},
      {"r0-any", "  product: windows\n",
       "  sel:\n    F|exists: true\n  condition: sel\n"},
      // The module reads an empty REL_EXT_TAGS from EXT_TAGS.
      {"r8-tags", "  product: windows\n",
       "  sel:\n    REL_EXT_TAGS|contains: foo\n  condition: sel\n"},
      // A missing Channel: null, which the host decides (not keyed).
      {"r9-no-channel", "  product: windows\n",
       "  sel:\n    Channel: null\n    F: y\n  condition: sel\n"},
      // Also run on Security 4688 events, through the mapping.
      {"ra-mapped", "  product: windows\n  category: process_creation\n",
       "  sel:\n    Image|endswith: '\\x.exe'\n    IntegrityLevel: High\n"
       "  filter:\n    CommandLine|contains: mimikatz\n"
       "  unmapped:\n    OriginalFileName: x.exe\n"
       "  condition: (sel and not filter) or unmapped\n"},
  };
  std::vector<CompiledRule> rules;
  for (const auto& r : kRules) {
    auto load = sigmatest::Compile(RuleText(r.detection, r.logsource, r.id));
    EXPECT_EQ(load.loaded.size(), 1u) << r.id;
    for (auto& c : load.loaded) rules.push_back(std::move(c));
  }
  return rules;
}

Event RandomEvent(std::mt19937& rng) {
  auto pick = [&rng](const std::vector<const char*>& from) {
    return from[std::uniform_int_distribution<size_t>(0, from.size() - 1)(rng)];
  };
  Event e;
  auto maybe = [&](const char* field, const std::vector<const char*>& from) {
    const char* v = pick(from);
    if (v != nullptr) e.emplace_back(field, v);
  };
  maybe("Channel", {"Microsoft-Windows-Sysmon/Operational",
                    "microsoft-windows-sysmon/operational", "Security",
                    "SECURITY", "System",
                    "S\xc3\xa9"
                    "curit\xc3\xa9",
                    "", nullptr});
  maybe("EventID", {"1", "7", "4624", "4625", "7045", "01", "1.0", "x", "",
                    " 4625", "4688", nullptr});
  // U+0130 and the Kelvin sign fold to ASCII letters; "\xc2\xae" does not,
  // and invalid UTF-8 and a NUL are no text the needles stand in.
  maybe("CommandLine", {"run mimikatz now", "plain", "run MIM\xc4\xb0KATZ",
                        "mimi\xe2\x84\xaa"
                        "atz",
                        "mimi\xc2\xae", "mimi\xffkatz", nullptr});
  if (std::uniform_int_distribution<int>(0, 9)(rng) == 0)
    e.emplace_back("CommandLine", std::string("mimikatz\0x", 10));
  maybe("TargetUserName", {"admin", "bob", nullptr});
  maybe("ImagePath", {"C:\\Temp\\x.exe", "C:\\ok", nullptr});
  for (const char* image : {"Image", "NewProcessName"})
    maybe(image, {"C:\\Temp\\x.exe", "C:\\ok", nullptr});
  maybe("IntegrityLevel", {"High", "Low", nullptr});
  maybe("MandatoryLabel", {"S-1-16-12288", "S-1-16-4096", "High", nullptr});
  maybe("OriginalFileName", {"x.exe", nullptr});
  maybe("F", {"x", "y", nullptr});
  maybe("Message", {"an EVIL thing", "", nullptr});
  maybe("REL_EXT_TAGS", {"", "foo", nullptr});
  maybe("EXT_TAGS", {"xfoo", "bar", nullptr});
  std::shuffle(e.begin(), e.end(), rng);
  return e;
}

TEST(HunterTest, OnePassEqualsEachRuleAlone) {
  std::vector<RejectedRule> rejected;
  const RuleSet set(ProjectRules(), rejected);
  ASSERT_TRUE(rejected.empty());
  ASSERT_EQ(set.rules().size(), 11u);
  // In rule-id order, whatever the files' order.
  EXPECT_EQ(set.rules()[0].meta.id, "r0-any");
  // r1 and ra have a form for Security 4688 each; r0, r4, r6, r8 and r9
  // run on every event.
  EXPECT_EQ(set.forms().size(), 13u);
  EXPECT_EQ(set.keyed(), 8u);

  Hunter hunter(set, eventquery::Zone::kUtc);
  std::vector<std::unique_ptr<RuleMatcher>> alone;
  for (const CompiledRule& r : set.rules())
    alone.push_back(std::make_unique<RuleMatcher>(r, eventquery::Zone::kUtc));
  std::mt19937 rng(7);
  std::vector<uint32_t> matched;
  size_t detections = 0;
  constexpr size_t kEvents = 3000;
  for (size_t i = 0; i < kEvents; ++i) {
    const Event e = RandomEvent(rng);
    sigmatest::EventRecord r(e);
    hunter.NewInput();
    hunter.Match(r.record, r.columns, matched, nullptr);
    std::vector<uint32_t> expected;
    for (uint32_t k = 0; k < alone.size(); ++k) {
      alone[k]->NewInput();
      if (alone[k]->Match(r.record, r.columns, nullptr)) expected.push_back(k);
    }
    ASSERT_EQ(matched, expected) << "event " << i;
    detections += matched.size();
  }
  EXPECT_GT(detections, kEvents / 2);
  // Most keyed rules were skipped, and gates turned some candidates away.
  EXPECT_LT(hunter.decisions(), kEvents * 6);
  EXPECT_GT(hunter.gated(), kEvents / 10);
}

TEST(HunterTest, ColumnsThatGrowWithinAnInput) {
  // JSON inputs name new columns as records bring them; the index's and
  // the host's columns must follow.
  std::vector<RejectedRule> rejected;
  const RuleSet set(ProjectRules(), rejected);
  Hunter hunter(set, eventquery::Zone::kUtc);
  std::vector<std::string> columns = {"F"};
  eventquery::Record record;
  record.cells = {std::string_view("y")};
  std::vector<uint32_t> matched;
  hunter.Match(record, columns, matched, nullptr);
  // r0: F exists; r9: no Channel (empty text) and F = y.
  ASSERT_EQ(matched.size(), 2u);
  EXPECT_EQ(set.rules()[matched[1]].meta.id, "r9-no-channel");
  columns = {"F", "Channel", "EventID", "ImagePath"};
  record.cells = {std::string_view("y"), std::string_view("System"),
                  std::string_view("7045"), std::string_view("c:\\TEMP\\a")};
  hunter.Match(record, columns, matched, nullptr);
  ASSERT_EQ(matched.size(), 2u);
  EXPECT_EQ(set.rules()[matched[1]].meta.id, "r5-service");
  // Keys far longer than any rule's are decided without the cache.
  const std::string long_channel = "System" + std::string(5000, 'x');
  for (int i = 0; i < 3; ++i) {
    record.cells[1] =
        i == 1 ? std::string_view("System") : std::string_view(long_channel);
    hunter.Match(record, columns, matched, nullptr);
    ASSERT_EQ(matched.size(), i == 1 ? 2u : 1u) << i;
  }
  // A process start of the Security log, whose fields come after the
  // derived ones were placed: they are found where they moved to.
  columns.insert(columns.end(), {"NewProcessName", "MandatoryLabel"});
  record.cells = {std::nullopt,
                  std::string_view("Security"),
                  std::string_view("4688"),
                  std::nullopt,
                  std::string_view("C:\\Temp\\x.exe"),
                  std::string_view("S-1-16-12288")};
  hunter.Match(record, columns, matched, nullptr);
  ASSERT_EQ(matched.size(), 1u);
  EXPECT_EQ(set.rules()[matched[0]].meta.id, "ra-mapped");
}

TEST(HunterTest, DeepConditionsAreRejectedNotOverflowed) {
  std::string condition;
  for (int i = 0; i < 100; ++i) condition += "(a and ";
  condition += "a";
  for (int i = 0; i < 100; ++i) condition += ")";
  auto load = sigmatest::Compile(
      RuleText("  a:\n    F: x\n  condition: " + condition + "\n"));
  ASSERT_EQ(load.rejected.size(), 1u);
  EXPECT_NE(load.rejected[0].reason.find("deeper than 64"), std::string::npos);
  // 40 levels of alternating groups: beyond nothing, built whole.
  condition.clear();
  for (int i = 0; i < 40; ++i) condition += i % 2 ? "(a and " : "(b or ";
  condition += "a";
  for (int i = 0; i < 40; ++i) condition += ")";
  load = sigmatest::Compile(RuleText(
      "  a:\n    F: x\n  b:\n    G: y\n  condition: " + condition + "\n"));
  ASSERT_EQ(load.loaded.size(), 1u);
  std::vector<RejectedRule> rejected;
  const RuleSet set(std::move(load.loaded), rejected);
  EXPECT_EQ(set.rules().size(), 1u);
}

}  // namespace
