// The time-ordered timeline: stable across inputs, untimed lines last,
// and a bound that refuses rather than drops; the details column; the
// report's counts over time and its bounded table. (The report in a
// browser: tests/evfilter/ReportInBrowser.py.)

#include "sigma/Timeline.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "SigmaTestRules.h"
#include "decide/TimeWindow.h"
#include "sigma/HuntReport.h"

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

using eventquery::sigma::HuntReport;

// The bars' counts in a report page, summed per level (critical first),
// and how many bars there are.
std::pair<std::vector<uint64_t>, size_t> Bars(const std::string& page) {
  std::vector<uint64_t> sums(6, 0);
  size_t bars = 0;
  const std::regex counts(R"re("counts":\[([0-9,]+)\])re");
  for (std::sregex_iterator it(page.begin(), page.end(), counts), end;
       it != end; ++it, ++bars) {
    std::string list = (*it)[1];
    size_t level = 0;
    for (size_t pos = 0; pos <= list.size(); ++level) {
      const size_t comma = std::min(list.find(',', pos), list.size());
      sums[level] += std::stoull(list.substr(pos, comma - pos));
      pos = comma + 1;
    }
  }
  return {sums, bars};
}

// Buckets widen as the period grows, exactly: every timed detection is in
// one bar, from a second apart to the 584 years a time key spans.
TEST(HuntReportTest, BarsCountEveryTimedDetectionAsThePeriodGrows) {
  HuntReport report;
  HuntReport::Row row;
  const auto at = [](const char* text) {
    return eventquery::TimeKey(text, eventquery::Zone::kUtc);
  };
  const int64_t start = *at("2026-03-01T00:00:00Z");
  for (int64_t i = 0; i < 10000; ++i) {
    report.Count(i % 3 == 0 ? "high" : "low", start + i * 1'000'000'000);
    report.AddRow(row);
  }
  report.Count("critical", std::nullopt);  // no time: in no bar
  report.AddRow(row);
  auto [sums, bars] = Bars(report.Page("{}"));
  EXPECT_EQ(sums, (std::vector<uint64_t>{0, 3334, 0, 6666, 0, 0}));
  EXPECT_EQ(bars, 17u);  // 2 h 47 min in 10-minute bars
  EXPECT_NE(report.Page("{}").find(R"("width":"10 minutes")"),
            std::string::npos);
  // The far ends of the times a row holds, at a level no rule set should
  // use.
  for (const char* far : {"1970-01-01T00:00:00Z", "2261-12-31T23:59:59Z"}) {
    report.Count("bogus", at(far));
    report.AddRow(row);
  }
  const std::string page = report.Page("{}");
  std::tie(sums, bars) = Bars(page);
  EXPECT_EQ(sums, (std::vector<uint64_t>{0, 3334, 0, 6666, 0, 2}));
  EXPECT_LE(bars, HuntReport::kMostBuckets);
  EXPECT_NE(page.find(R"("width":"48 weeks","bars":[{"start":"1970-01-01")"),
            std::string::npos);
  EXPECT_EQ(report.rows(), 10003u);
}

// The table keeps its bound and says what it left out; no text of an
// event ends the data's script element early.
TEST(HuntReportTest, TheTableIsBoundedAndItsTextStaysData) {
  HuntReport report;
  HuntReport::Row row;
  row.details = "</script><script>alert(1)</script><!--";
  row.record_id = 7;
  for (size_t i = 0; i <= HuntReport::kMostRows; ++i) report.AddRow(row);
  EXPECT_EQ(report.rows(), HuntReport::kMostRows);
  EXPECT_EQ(report.rows_left_out(), 1u);
  const std::string page = report.Page(R"({"title":"</script>"})");
  EXPECT_NE(page.find(R"("rows_left_out":1,)"), std::string::npos);
  // The page's own: the data's end and the script's.
  size_t ends = 0;
  for (size_t p = page.find("</script>"); p != std::string::npos;
       p = page.find("</script>", p + 1))
    ++ends;
  EXPECT_EQ(ends, 2u);
  EXPECT_EQ(page.find("<!--"), std::string::npos);
  EXPECT_NE(page.find(R"(\u003c/script>\u003cscript>alert(1))"),
            std::string::npos);
  // An empty report is a page too.
  EXPECT_NE(HuntReport().Page("{}").find(
                R"("histogram":{"width":null,"bars":[]},"rows_left_out":0,)"
                R"("rows_are":"detections","rows":[]})"),
            std::string::npos);
}

}  // namespace
