// The time-ordered timeline: stable across inputs, untimed lines last,
// and a bound that refuses rather than drops; the details column.

#include "sigma/Timeline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SigmaTestRules.h"
#include "decide/TimeWindow.h"

namespace {

using eventquery::sigma::Timeline;

TEST(TimelineTest, TimeOrderIsStableAndUntimedLinesComeLast) {
  Timeline t(1 << 20);
  const struct {
    std::optional<int64_t> time;
    const char* line;
  } kAdded[] = {{30, "c1"}, {std::nullopt, "u1"}, {10, "a1"},
                {30, "c2"}, {-5, "before 1970"},  {std::nullopt, "u2"},
                {10, "a2"}};
  for (const auto& a : kAdded) ASSERT_TRUE(t.Add(a.time, a.line));
  std::vector<std::string> out;
  EXPECT_TRUE(t.Drain([&out](std::string_view l) {
    out.emplace_back(l);
    return true;
  }));
  EXPECT_EQ(out, (std::vector<std::string>{"before 1970", "a1", "a2", "c1",
                                           "c2", "u1", "u2"}));
  EXPECT_EQ(t.lines(), 0u);
  EXPECT_EQ(t.bytes(), 0u);
}

// Event times are nanoseconds in 64 bits: a year beyond them is no time
// (counted as such), never a wrapped one that sorts wrong.
TEST(TimelineTest, TimesBeyond64BitsOfNanosecondsAreNoTime) {
  using eventquery::TimeKey;
  using eventquery::Zone;
  EXPECT_TRUE(TimeKey("2261-12-31T23:59:59.9999999Z", Zone::kUtc));
  EXPECT_FALSE(TimeKey("2262-01-01T00:00:00Z", Zone::kUtc));
  EXPECT_FALSE(TimeKey("9999-12-31", Zone::kUtc));
  EXPECT_FALSE(TimeKey("1677-12-31T23:59:59Z", Zone::kUtc));
  const auto first = TimeKey("1970-01-01T00:00:01Z", Zone::kUtc);
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, 1000000000);
}

TEST(TimelineTest, ABoundRefusesTheLineThatPassesIt) {
  // Each line costs its bytes and its entry.
  Timeline probe(1 << 20);
  ASSERT_TRUE(probe.Add(1, std::string(10, 'a')));
  Timeline t(2 * probe.bytes());
  EXPECT_TRUE(t.Add(1, std::string(10, 'a')));
  EXPECT_TRUE(t.Add(2, std::string(10, 'b')));
  EXPECT_FALSE(t.Add(3, "c"));  // one byte past the bound
  EXPECT_EQ(t.lines(), 2u);
  Timeline none(0);
  EXPECT_FALSE(none.Add(1, ""));
  // A writer that fails stops the drain.
  size_t written = 0;
  EXPECT_FALSE(t.Drain([&written](std::string_view) { return ++written < 1; }));
  EXPECT_EQ(written, 1u);
}

TEST(TimelineTest, DetailsNameTheFieldsTheRuleTested) {
  const auto load = sigmatest::Compile(sigmatest::RuleText(
      "  sel:\n    Image|endswith: '\\x.exe'\n    CommandLine|contains: run\n"
      "  condition: sel\n",
      "  product: windows\n  category: process_creation\n"));
  ASSERT_EQ(load.loaded.size(), 1u);
  // Channel and EventID are left out; a Security event shows the fields
  // of the rule's mapped form; a long value is cut.
  const sigmatest::EventRecord sysmon({{"Channel", "Sysmon"},
                                       {"EventID", "1"},
                                       {"Image", "C:\\x.exe"},
                                       {"CommandLine", "run it"},
                                       {"User", "bob"}});
  EXPECT_EQ(eventquery::sigma::DetectionDetails(load.loaded[0], sysmon.record,
                                                sysmon.columns),
            "Image=C:\\x.exe; CommandLine=run it");
  const sigmatest::EventRecord security(
      {{"EventID", "4688"},
       {"NewProcessName", "C:\\x.exe"},
       {"CommandLine", "run " + std::string(300, 'y')}});
  EXPECT_EQ(eventquery::sigma::DetectionDetails(load.loaded[0], security.record,
                                                security.columns),
            "CommandLine=run " + std::string(196, 'y') +
                "...; NewProcessName=C:\\x.exe");
}

}  // namespace
