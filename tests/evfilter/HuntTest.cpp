// evfilter hunt end to end: rules written here for the cases, event logs
// the test writer makes, and the output, summary and exit status an
// analyst reads.

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "EvfilterRun.h"
#include "EvtxWriter.h"

namespace {

using evtxtest::Event;
using evtxtest::Writer;

constexpr char kSysmon[] = "Microsoft-Windows-Sysmon/Operational";

// Process creations: every third runs mimikatz, every fifth is by
// "Admin" from a temp folder.
Writer SysmonLog(size_t events) {
  Writer w;
  for (size_t i = 1; i <= events; ++i) {
    Event e;
    e.record_id = 100 + i;
    e.event_id = 1;
    e.channel = kSysmon;
    e.provider = "Microsoft-Windows-Sysmon";
    e.computer = i % 2 ? "WS01" : "WS02";
    e.filetime = 133800000000000000ULL + i * 600000000ULL;
    e.data = {
        {"Image", i % 5 == 0 ? "C:\\Users\\Admin\\AppData\\Local\\Temp\\x.exe"
                             : "C:\\Windows\\System32\\cmd.exe"},
        {"CommandLine",
         i % 3 == 0 ? "m.exe sekurlsa::logonpasswords" : "cmd /c dir"},
        {"User", i % 5 == 0 ? "CORP\\Admin" : "CORP\\bob"}};
    w.Add(e);
  }
  return w;
}

// A Security log whose EventID 1 events must not meet Sysmon's rules.
Writer SecurityLog() {
  Writer w;
  for (size_t i = 1; i <= 4; ++i) {
    Event e;
    e.record_id = i;
    e.event_id = i == 4 ? 1 : 4625;
    e.data = {{"TargetUserName", "admin"},
              {"CommandLine", "m.exe sekurlsa::logonpasswords"}};
    w.Add(e);
  }
  return w;
}

constexpr char kMimikatz[] = R"(title: Mimikatz command line
id: 11111111-0000-0000-0000-000000000001
status: stable
level: high
tags:
  - attack.credential-access
  - attack.t1003.001
logsource:
  product: windows
  category: process_creation
detection:
  sel:
    CommandLine|contains: 'sekurlsa::'
  condition: sel
)";

constexpr char kTempImage[] = R"(title: Image in a temp folder
id: 11111111-0000-0000-0000-000000000002
status: test
level: medium
tags: [attack.execution]
logsource:
  product: windows
  category: process_creation
detection:
  sel:
    Image|re: '(?i)\\temp\\[^\\]+\.exe$'
  filter:
    User|endswith: '\bob'
  condition: sel and not filter
)";

constexpr char kFailedLogon[] = R"(title: Failed logon
id: 11111111-0000-0000-0000-000000000003
level: low
logsource:
  product: windows
  service: security
detection:
  sel:
    EventID: 4625
  condition: sel
)";

constexpr char kBackreference[] = R"(title: Repeated word
id: 11111111-0000-0000-0000-000000000004
level: high
logsource:
  product: windows
  category: process_creation
detection:
  sel:
    CommandLine|re: '(\w+) \1'
  condition: sel
)";

// Mimikatz's detections of Admin are the site's own (and a rule not run).
constexpr char kAdminFilter[] = R"(title: Admin's tools
id: f1
logsource:
  product: windows
  category: process_creation
filter:
  rules:
    - 11111111-0000-0000-0000-000000000001
    - 99999999-0000-0000-0000-000000000000
    - 11111111-0000-0000-0000-000000000001
  selection:
    User|endswith: '\Admin'
  condition: selection
)";

class EvfilterHuntTest : public EvfilterCliTest {
 protected:
  void SetUp() override {
    EvfilterCliTest::SetUp();
    fs::create_directories(dir_ / "rules" / "windows");
    File("rules/mimikatz.yml", kMimikatz);
    File("rules/windows/temp.yaml", kTempImage);
    File("rules/windows/failed.yml", kFailedLogon);
    File("rules/windows/backref.yml", kBackreference);
    File("rules/README.md", "not a rule");
    rules_ = (dir_ / "rules").string();
    sysmon_ = File("sysmon.evtx", SysmonLog(15).Bytes());
    security_ = File("security.evtx", SecurityLog().Bytes());
  }

  static size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos;
         at = s.find(what, at + 1))
      ++n;
    return n;
  }

  std::string rules_, sysmon_, security_;
};

TEST_F(EvfilterHuntTest, DetectionsInInputOrderThenRuleId) {
  const Result r =
      Run("hunt --rules " + rules_ + " " + sysmon_ + " " + security_);
  ASSERT_EQ(r.status, 0) << r.err;
  // Mimikatz: records 3, 6, 9, 12, 15; temp image by Admin: 5, 10, 15;
  // failed logons: security records 1-3 (record 4 is an EventID 1 that is
  // not Sysmon's).
  EXPECT_EQ(Count(r.out, "\n"), 11u) << r.out;
  EXPECT_EQ(
      Count(r.out, "\"rule_id\":\"11111111-0000-0000-0000-000000000001\""), 5u);
  EXPECT_EQ(Count(r.out, "\"rule_title\":\"Image in a temp folder\""), 3u);
  EXPECT_EQ(Count(r.out, "\"level\":\"low\""), 3u);
  // Record 115 meets two rules: by rule id, after record 112's.
  const size_t r112 = r.out.find("\"record_id\":112,");
  const size_t first = r.out.find("\"record_id\":115,");
  const size_t second = r.out.find("\"record_id\":115,", first + 1);
  ASSERT_NE(second, std::string::npos);
  EXPECT_LT(r112, first);
  const size_t line = r.out.rfind('\n', first) + 1;
  EXPECT_LT(r.out.find("000000000001", line), r.out.find("000000000002", line));
  EXPECT_NE(r.out.find("\"timestamp\":\"20"), std::string::npos);
  EXPECT_NE(r.out.find("\"event\":{\"EventID\":1,"), std::string::npos);
  EXPECT_NE(r.out.find("\"input\":\"" + security_ + "\",\"record_id\":1,"),
            std::string::npos);
  // The same on every run.
  EXPECT_EQ(Run("hunt --rules " + rules_ + " " + sysmon_ + " " + security_).out,
            r.out);
  // The summary: rules, events, detections by level, the top rules.
  EXPECT_NE(
      r.err.find("rules: 3 loaded, 1 not supported (regular expression: 1)"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("events: 19 read"), std::string::npos);
  // Each rule not run is named with its file, id and reason.
  EXPECT_NE(r.err.find("backref.yml (11111111-0000-0000-0000-000000000004): "
                       "not supported: regular expression"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("detections: 11 (critical 0, high 5, medium 3, low 3, "
                       "informational 0)"),
            std::string::npos);
  // Every rule that fired, with its count and level; the hosts; the
  // detected events' first and last time.
  EXPECT_NE(r.err.find("rules that fired (3):\n"
                       "             5  Mimikatz command line "
                       "(11111111-0000-0000-0000-000000000001, high)\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("detections per host (3 host(s)):\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("detected events from "), std::string::npos);
  EXPECT_EQ(r.err.find("slowest rules"), std::string::npos);
  // For scripts: the summary as one JSON object, the last line.
  const Result json = Run("hunt --summary json --rules " + rules_ + " " +
                          sysmon_ + " " + security_);
  EXPECT_EQ(json.status, 0);
  const size_t last = json.err.rfind('\n', json.err.size() - 2);
  const std::string summary = json.err.substr(last + 1);
  EXPECT_EQ(summary.rfind("{\"detections\":11,\"by_level\":{\"critical\":0,"
                          "\"high\":5,\"medium\":3,\"low\":3,"
                          "\"informational\":0},\"rules\":[{\"id\":"
                          "\"11111111-0000-0000-0000-000000000001\"",
                          0),
            0u)
      << json.err;
  EXPECT_NE(summary.find("\"hosts\":[{\"host\":"), std::string::npos);
  EXPECT_NE(summary.find("\"rules_loaded\":3,\"rules_not_supported\":1,"
                         "\"events\":{\"read\":19,"),
            std::string::npos)
      << summary;
  EXPECT_EQ(json.err.find("evfilter: detections:"), std::string::npos);
  EXPECT_NE(Run("hunt --profile --rules " + rules_ + " " + sysmon_)
                .err.find("slowest rules:"),
            std::string::npos);
}

TEST_F(EvfilterHuntTest, TimelineAsCsv) {
  const Result r =
      Run("hunt --output-format csv --rules " + rules_ + " " + sysmon_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("timestamp,level,rule_title,rule_id,input,record_id,"
                        "Computer,Channel,EventID,details\n",
                        0),
            0u);
  // The details are the fields the rule tested, with their values.
  EXPECT_NE(r.out.find(",high,Mimikatz command line,11111111-0000-0000-0000-"
                       "000000000001," +
                       sysmon_ + ",103,WS01," + kSysmon +
                       ",1,CommandLine=m.exe sekurlsa::logonpasswords\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(Count(r.out, "\n"), 9u);
  // --per-event: record 115 fired both rules; one line, the highest level.
  const Result json = Run("hunt --per-event --rules " + rules_ + " " + sysmon_);
  EXPECT_EQ(Count(json.out, "\n"), 7u) << json.out;
  EXPECT_NE(json.out.find("{\"rule_ids\":[\"11111111-0000-0000-0000-"
                          "000000000001\",\"11111111-0000-0000-0000-"
                          "000000000002\"],\"rule_titles\":[\"Mimikatz "
                          "command line\",\"Image in a temp folder\"],"
                          "\"level\":\"high\",\"input\":\"" +
                          sysmon_ + "\",\"record_id\":115,"),
            std::string::npos)
      << json.out;
  const Result csv = Run("hunt --per-event --output-format csv --rules " +
                         rules_ + " " + sysmon_);
  EXPECT_NE(csv.out.find(",high,Mimikatz command line; Image in a temp folder,"
                         "11111111-0000-0000-0000-000000000001; "
                         "11111111-0000-0000-0000-000000000002," +
                         sysmon_ + ",115,"),
            std::string::npos)
      << csv.out;
}

// --sort time: one timeline in event-time order across inputs, whatever
// their order; a detection's place among those of its time is kept.
TEST_F(EvfilterHuntTest, TimelineSortedByEventTime) {
  // Sysmon's events are of 2024; the Security log's of 2019.
  for (const char* format : {"jsonl", "csv"}) {
    const std::string run = std::string("hunt --output-format ") + format +
                            " --rules " + rules_ + " " + sysmon_ + " " +
                            security_;
    const Result found = Run(run);
    const Result sorted = Run(run + " --sort time");
    ASSERT_EQ(sorted.status, 0) << sorted.err;
    EXPECT_EQ(Count(sorted.out, "\n"), Count(found.out, "\n"));
    EXPECT_LT(found.out.find(sysmon_), found.out.find(security_)) << format;
    EXPECT_LT(sorted.out.find(security_), sorted.out.find(sysmon_)) << format;
    // Within each input the times rise already: its order is kept.
    std::string from_sysmon, sorted_sysmon;
    for (const auto* out : {&found.out, &sorted.out})
      for (size_t at = 0; at < out->size();) {
        const size_t end = out->find('\n', at);
        const std::string line = out->substr(at, end - at + 1);
        if (line.find(sysmon_) != std::string::npos)
          (out == &found.out ? from_sysmon : sorted_sysmon) += line;
        at = end + 1;
      }
    EXPECT_EQ(sorted_sysmon, from_sysmon) << format;
  }
  // Detections that do not fit the bound: an error, and none written
  // rather than a timeline with a part missing.
  const std::string many = File("many.evtx", SysmonLog(6000).Bytes());
  const Result r =
      Run("hunt --sort time --sort-memory 1 --rules " + rules_ + " " + many);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("the detections sorted by time need more than 1 MiB "
                       "(--sort-memory): none written"),
            std::string::npos)
      << r.err;
}

// --report: one page, written whole at the end, private; a symbolic link
// is neither followed nor replaced, and a place it cannot be written is
// an error. (Its content in a browser: ReportInBrowser.py.)
TEST_F(EvfilterHuntTest, ReportIsWrittenWholeAndPrivately) {
  const fs::path page = dir_ / "report.html";
  Result r = Run("hunt --report " + page.string() + " --rules " + rules_ + " " +
                 sysmon_);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = Read(page);
  EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(text.find("\"detections\":" + std::to_string(Count(r.out, "\n"))),
            std::string::npos);
  EXPECT_EQ(fs::status(page).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // A link at the name is an error; it and its target stay as they were.
  const std::string target = File("target.txt", "keep me");
  const fs::path link = dir_ / "link.html";
  fs::create_symlink(target, link);
  r = Run("hunt --report " + link.string() + " --rules " + rules_ + " " +
          security_);
  EXPECT_EQ(r.status, 2) << r.err;
  EXPECT_NE(r.err.find("is a symbolic link: neither followed nor replaced"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(target), "keep me");
  // No detection: still a page, saying none.
  r = Run("hunt --report " + page.string() + " --rules " +
          (dir_ / "rules/mimikatz.yml").string() + " " + security_);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(Read(page).find("{\"summary\":{\"detections\":0,"),
            std::string::npos);
  // A folder that is not there: an error that names the option, and the
  // detections still written.
  r = Run("hunt --report " + (dir_ / "no/such/report.html").string() +
          " --rules " + rules_ + " " + sysmon_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.out, "");
  EXPECT_NE(r.err.find("--report " + (dir_ / "no/such/report.html").string() +
                       ": No such file or directory"),
            std::string::npos)
      << r.err;
  // An empty name is no report silently left out, nor an empty product
  // every input's own.
  for (const char* option : {"--report", "--product"}) {
    r = Run(std::string("hunt ") + option + " '' --rules " + rules_ + " " +
            sysmon_);
    EXPECT_EQ(r.status, 2) << option;
    EXPECT_EQ(r.out, "") << option;
    EXPECT_NE(r.err.find(std::string(option) + ": needs "), std::string::npos)
        << r.err;
  }
  // Nothing of the writes is left beside the page.
  for (const auto& entry : fs::directory_iterator(dir_))
    EXPECT_EQ(entry.path().filename().string().find("report.html."),
              std::string::npos)
        << entry.path();
}

TEST_F(EvfilterHuntTest, ExportsNumberTheirRecords) {
  // A CSV export: record_id counts records, not lines; no time column.
  const std::string csv = File(
      "export.csv", "Channel,EventID,CommandLine\n" + std::string(kSysmon) +
                        ",1,\"a\nb\"\n" + kSysmon + ",1,run sekurlsa::x\n");
  const Result r = Run("hunt --rules " + rules_ + " " + csv);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.out.find("\"record_id\":2,\"timestamp\":null,\"event\":{\"Channel\""),
      std::string::npos)
      << r.out;
}

TEST_F(EvfilterHuntTest, ExitStatuses) {
  // No detection: 1.
  const std::string quiet = File("quiet.evtx", SecurityLog().Bytes());
  EXPECT_EQ(Run("hunt --rules " + (dir_ / "rules/mimikatz.yml").string() + " " +
                quiet)
                .status,
            1);
  // A rule file that is no YAML is an error; the other rules still run.
  File("rules/broken.yml", "title: x\ndetection: [unclosed\n");
  const Result broken = Run("hunt --rules " + rules_ + " " + sysmon_);
  EXPECT_EQ(broken.status, 2);
  EXPECT_NE(broken.err.find("broken.yml: not YAML"), std::string::npos)
      << broken.err;
  EXPECT_EQ(Count(broken.out, "\n"), 8u);
  // A path that is not there.
  const Result missing =
      Run("hunt --rules " + (dir_ / "nowhere").string() + " " + sysmon_);
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("no such file or folder"), std::string::npos);
  // An input that cannot be read.
  EXPECT_EQ(Run("hunt --rules " + rules_ + " " + (dir_ / "none.evtx").string())
                .status,
            2);
}

TEST_F(EvfilterHuntTest, ListSaysWhatEachRuleCameTo) {
  const Result r = Run("hunt --list --rules " + rules_);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "\"load\":\"loaded\""), 3u);
  EXPECT_NE(
      r.out.find("\"id\":\"11111111-0000-0000-0000-000000000004\","
                 "\"title\":\"Repeated word\",\"level\":\"high\","
                 "\"tags\":[],\"load\":\"not supported: regular expression"),
      std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("backref.yml"), std::string::npos);
  EXPECT_NE(r.err.find("rules: 3 loaded, 1 not supported"), std::string::npos);
}

// A site's filter removes the detections of the rules it names on the
// events it matches, and the summary counts them; filters and rules each
// have their own option.
TEST_F(EvfilterHuntTest, FiltersRemoveWhatTheyMatchOfTheRulesTheyName) {
  const std::string filter = File("mf_admin.yml", kAdminFilter);
  const std::string all = Run("hunt --rules " + rules_ + " " + sysmon_).out;
  Result r =
      Run("hunt --rules " + rules_ + " --filters " + filter + " " + sysmon_);
  EXPECT_EQ(r.status, 0) << r.err;
  // Mimikatz matched records 103, 106, 109, 112 and 115; 115 is Admin's.
  // The temp image rule, which the filter does not name, keeps its own.
  EXPECT_EQ(Count(all, "\"record_id\":115"), 2u);
  EXPECT_EQ(Count(r.out, "\n") + 1, Count(all, "\n"));
  EXPECT_EQ(Count(r.out, "\"record_id\":115"), 1u);
  EXPECT_NE(r.err.find("filter 'Admin's tools' (f1) removed 1 detection(s)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("names the rule 99999999-0000-0000-0000-000000000000, "
                       "which is not among the rules run"),
            std::string::npos);
  // A filter among the rules is not run as a rule, and says why.
  r = Run("hunt --rules " + rules_ + " --rules " + filter + " " + sysmon_);
  EXPECT_EQ(Count(r.out, "\n"), Count(all, "\n"));
  EXPECT_NE(r.err.find("a filter document: give its file with --filters"),
            std::string::npos)
      << r.err;
  // A rule among the filters, or a filter file that cannot be read, is an
  // error.
  r = Run("hunt --rules " + rules_ + " --filters " + rules_ + " " + sysmon_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("holds a rule, not a filter"), std::string::npos);
  r = Run("hunt --rules " + rules_ + " --filters " +
          (dir_ / "none.yml").string() + " " + sysmon_);
  EXPECT_EQ(r.status, 2);
}

// With rules compiled and records decided on threads, a hunt is as on
// one: detections in input order, the same rules said (the one not
// supported among them), the same summary (what the filter removed and
// what the scope left, summed over the threads). The log is large enough
// for many batches.
TEST_F(EvfilterHuntTest, ThreadsDecideAsOneDoes) {
  const std::string big = File("big.evtx", SysmonLog(6000).Bytes());
  const std::string filter = File("mf_admin.yml", kAdminFilter);
  const std::string hunt =
      "hunt --summary json --utc --since 2024-12-30T03:00:00Z --where "
      "\"Computer = WS01\" --filters " +
      filter + " --rules " + rules_ + " " + big + " " + sysmon_ + " -j ";
  const Result one = Run(hunt + "1");
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_GT(Count(one.out, "\n"), 1000u);
  EXPECT_NE(one.err.find("\"removed\":"), std::string::npos) << one.err;
  for (const char* jobs : {"2", "3"}) {
    const Result many = Run(hunt + jobs);
    EXPECT_EQ(many.status, 0) << many.err;
    EXPECT_TRUE(many.out == one.out) << "-j " << jobs;
    EXPECT_EQ(many.err, one.err) << "-j " << jobs;
  }

  // A line that is no record comes after the detections before it, and
  // --strict, which ends the run there, keeps them.
  std::string lines;
  for (int i = 0; i < 600; ++i)
    lines += std::string(i == 300 ? "not json\n" : "") +
             "{\"EventID\":1,\"Channel\":\"Microsoft-Windows-Sysmon/"
             "Operational\",\"CommandLine\":\"m.exe sekurlsa::x\"}\n";
  const std::string broken = File("broken.jsonl", lines);
  for (const char* strict : {"", "--strict "}) {
    const std::string cut = std::string("hunt --product windows ") + strict +
                            "--rules " + rules_ + " " + broken + " -j ";
    const Result alone = Run(cut + "1");
    EXPECT_EQ(Count(alone.out, "\n"), *strict ? 300u : 600u) << strict;
    const Result two = Run(cut + "2");
    EXPECT_EQ(two.status, alone.status) << strict;
    EXPECT_TRUE(two.out == alone.out) << strict;
    EXPECT_EQ(two.err, alone.err) << strict;
  }
}

// A hunt limited to a period or to events of interest decides only those;
// what it left is counted, an event with no time among them.
TEST_F(EvfilterHuntTest, PeriodAndWhereLimitTheEventsHunted) {
  // Sysmon record 100 + i is at 02:40 + i minutes on 2024-12-30 (UTC).
  const std::string no_time =
      File("no_time.jsonl",
           "{\"EventID\":1,\"Channel\":\"Microsoft-Windows-Sysmon/"
           "Operational\",\"CommandLine\":\"m.exe sekurlsa::x\"}\n");
  const struct {
    std::string options;
    size_t detections;
    const char* said;
  } cases[] = {
      {"--since 2024-12-30T02:50:00Z", 4, "9 outside --since/--until"},
      {"--until 2024-12-30T02:50:00Z", 5, "5 outside --since/--until"},
      {"--since 2024-12-30T02:50:00Z --until 2024-12-30T02:50:00Z", 1,
       "14 outside --since/--until"},
      // A date alone as --until takes its whole day.
      {"--since 2024-12-30 --until 2024-12-30", 8, "events: 15 read\n"},
      {"--until 2024-12-29", 0, "15 outside"},
      {"--where \"Computer = WS01\"", 5, "7 not matching --where"},
      {"--where \"Computer = WS01\" --since 2024-12-30T02:50:00Z", 2,
       "9 outside --since/--until, 3 not matching --where"},
  };
  for (const auto& c : cases) {
    const Result r =
        Run("hunt --utc " + c.options + " --rules " + rules_ + " " + sysmon_);
    EXPECT_EQ(Count(r.out, "\n"), c.detections) << c.options << r.out;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.options << r.err;
  }
  Result r = Run("hunt --product windows --since 2020-01-01 --rules " + rules_ +
                 " " + no_time);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("1 with no readable time, so not placed in the period"),
            std::string::npos)
      << r.err;
  r = Run("hunt --product windows --rules " + rules_ + " " + no_time);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* wrong :
       {"--since yesterday", "--since 2025-01-01 --until 2024-01-01",
        "--until 20241230", "--where \"a >\"", "--type a=numeric"}) {
    r = Run(std::string("hunt ") + wrong + " --rules " + rules_ + " " +
            sysmon_);
    EXPECT_EQ(r.status, 2) << wrong;
  }
}

TEST_F(EvfilterHuntTest, RulesChosenAndPlaceholders) {
  Result r = Run("hunt --min-level medium --rules " + rules_ + " " + sysmon_ +
                 " " + security_);
  EXPECT_EQ(Count(r.out, "\n"), 8u);
  EXPECT_NE(r.err.find("1 left out by the rules chosen"), std::string::npos)
      << r.err;
  // Rules chosen by status, id and tag, less those excluded; detections of
  // the three rules on both logs: Mimikatz 5, temp image 3, failed logon 3.
  const std::string excluded =
      File("excluded.txt",
           "# site tuning\n\n 11111111-0000-0000-0000-000000000003  # noisy\n");
  const struct {
    std::string options;
    size_t detections;
  } chosen[] = {
      {"--status stable", 5},
      {"--id 11111111-0000-0000-0000-000000000002", 3},
      {"--id 11111111-0000-0000-0000-000000000002,"
       "11111111-0000-0000-0000-000000000001",
       8},
      {"--tag attack.t1003", 5},  // takes attack.t1003.001
      {"--tag ATTACK.T1003.001 --tag attack.execution", 8},
      {"--exclude-id 11111111-0000-0000-0000-000000000001", 6},
      {"--exclude-ids " + excluded, 8},
      {"--exclude-ids " + excluded + " --min-level high", 5},
  };
  for (const auto& c : chosen) {
    r = Run("hunt " + c.options + " --rules " + rules_ + " " + sysmon_ + " " +
            security_);
    EXPECT_EQ(r.status, 0) << c.options << ": " << r.err;
    EXPECT_EQ(Count(r.out, "\n"), c.detections) << c.options;
  }
  // What can only be a mistake stops the run and says why.
  const struct {
    std::string options;
    const char* said;
  } wrong[] = {
      {"--min-level severe", "unknown level 'severe'"},
      {"--tag attack.t100", "no rule has the tag 'attack.t100'"},
      {"--id 11111111", "no rule has the id '11111111'"},
      {"--tag ''", "an empty tag chooses no rule"},
      {"--exclude-ids " + (dir_ / "none.txt").string(), "cannot be opened"},
      {"--exclude-ids " + File("two.txt", "a b\n"),
       "two.txt:1: one rule id per line, not 'a b'"},
  };
  for (const auto& c : wrong) {
    r = Run("hunt " + c.options + " --rules " + rules_ + " " + sysmon_);
    EXPECT_EQ(r.status, 2) << c.options;
    EXPECT_NE(r.err.find(c.said), std::string::npos) << c.options << r.err;
  }

  const std::string rule = File("admins.yml", R"(title: Admin users
id: p1
level: high
logsource:
  product: windows
detection:
  sel:
    User|expand: '%Administrators%'
  condition: sel
)");
  // Its only rule not supported, a hunt would look for nothing: an error.
  r = Run("hunt --rules " + rule + " " + sysmon_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no rule could be loaded"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("1 not supported (placeholder"), std::string::npos)
      << r.err;
  r =
      Run("hunt --placeholder 'Administrators=*\\Admin' --placeholder "
          "Administrators=root --rules " +
          rule + " " + sysmon_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "\n"), 3u);
}

TEST_F(EvfilterHuntTest, ShowRuleAndItsDefinition) {
  Result r = Run("show --rule " + (dir_ / "rules/mimikatz.yml").string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Channel               =          "
                       "'Microsoft-Windows-Sysmon/Operational'"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("CommandLine           CONTAINS   'sekurlsa::'"),
            std::string::npos);
  // Its form for the Security log's process starts.
  EXPECT_NE(r.out.find("on Security 4688 events, its fields mapped:\n"
                       "Channel = 'Security' AND EventID = '4688' AND "
                       "CommandLine CONTAINS 'sekurlsa::'"),
            std::string::npos)
      << r.out;
  // As a definition file, the host imports it; evfilter match runs it.
  r = Run("show --json --rule " + (dir_ / "rules/mimikatz.yml").string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string definition = File("mimikatz.json", r.out);
  EXPECT_EQ(Run("match --count --filter " + definition + " " + sysmon_ + " " +
                security_)
                .out,
            "5\n");
  // A rule with conditions only the host decides has no exact definition.
  r = Run("show --rule " + (dir_ / "rules/windows/temp.yaml").string());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("decided by the host: re: (?i)"), std::string::npos)
      << r.out;
  r = Run("show --json --rule " + (dir_ / "rules/windows/temp.yaml").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("decided by the host"), std::string::npos);
  EXPECT_EQ(r.out, "");
  // Not supported: said, status 2.
  r = Run("show --rule " + (dir_ / "rules/windows/backref.yml").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("not supported: regular expression"), std::string::npos);
}

// The Security log's process starts (4688) and permitted connections
// (5156) meet the rules written for Sysmon's, through the field mapping.
TEST_F(EvfilterHuntTest, SecurityEventsMeetSysmonRulesThroughTheMapping) {
  Writer w;
  auto start = [&w](uint64_t id, const char* image, const char* command,
                    const char* user, const char* label) {
    Event e;
    e.record_id = id;
    e.event_id = 4688;
    e.data = {{"SubjectUserName", user},
              {"SubjectDomainName", "CORP"},
              {"NewProcessId", "0x1a2c"},
              {"NewProcessName", image},
              {"CommandLine", command},
              {"ProcessId", "0x3e8"},
              {"ParentProcessName", "C:\\Windows\\explorer.exe"},
              {"MandatoryLabel", label}};
    w.Add(e);
  };
  start(1, "C:\\Windows\\System32\\cmd.exe", "m.exe sekurlsa::x", "bob",
        "S-1-16-8192");
  start(2, "C:\\Users\\Admin\\AppData\\Local\\Temp\\x.exe", "x", "Admin",
        "S-1-16-12288");
  start(3, "C:\\Users\\bob\\AppData\\Local\\Temp\\x.exe", "x", "bob",
        "S-1-16-8192");
  for (const uint64_t id : {4, 5}) {
    Event e;
    e.record_id = id;
    e.event_id = 5156;
    e.data = {{"ProcessID", "4242"},
              {"Application", "\\device\\harddiskvolume2\\users\\bob\\x.exe"},
              {"Direction", id == 4 ? "%%14593" : "%%14592"},
              {"SourceAddress", "10.0.0.5"},
              {"SourcePort", "49152"},
              {"DestAddress", "203.0.113.9"},
              {"DestPort", "4444"},
              {"Protocol", "6"}};
    w.Add(e);
  }
  const std::string log = File("audit.evtx", w.Bytes());
  File("rules/windows/port.yml", R"(title: Outbound to 4444
id: 11111111-0000-0000-0000-000000000005
level: high
logsource:
  product: windows
  category: network_connection
detection:
  sel:
    Initiated: 'true'
    DestinationPort: 4444
    Protocol: tcp
    Image|endswith: '\x.exe'
  condition: sel
)");
  File("rules/windows/level.yml", R"(title: High integrity from a temp folder
id: 11111111-0000-0000-0000-000000000006
level: medium
logsource:
  product: windows
  category: process_creation
detection:
  sel:
    Image|contains: '\Temp\'
    IntegrityLevel: High
  filter:
    OriginalFileName: x.exe
  condition: sel and not filter
)");
  const Result r = Run("hunt --rules " + rules_ + " " + log);
  EXPECT_EQ(r.status, 0) << r.err;
  // Record 1: mimikatz by its command line. Record 2: a temp image by
  // Admin (the temp rule leaves bob's, record 3), at high integrity, but
  // the level rule's filter needs a field 4688 does not give: false. 4: an
  // outbound connection; 5 is inbound.
  EXPECT_EQ(Count(r.out, "\n"), 3u) << r.out;
  EXPECT_NE(r.out.find("\"record_id\":1,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"record_id\":2,"), std::string::npos);
  EXPECT_NE(r.out.find("\"record_id\":4,"), std::string::npos);
  EXPECT_NE(r.out.find("11111111-0000-0000-0000-000000000002"),
            std::string::npos);
  EXPECT_NE(r.out.find("11111111-0000-0000-0000-000000000005"),
            std::string::npos);
  EXPECT_EQ(r.out.find("11111111-0000-0000-0000-000000000006"),
            std::string::npos);
  // A correlation groups by the fields as the rule sees them: User made
  // of domain and name, ProcessId the new process's (4688's own ProcessId
  // is its parent's).
  fs::create_directories(dir_ / "mapped");
  File("mapped/any.yml", R"(title: Any process start
id: 11111111-0000-0000-0000-000000000008
logsource:
  product: windows
  category: process_creation
detection:
  sel:
    Image|endswith: '.exe'
  condition: sel
)");
  File("mapped/correlations.yml", R"(title: Two starts by one user
id: cccccccc-0000-0000-0000-000000000011
correlation:
  type: event_count
  rules: [11111111-0000-0000-0000-000000000008]
  group-by: [User]
  timespan: 1h
  condition:
    gte: 2
---
title: Three starts of one process id
id: cccccccc-0000-0000-0000-000000000012
correlation:
  type: event_count
  rules: [11111111-0000-0000-0000-000000000008]
  group-by: [ProcessId]
  timespan: 1h
  condition:
    gte: 3
)");
  const Result mapped =
      Run("hunt --rules " + (dir_ / "mapped").string() + " " + log);
  EXPECT_EQ(mapped.status, 0) << mapped.err;
  EXPECT_EQ(Count(mapped.out, "\n"), 2u) << mapped.out;
  EXPECT_NE(mapped.out.find("\"group\":{\"User\":\"CORP\\\\bob\"}"),
            std::string::npos)
      << mapped.out;
  EXPECT_NE(mapped.out.find("\"group\":{\"ProcessId\":\"6700\"}"),
            std::string::npos)
      << mapped.out;
}

// Correlation rules over the detections of the rules they name: windows
// on both sides of the timespan, grouped by a field, in time order
// across inputs given in another order.
TEST_F(EvfilterHuntTest, CorrelationsOverDetectionsInTimeOrder) {
  constexpr uint64_t kMinute = 600000000ULL;  // in 100 ns
  constexpr uint64_t kStart = 133800000000000000ULL;
  // (minute, event id, user, address); the second log is the earlier.
  auto log =
      [](std::vector<std::tuple<uint64_t, uint16_t, const char*, const char*>>
             events) {
        Writer w;
        uint64_t id = 1;
        for (const auto& [minute, event_id, user, address] : events) {
          Event e;
          e.record_id = id++;
          e.event_id = event_id;
          e.filetime = kStart + minute * kMinute;
          e.data = {{"TargetUserName", user}, {"IpAddress", address}};
          w.Add(e);
        }
        return w.Bytes();
      };
  // alice: 3 failures in 4 minutes, then a logon; bob: 3 failures over 6
  // minutes (never 3 within 5), from two addresses, no logon.
  const std::string late =
      File("late.evtx", log({{102, 4625, "alice", "10.0.0.1"},
                             {104, 4625, "alice", "10.0.0.2"},
                             {105, 4624, "alice", "10.0.0.2"},
                             {106, 4625, "bob", "10.0.0.9"}}));
  const std::string early =
      File("early.evtx", log({{100, 4625, "alice", "10.0.0.1"},
                              {100, 4625, "bob", "10.0.0.8"},
                              {103, 4625, "bob", "10.0.0.9"}}));
  File("rules/windows/logon.yml", R"(title: Logon
id: 11111111-0000-0000-0000-000000000007
name: logon
level: informational
logsource:
  product: windows
  service: security
detection:
  sel:
    EventID: 4624
  condition: sel
)");
  File("rules/correlations.yml", R"(title: Many failures
id: cccccccc-0000-0000-0000-000000000001
level: high
correlation:
  type: event_count
  rules: [11111111-0000-0000-0000-000000000003]
  group-by: [TargetUserName]
  timespan: 5m
  condition:
    gte: 3
---
title: Failures from two addresses
id: cccccccc-0000-0000-0000-000000000002
level: medium
correlation:
  type: value_count
  rules: [11111111-0000-0000-0000-000000000003]
  group-by: [TargetUserName]
  timespan: 10m
  condition:
    field: IpAddress
    gte: 2
---
title: Failure then logon
id: cccccccc-0000-0000-0000-000000000003
level: critical
correlation:
  type: temporal_ordered
  rules: [11111111-0000-0000-0000-000000000003, logon]
  group-by: [TargetUserName]
  timespan: 2m
)");
  const Result r = Run("hunt --rules " + rules_ +
                       " --id 11111111-0000-0000-0000-000000000003"
                       " --id 11111111-0000-0000-0000-000000000007 " +
                       late + " " + early);
  EXPECT_EQ(r.status, 0) << r.err;
  // The rules named are the correlations' own (generate: false).
  EXPECT_EQ(Count(r.out, "\"rule_title\":\"Failed logon\""), 0u) << r.out;
  EXPECT_EQ(Count(r.out, "\"rule_title\":\"Logon\""), 0u);
  // alice's three failures within 5 minutes (the first from the early
  // log); bob's are 6 minutes apart.
  EXPECT_EQ(
      Count(r.out, "\"rule_id\":\"cccccccc-0000-0000-0000-000000000001\""), 1u)
      << r.out;
  EXPECT_NE(r.out.find("\"correlation\":\"event_count\",\"group\":{"
                       "\"TargetUserName\":\"alice\"},\"timestamp\":"
                       "\"2024-12-30T04:24:00.0000000Z\",\"events\":[{"
                       "\"rule_id\":\"11111111-0000-0000-0000-000000000003\","
                       "\"input\":\"" +
                       early + "\",\"record_id\":1,"),
            std::string::npos)
      << r.out;
  // Two addresses each: alice at 102 and 104, bob at 100 and 103.
  EXPECT_EQ(Count(r.out, "cccccccc-0000-0000-0000-000000000002"), 2u);
  // alice's failure at 104, then her logon at 105: within 2 minutes.
  EXPECT_EQ(Count(r.out, "cccccccc-0000-0000-0000-000000000003"), 1u);
  EXPECT_NE(r.err.find("2 left out by the rules chosen (--min-level, "
                       "--status, --id, --tag, --exclude-id), 3 "
                       "correlation(s), from 6 file(s)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("correlations (3):\n"
                       "             1  Many failures "
                       "(cccccccc-0000-0000-0000-000000000001)\n"
                       "             2  Failures from two addresses"),
            std::string::npos)
      << r.err;
  // --list says what each correlation is.
  const Result list = Run("hunt --list --rules " + rules_);
  EXPECT_NE(list.out.find("\"title\":\"Failure then logon\",\"level\":"
                          "\"critical\",\"tags\":[],\"load\":\"loaded\","
                          "\"correlation\":\"temporal_ordered\",\"rules\":["
                          "\"11111111-0000-0000-0000-000000000003\",\"logon\"],"
                          "\"group_by\":[\"TargetUserName\"],"
                          "\"timespan_seconds\":120,\"at_least\":2,"
                          "\"generate\":false}\n"),
            std::string::npos)
      << list.out;
  // A correlation of a rule not run is said, and the rule writes its own.
  const Result alone =
      Run("hunt --rules " + rules_ +
          " --id 11111111-0000-0000-0000-000000000007 " + late);
  EXPECT_NE(alone.err.find("the correlation names the rule "
                           "11111111-0000-0000-0000-000000000003, which is "
                           "not among the rules run"),
            std::string::npos)
      << alone.err;
  EXPECT_EQ(Count(alone.out, "\n"), 1u);
  // With generate: true the rules named write their own detections too.
  File("rules/correlations.yml", R"(title: Failure then logon
id: cccccccc-0000-0000-0000-000000000003
correlation:
  type: temporal_ordered
  rules: [11111111-0000-0000-0000-000000000003, logon]
  group-by: [TargetUserName]
  timespan: 2m
  generate: true
)");
  const Result generated = Run("hunt --rules " + rules_ +
                               " --id 11111111-0000-0000-0000-000000000003"
                               " --id 11111111-0000-0000-0000-000000000007 " +
                               late + " " + early);
  EXPECT_EQ(Count(generated.out, "\"rule_title\":\"Failed logon\""), 6u);
  EXPECT_EQ(Count(generated.out, "\"rule_title\":\"Logon\""), 1u);
  EXPECT_EQ(Count(generated.out, "\"correlation\":"), 1u);
}

// Events of the shapes real logs hold, in an exported log (record headers
// numbered from 1): string arrays as Data, Defender's field names with
// spaces, System attributes by their flat names, and an empty value that
// no missing field matches. Detections name EventRecordIDs.
TEST_F(EvfilterHuntTest, RulesMeetTheShapesOfRealEvents) {
  Writer w;
  Event mssql;
  mssql.record_id = 8069;
  mssql.header_id = 1;
  mssql.provider = "MSSQLSERVER";
  mssql.event_id = 18456;
  mssql.channel = "Application";
  mssql.data_array = {"sa", "Reason: Password did not match",
                      "[CLIENT: 10.0.2.17]"};
  w.Add(mssql);
  Event esent;
  esent.record_id = 8070;
  esent.header_id = 2;
  esent.provider = "ESENT";
  esent.event_id = 325;
  esent.channel = "Application";
  esent.data_array = {"NTDS", "3392", "", "2", "C:\\Windows\\NTDS\\ntds.dit"};
  w.Add(esent);
  Event defender;
  defender.record_id = 8071;
  defender.header_id = 3;
  defender.provider = "Microsoft-Windows-Windows Defender";
  defender.event_id = 1116;
  defender.channel = "Microsoft-Windows-Windows Defender/Operational";
  defender.process_id = 4321;
  defender.data = {{"Source Name", "Real-Time Protection"},
                   {"Process Name", "C:\\Temp\\x.exe"}};
  w.Add(defender);
  const std::string log = File("exported.evtx", w.Bytes());
  fs::create_directories(dir_ / "shapes");
  File("shapes/mssql.yml", R"(title: MSSQL sa login failed
id: 22222222-0000-0000-0000-000000000001
level: high
logsource:
  product: windows
detection:
  sel:
    Data: sa
    Data|contains: 'CLIENT'
  condition: sel
)");
  File("shapes/ntds.yml", R"(title: ESENT NTDS
id: 22222222-0000-0000-0000-000000000002
level: high
logsource:
  product: windows
detection:
  sel:
    Data: 'NTDS'
    Data|endswith: '\ntds.dit'
  condition: sel
)");
  File("shapes/across.yml", R"(title: Across two values
id: 22222222-0000-0000-0000-000000000003
level: high
logsource:
  product: windows
detection:
  sel:
    Data|contains: '3392,,2'
  condition: sel
)");
  File("shapes/defender.yml", R"(title: Defender by source and process
id: 22222222-0000-0000-0000-000000000004
level: high
logsource:
  product: windows
detection:
  sel:
    SourceName: 'Real-Time Protection'
    ProcessName|endswith: '\x.exe'
    Execution_ProcessID: 4321
  condition: sel
)");
  File("shapes/useragent.yml", R"(title: Empty user agent
id: 22222222-0000-0000-0000-000000000005
level: high
logsource:
  product: windows
detection:
  sel:
    c-useragent: ''
  condition: sel
)");
  const Result r =
      Run("hunt --rules " + (dir_ / "shapes").string() + " " + log);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Count(r.out, "\n"), 3u) << r.out;
  // The detection line of a rule.
  auto line_of = [&r](const std::string& id) {
    const size_t at = r.out.find("\"rule_id\":\"" + id + "\"");
    if (at == std::string::npos) return std::string();
    const size_t begin = r.out.rfind('\n', at) + 1;
    return r.out.substr(begin, r.out.find('\n', at) - begin);
  };
  const std::string prefix = "22222222-0000-0000-0000-00000000000";
  EXPECT_NE(line_of(prefix + "1").find("\"record_id\":8069,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(line_of(prefix + "2").find("\"record_id\":8070,"),
            std::string::npos)
      << r.out;
  EXPECT_NE(line_of(prefix + "4").find("\"record_id\":8071,"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("000000000003"), std::string::npos);
  EXPECT_EQ(r.out.find("000000000005"), std::string::npos);
  // evfilter match reads each value by its own name.
  EXPECT_EQ(
      Run("match --count --where \"Data_3 CONTAINS 'CLIENT'\" " + log).out,
      "1\n");
  EXPECT_EQ(Run("match --count --where \"Data = 'sa'\" " + log).out, "1\n");
}

// A rule runs only on inputs of its log source: Windows rules on event
// logs, Zeek rules on Zeek logs of their service; other products' rules on
// none of them; every rule on an input of no known product; --product
// overrides.
TEST_F(EvfilterHuntTest, RulesOfOtherProductsAreNotRunOnAnInput) {
  fs::create_directories(dir_ / "products");
  auto rule = [this](const char* name, const char* logsource,
                     const char* field) {
    File(std::string("products/") + name + ".yml",
         std::string("title: ") + name + "\nid: " + name +
             "\nlevel: high\nlogsource:\n" + logsource +
             "detection:\n  sel:\n    " + field + ": 'x'\n  condition: sel\n");
  };
  rule("win", "  product: windows\n", "F");
  rule("zeek-conn", "  product: zeek\n  service: conn\n", "F");
  rule("zeek-dns", "  product: zeek\n  service: dns\n", "F");
  rule("macos", "  product: macos\n  category: process_creation\n", "F");
  rule("proxy", "  category: proxy\n", "F");
  rule("anywhere", "  {}\n", "F");
  rule("aws", "  product: aws\n  service: cloudtrail\n", "F");
  const std::string rules = (dir_ / "products").string();
  Writer w;
  Event e;
  e.data = {{"F", "x"}};
  w.Add(e);
  const std::string evtx = File("log.evtx", w.Bytes());
  const std::string zeek =
      File("conn.log",
           "#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
           "#unset_field\t-\n#path\tconn\n#fields\tts\tF\n#types\ttime\t"
           "string\n1796767200.5\tx\n");
  const std::string windows_csv =
      File("security.csv", "Channel,F\nSecurity,x\n");
  const std::string other = File("other.jsonl", "{\"F\": \"x\"}\n");
  // CloudTrail's eventID is no Windows EventID.
  const std::string trail =
      File("trail.jsonl",
           "{\"eventID\": \"1\", \"eventSource\": \"s3.amazonaws.com\", "
           "\"awsRegion\": \"eu-west-1\", \"F\": \"x\"}\n");
  auto detected = [](const std::string& out, const std::string& input) {
    std::vector<std::string> ids;
    for (size_t at = out.find("\"input\":\"" + input + "\"");
         at != std::string::npos;
         at = out.find("\"input\":\"" + input + "\"", at + 1)) {
      const size_t line = out.rfind('\n', at) + 1;
      const size_t id = out.find("\"rule_id\":\"", line) + 11;
      ids.push_back(out.substr(id, out.find('"', id) - id));
    }
    return ids;
  };
  using Ids = std::vector<std::string>;
  Result r = Run("hunt --rules " + rules + " " + evtx + " " + zeek + " " +
                 windows_csv + " " + other + " " + trail);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(detected(r.out, evtx), (Ids{"anywhere", "win"})) << r.out;
  EXPECT_EQ(detected(r.out, zeek), (Ids{"anywhere", "proxy", "zeek-conn"}));
  EXPECT_EQ(detected(r.out, windows_csv), (Ids{"anywhere", "win"}));
  EXPECT_EQ(detected(r.out, other), (Ids{"anywhere", "aws", "macos", "proxy",
                                         "win", "zeek-conn", "zeek-dns"}));
  EXPECT_EQ(detected(r.out, trail), (Ids{"anywhere", "aws", "proxy"}));
  EXPECT_NE(
      r.err.find("2 windows input(s): 2 rule(s) ran, 5 of other log sources "
                 "not run on them"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("1 zeek conn input(s): 3 rule(s) ran, 4 of"),
            std::string::npos);
  EXPECT_NE(r.err.find("1 input(s) of no known product: every rule ran"),
            std::string::npos);
  // The same counts for scripts, per product.
  r = Run("hunt --summary json --rules " + rules + " " + evtx + " " + zeek +
          " " + windows_csv + " " + other);
  EXPECT_NE(r.err.find("\"products\":[{\"product\":\"\",\"inputs\":1,"
                       "\"rules_run\":7,\"rules_not_run\":0},"
                       "{\"product\":\"windows\",\"inputs\":2,\"rules_run\":"
                       "2,\"rules_not_run\":5},{\"product\":\"zeek conn\","
                       "\"inputs\":1,\"rules_run\":3,\"rules_not_run\":4}]"),
            std::string::npos)
      << r.err;
  // --product takes every input as that product's logs.
  r = Run("hunt --product macos --rules " + rules + " " + evtx);
  EXPECT_EQ(detected(r.out, evtx), (Ids{"anywhere", "macos", "proxy"}))
      << r.out;
  r = Run("hunt --product ANY --rules " + rules + " " + evtx);
  EXPECT_EQ(detected(r.out, evtx).size(), 7u) << r.out;
  // A product no rule names can only be a mistake.
  r = Run("hunt --product windwos --rules " + rules + " " + evtx);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("--product windwos: no rule names this product"),
            std::string::npos)
      << r.err;
}

// Rule files that would hang, fill memory, or give JSON that is no UTF-8
// are refused or mended, each said with its path.
TEST_F(EvfilterHuntTest, HostileRuleFilesAreRefusedAndSaid) {
  const std::string timeout = "timeout 20";
  // A FIFO is refused by its type, never opened for reading.
  const std::string fifo = (dir_ / "rules.yml").string();
  ASSERT_EQ(std::system(("mkfifo " + fifo).c_str()), 0);
  for (const char* list : {"", "--list "}) {
    const Result r =
        Run(std::string("hunt ") + list + "--rules " + fifo + " " + sysmon_, "",
            timeout);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(fifo + ": is a FIFO, not a rule file"),
              std::string::npos)
        << r.err;
  }
  // A device, and a file past the bound (settable).
  Result r = Run("hunt --rules /dev/zero " + sysmon_, "", timeout);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/dev/zero: is a device"), std::string::npos) << r.err;
  std::string big;
  while (big.size() < (size_t{4} << 20)) big += "a: b\n";
  const std::string large = File("large.yml", big + kMimikatz);
  r = Run("hunt --rules " + large + " " + sysmon_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("large.yml: is larger than 4194304 bytes"),
            std::string::npos)
      << r.err;
  r = Run("hunt --max-rule-bytes 100 --rules " + rules_ + "/mimikatz.yml " +
          sysmon_);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("mimikatz.yml: is larger than 100 bytes"),
            std::string::npos)
      << r.err;
  // A read that fails is said, also by --list.
  r = Run("hunt --list --rules /proc/self/mem");
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("/proc/self/mem: cannot be read"), std::string::npos)
      << r.err;
  // In a folder: a dangling link, a link loop, a FIFO and a link to a
  // folder named as rule files are skipped, said and counted; --strict
  // fails on them.
  fs::create_directories(dir_ / "odd");
  File("odd/mimikatz.yml", kMimikatz);
  fs::create_symlink(dir_ / "nowhere.yml", dir_ / "odd" / "dangling.yml");
  fs::create_symlink(dir_ / "odd" / "loop.yml", dir_ / "odd" / "loop.yml");
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "odd" / "more.yml");
  ASSERT_EQ(
      std::system(("mkfifo " + (dir_ / "odd" / "pipe.yml").string()).c_str()),
      0);
  const std::string odd = (dir_ / "odd").string();
  r = Run("hunt --rules " + odd + " " + sysmon_, "", timeout);
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* said : {"dangling.yml: a symbolic link to nothing; skipped",
                           "loop.yml: a symbolic link loop; skipped",
                           "pipe.yml: a FIFO, not a file; skipped",
                           "more.yml: a symbolic link to a folder, not "
                           "followed; skipped",
                           "4 folder entr(ies) skipped that are no rule file"})
    EXPECT_NE(r.err.find(said), std::string::npos) << said << "\n" << r.err;
  EXPECT_EQ(
      Run("hunt --strict --rules " + odd + " " + sysmon_, "", timeout).status,
      2);
  // A title that is no UTF-8 is written as valid JSON, and said once.
  File("odd/mimikatz.yml",
       std::string(kMimikatz).replace(7, 8, "Mimi\xff\xfekatz"));
  fs::remove(dir_ / "odd" / "pipe.yml");
  r = Run("hunt --rules " + (dir_ / "odd" / "mimikatz.yml").string() + " " +
          sysmon_);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"rule_title\":\"Mimi\\udcff\\udcfekatz"),
            std::string::npos)
      << r.out.substr(0, 300);
  EXPECT_NE(r.err.find("holds bytes that are no UTF-8"), std::string::npos);
  // A hostile rule is quoted a line's worth; a list of lists says so.
  File("odd/long.yml",
       "title: long\nid: long\nlogsource: {product: "
       "windows}\ndetection:\n  sel:\n    F|re: '" +
           std::string(1000000, '(') + "'\n  condition: sel\n");
  File("odd/lists.yml",
       "title: lists\nid: lists\nlogsource: {product: "
       "windows}\ndetection:\n  sel:\n    - [a, b]\n"
       "  condition: sel\n");
  r = Run("hunt --rules " + odd + " " + sysmon_);
  EXPECT_LT(r.err.size(), 5000u);
  EXPECT_NE(r.err.find("bytes in all)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'sel' is a list with a list in it"), std::string::npos)
      << r.err;
}

}  // namespace
