// The Sigma compiler, construct by construct: a small rule written for
// each, and events whose answers were worked out by hand, on both sides of
// each boundary and under `not`. Each rule is decided alone (RuleMatcher):
// its lines by the module, its host checks by the host.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SigmaTestRules.h"

namespace {

using sigmatest::Compile;
using sigmatest::Event;
using sigmatest::Matches;
using sigmatest::RuleText;

struct Case {
  const char* name;
  const char* detection;
  std::vector<std::pair<Event, bool>> events;
};

const Case kCases[] = {
    {"equals ignores case",
     "  sel:\n    F: 'Admin'\n  condition: sel\n",
     {{{{"F", "admin"}}, true},
      {{{"F", "ADMIN"}}, true},
      {{{"F", "admins"}}, false},
      {{}, false}}},
    {"not equals: a missing field is no match, so not matches",
     "  sel:\n    F: 'Admin'\n  condition: not sel\n",
     {{{{"F", "admin"}}, false}, {{{"F", "x"}}, true}, {{}, true}}},
    {"star wildcard",
     "  sel:\n    F: 'C:\\Win*\\cmd.exe'\n  condition: sel\n",
     {{{{"F", "C:\\Windows\\cmd.exe"}}, true},
      {{{"F", "c:\\win\\CMD.exe"}}, true},
      {{{"F", "D:\\Windows\\cmd.exe"}}, false}}},
    {"question mark is one character",
     "  sel:\n    F: 'ab?d'\n  condition: sel\n",
     {{{{"F", "abcd"}}, true},
      {{{"F", "abd"}}, false},
      {{{"F", "abccd"}}, false}}},
    {"escaped star is literal",
     "  sel:\n    F: 'a\\*b'\n  condition: sel\n",
     {{{{"F", "a*b"}}, true}, {{{"F", "axb"}}, false}}},
    {"escaped backslash before a wildcard",
     "  sel:\n    F: 'a\\\\*'\n  condition: sel\n",
     {{{{"F", "a\\xyz"}}, true},
      {{{"F", "a\\"}}, true},
      {{{"F", "axyz"}}, false}}},
    {"percent and brackets stay literal in a pattern",
     "  sel:\n    F: '50%[x]*'\n  condition: sel\n",
     {{{{"F", "50%[x]yz"}}, true},
      {{{"F", "50*[x]yz"}}, false},
      {{{"F", "50abc[x]"}}, false},
      {{{"F", "50%x"}}, false}}},
    {"a plain backslash stays",
     "  sel:\n    F|endswith: '\\cmd.exe'\n  condition: sel\n",
     {{{{"F", "C:\\x\\CMD.EXE"}}, true},
      {{{"F", "C:\\cmd.exe.bak"}}, false},
      {{{"F", "cmd.exe"}}, false}}},
    {"contains",
     "  sel:\n    F|contains: 'mimi'\n  condition: sel\n",
     {{{{"F", "xMIMIkatz"}}, true}, {{{"F", "mim"}}, false}, {{}, false}}},
    {"contains with a wildcard inside",
     "  sel:\n    F|contains: 'a*c'\n  condition: sel\n",
     {{{{"F", "xxabbbcyy"}}, true}, {{{"F", "ca"}}, false}}},
    {"startswith",
     "  sel:\n    F|startswith: 'C:\\Users'\n  condition: sel\n",
     {{{{"F", "c:\\users\\bob"}}, true}, {{{"F", "D:\\c:\\users"}}, false}}},
    {"a value list is an OR",
     "  sel:\n    F:\n      - a\n      - b\n  condition: sel\n",
     {{{{"F", "a"}}, true}, {{{"F", "B"}}, true}, {{{"F", "c"}}, false}}},
    {"all makes a value list an AND",
     "  sel:\n    F|contains|all:\n      - net\n      - user\n  condition: "
     "sel\n",
     {{{{"F", "net user x"}}, true}, {{{"F", "net x"}}, false}}},
    {"a map is an AND",
     "  sel:\n    F: a\n    G: b\n  condition: sel\n",
     {{{{"F", "a"}, {"G", "b"}}, true}, {{{"F", "a"}, {"G", "c"}}, false}}},
    {"a list of maps is an OR",
     "  sel:\n    - F: a\n    - G: b\n  condition: sel\n",
     {{{{"F", "a"}}, true},
      {{{"G", "b"}}, true},
      {{{"F", "b"}, {"G", "a"}}, false}}},
    {"keywords search every field",
     "  kw:\n    - evil\n    - 'bad*thing'\n  condition: kw\n",
     {{{{"F", "an EVIL one"}}, true},
      {{{"F", "good"}, {"G", "badXthing"}}, true},
      {{{"F", "good"}}, false}}},
    {"keywords with all",
     "  kw:\n    '|all':\n      - net\n      - user\n  condition: kw\n",
     {{{{"F", "net"}, {"G", "user"}}, true}, {{{"F", "net"}}, false}}},
    {"null is a missing or empty field",
     "  sel:\n    F: null\n  condition: sel\n",
     {{{}, true}, {{{"F", ""}}, true}, {{{"F", "x"}}, false}}},
    {"not null",
     "  sel:\n    F: null\n  condition: not sel\n",
     {{{}, false}, {{{"F", "x"}}, true}}},
    {"empty value: the field is there and empty",
     "  sel:\n    F: ''\n  condition: sel\n",
     {{{{"F", ""}}, true}, {{{"F", "x"}}, false}, {{{"G", ""}}, false}}},
    {"not empty value: a missing field is not empty",
     "  sel:\n    F: ''\n  condition: not sel\n",
     {{{{"F", ""}}, false}, {{{"F", "x"}}, true}, {{}, true}}},
    {"contains, startswith and endswith of '' want the field",
     "  sel:\n    - F|contains: ''\n    - G|startswith: ''\n"
     "    - H|endswith: ''\n  condition: sel\n",
     {{{{"F", ""}}, true},
      {{{"G", "x"}}, true},
      {{{"H", "x"}}, true},
      {{{"I", ""}}, false},
      {{}, false}}},
    {"Data: one of the unnamed values, each on its own",
     "  sel:\n    Data: 'NTDS'\n  condition: sel\n",
     {{{{"Data", "x"}, {"Data_2", "ntds"}}, true},
      {{{"Data", "NTDS"}}, true},
      {{{"Data", "x"}, {"Data_2", "NTDS x"}}, false},
      {{{"Other", "NTDS"}}, false},
      {{{"Data_x", "NTDS"}}, false},
      {{}, false}}},
    {"Data endswith on a later value",
     "  sel:\n    Data|endswith: '\\ntds.dit'\n  condition: sel\n",
     {{{{"Data", "svchost"}, {"Data_2", "7"}, {"Data_3", "C:\\x\\NTDS.dit"}},
       true},
      {{{"Data", "C:\\ntds.dit.bak"}}, false}}},
    {"Data contains never spans two values",
     "  sel:\n    Data|contains: '3392,,2'\n  condition: sel\n",
     {{{{"Data", "3392"}, {"Data_2", ""}, {"Data_3", "2"}}, false},
      {{{"Data", "x"}, {"Data_2", "a3392,,2b"}}, true}}},
    {"Data contains all: the parts in any values",
     "  sel:\n    Data|contains|all:\n      - sa\n      - CLIENT\n"
     "  condition: sel\n",
     {{{{"Data", "sa"}, {"Data_2", "why"}, {"Data_3", "[CLIENT: x]"}}, true},
      {{{"Data", "sa"}}, false}}},
    {"Data with a wildcard, re and null",
     "  a:\n    Data: 'Host*=pow*'\n  b:\n    Data|re: '^[0-9]+$'\n"
     "  c:\n    Data: null\n  condition: a or b or c\n",
     {{{{"Data", "x"}, {"Data_2", "HostApplication=powershell"}}, true},
      {{{"Data", "x"}, {"Data_2", "42"}}, true},
      {{{"Other", "x"}}, true},
      {{{"Data", ""}, {"Data_2", ""}}, true},
      {{{"Data", "x"}, {"Data_2", "y"}}, false}}},
    {"not Data: no value matches",
     "  sel:\n    Data: 'NTDS'\n  condition: not sel\n",
     {{{{"Data", "x"}, {"Data_2", "NTDS"}}, false},
      {{{"Data", "x"}}, true},
      {{}, true}}},
    {"exists true",
     "  sel:\n    F|exists: true\n  condition: sel\n",
     {{{{"F", ""}}, true}, {{{"G", "x"}}, false}}},
    {"exists false",
     "  sel:\n    F|exists: false\n  condition: sel\n",
     {{{{"F", "x"}}, false}, {{}, true}}},
    {"re is case-sensitive and searches",
     "  sel:\n    F|re: '^ab+c$'\n  condition: sel\n",
     {{{{"F", "abbc"}}, true},
      {{{"F", "ABBC"}}, false},
      {{{"F", "xabbc"}}, false}}},
    {"re with i",
     "  sel:\n    F|re|i: 'ab+c'\n  condition: sel\n",
     {{{{"F", "xABBCx"}}, true}, {{{"F", "ac"}}, false}}},
    {"not re on a missing field",
     "  sel:\n    F|re: 'x'\n  condition: not sel\n",
     {{{}, true}, {{{"F", "x"}}, false}}},
    {"cased",
     "  sel:\n    F|cased: 'Admin'\n  condition: sel\n",
     {{{{"F", "Admin"}}, true}, {{{"F", "admin"}}, false}}},
    {"cased contains",
     "  sel:\n    F|contains|cased: 'Adm'\n  condition: sel\n",
     {{{{"F", "xAdmx"}}, true}, {{{"F", "xadmx"}}, false}}},
    {"cidr v4, both sides of the prefix",
     "  sel:\n    F|cidr: '192.168.1.2/31'\n  condition: sel\n",
     {{{{"F", "192.168.1.2"}}, true},
      {{{"F", "192.168.1.3"}}, true},
      {{{"F", "192.168.1.4"}}, false},
      {{{"F", "192.168.1.1"}}, false},
      {{{"F", "not an address"}}, false}}},
    {"cidr v4 list",
     "  sel:\n    F|cidr:\n      - '10.0.0.0/8'\n      - '172.16.0.0/12'\n"
     "  condition: sel\n",
     {{{{"F", "10.255.0.1"}}, true},
      {{{"F", "172.31.255.255"}}, true},
      {{{"F", "172.32.0.0"}}, false},
      {{{"F", "9.255.255.255"}}, false}}},
    {"cidr v6",
     "  sel:\n    F|cidr: 'fe80::/10'\n  condition: sel\n",
     {{{{"F", "fe80::1"}}, true},
      {{{"F", "febf::1"}}, true},
      {{{"F", "fec0::1"}}, false}}},
    {"fieldref",
     "  sel:\n    F|fieldref: G\n  condition: sel\n",
     {{{{"F", "x"}, {"G", "X"}}, true},
      {{{"F", "x"}, {"G", "y"}}, false},
      {{{"F", "x"}}, false}}},
    {"gt",
     "  sel:\n    F|gt: 5\n  condition: sel\n",
     {{{{"F", "4"}}, false},
      {{{"F", "5"}}, false},
      {{{"F", "6"}}, true},
      {{{"F", "10"}}, true},
      {{}, false},
      {{{"F", "abc"}}, false}}},
    {"not gt on a missing value",
     "  sel:\n    F|gt: 5\n  condition: not sel\n",
     {{{}, true}, {{{"F", "6"}}, false}}},
    {"gte",
     "  sel:\n    F|gte: 5\n  condition: sel\n",
     {{{{"F", "5"}}, true}, {{{"F", "4"}}, false}, {{}, false}}},
    {"not gte",
     "  sel:\n    F|gte: 5\n  condition: not sel\n",
     {{{{"F", "5"}}, false}, {{{"F", "4"}}, true}, {{}, true}}},
    {"lt",
     "  sel:\n    F|lt: 5\n  condition: sel\n",
     {{{{"F", "4"}}, true}, {{{"F", "5"}}, false}, {{{"F", "-3"}}, true}}},
    {"lte with a fraction",
     "  sel:\n    F|lte: 5.5\n  condition: sel\n",
     {{{{"F", "5.5"}}, true}, {{{"F", "5.51"}}, false}, {{{"F", "5"}}, true}}},
    {"windash",
     "  sel:\n    F|windash|contains: ' -enc '\n  condition: sel\n",
     {{{{"F", "p /enc x"}}, true},
      {{{"F", "p \u2013enc x"}}, true},
      {{{"F", "p -enc x"}}, true},
      {{{"F", "p enc x"}}, false}}},
    {"base64",
     "  sel:\n    F|base64|contains: 'abc'\n  condition: sel\n",
     {{{{"F", "xxYWJjyy"}}, true}, {{{"F", "abc"}}, false}}},
    {"base64offset",
     "  sel:\n    F|base64offset|contains: 'abc'\n  condition: sel\n",
     {{{{"F", "YWJj"}}, true},
      {{{"F", "eGFiYw=="}}, true},
      {{{"F", "eHlhYmM="}}, true},
      {{{"F", "zzzz"}}, false}}},
    {"wide then base64offset",
     "  sel:\n    F|wide|base64offset|contains: 'cmd'\n  condition: sel\n",
     {{{{"F", "cgB1AG4AIABjAG0AZAAgAG4AbwB3AA=="}}, true},
      {{{"F", "eAByAHUAbgAgAGMAbQBkACAAbgBvAHcA"}}, true},
      {{{"F", "eAB4AGMAbQBkAA=="}}, true},
      {{{"F", "Y21k"}}, false}}},
    {"neq",
     "  sel:\n    F|neq:\n      - a\n      - b\n  condition: sel\n",
     {{{{"F", "c"}}, true}, {{{"F", "a"}}, false}, {{{"F", "B"}}, false}}},
    {"1 of a pattern",
     "  sel1:\n    F: a\n  sel2:\n    G: b\n  filter:\n    H: c\n"
     "  condition: 1 of sel*\n",
     {{{{"F", "a"}}, true}, {{{"G", "b"}}, true}, {{{"H", "c"}}, false}}},
    {"all of a pattern",
     "  sel1:\n    F: a\n  sel2:\n    G: b\n  condition: all of sel*\n",
     {{{{"F", "a"}, {"G", "b"}}, true}, {{{"F", "a"}}, false}}},
    {"1 of them leaves out _ identifiers",
     "  sel:\n    F: a\n  _x:\n    G: b\n  condition: 1 of them\n",
     {{{{"G", "b"}}, false}, {{{"F", "a"}}, true}}},
    {"all of them",
     "  sel:\n    F: a\n  other:\n    G: b\n  condition: all of them\n",
     {{{{"F", "a"}, {"G", "b"}}, true}, {{{"G", "b"}}, false}}},
    {"a list of conditions is an OR",
     "  a:\n    F: a\n  b:\n    G: b\n  condition:\n    - a\n    - b\n",
     {{{{"G", "b"}}, true}, {{{"F", "a"}}, true}, {{}, false}}},
    {"and binds tighter than or, not tighter than and",
     "  a:\n    A: 1\n  b:\n    B: 1\n  c:\n    C: 1\n"
     "  condition: a or b and not c\n",
     {{{{"A", "1"}}, true},
      {{{"B", "1"}}, true},
      {{{"B", "1"}, {"C", "1"}}, false},
      // Left to right would give ((a or b) and not c): false.
      {{{"A", "1"}, {"C", "1"}}, true}}},
    {"not binds to the next term only",
     "  a:\n    A: 1\n  b:\n    B: 1\n  condition: not a and b\n",
     {{{{"B", "1"}}, true}, {{{"A", "1"}, {"B", "1"}}, false}, {{}, false}}},
    {"not of a bracket",
     "  a:\n    A: 1\n  b:\n    B: 1\n  condition: not (a or b)\n",
     {{{}, true}, {{{"A", "1"}}, false}, {{{"B", "1"}}, false}}},
    {"two ANDs joined by or",
     "  a:\n    A: 1\n  b:\n    B: 1\n  c:\n    C: 1\n  d:\n    D: 1\n"
     "  condition: a and b or c and d\n",
     {{{{"C", "1"}, {"D", "1"}}, true},
      {{{"A", "1"}, {"D", "1"}}, false},
      {{{"A", "1"}, {"B", "1"}}, true}}},
    {"not 1 of filters",
     "  sel:\n    F: a\n  filter_1:\n    G: x\n  filter_2:\n    G: y\n"
     "  condition: sel and not 1 of filter_*\n",
     {{{{"F", "a"}}, true},
      {{{"F", "a"}, {"G", "y"}}, false},
      {{{"F", "a"}, {"G", "z"}}, true}}},
    {"stars alone are any value, not a missing one",
     "  sel:\n    F: '*'\n  condition: sel\n",
     {{{{"F", ""}}, true}, {{{"F", "x"}}, true}, {{}, false}}},
    {"not stars alone: the field is missing",
     "  sel:\n    F|contains: ''\n  condition: not sel\n",
     {{{{"F", ""}}, false}, {{}, true}}},
    {"numbers compare as text",
     "  sel:\n    F: 4688\n  condition: sel\n",
     {{{{"F", "4688"}}, true}, {{{"F", "04688"}}, false}}},
};

TEST(SigmaConformanceTest, EveryConstructOnItsEvents) {
  for (const Case& c : kCases) {
    const auto load = Compile(RuleText(c.detection));
    ASSERT_EQ(load.loaded.size(), 1u)
        << c.name << ": "
        << (load.rejected.empty() ? "" : load.rejected[0].reason);
    for (size_t i = 0; i < c.events.size(); ++i)
      EXPECT_EQ(Matches(load.loaded[0], c.events[i].first), c.events[i].second)
          << c.name << ", event " << i;
  }
}

TEST(SigmaConformanceTest, PlaceholdersExpandToTheirValues) {
  const std::string text =
      RuleText("  sel:\n    F|expand: '%admins%'\n  condition: sel\n");
  eventquery::sigma::CompileOptions options;
  options.placeholders["admins"] = {"root", "adm*"};
  const auto load = Compile(text, options);
  ASSERT_EQ(load.loaded.size(), 1u);
  EXPECT_TRUE(Matches(load.loaded[0], {{"F", "root"}}));
  EXPECT_TRUE(Matches(load.loaded[0], {{"F", "admin"}}));
  EXPECT_FALSE(Matches(load.loaded[0], {{"F", "bob"}}));
  // Not defined, or given no values: the rule is not run with the
  // placeholder as text.
  const auto undefined = Compile(text);
  ASSERT_EQ(undefined.rejected.size(), 1u);
  EXPECT_NE(undefined.rejected[0].reason.find("placeholder %admins%"),
            std::string::npos);
  options.placeholders["admins"] = {};
  const auto empty = Compile(
      RuleText(
          "  sel:\n    F|expand: '%admins%'\n    G: x\n  condition: sel\n"),
      options);
  ASSERT_EQ(empty.rejected.size(), 1u);
  EXPECT_NE(empty.rejected[0].reason.find("has no values"), std::string::npos);
}

TEST(SigmaConformanceTest, LogSourceDecidesWhichEventsARuleSees) {
  const std::string detection = "  sel:\n    F: a\n  condition: sel\n";
  const auto sysmon = Compile(RuleText(
      detection, "  product: windows\n  category: process_creation\n"));
  ASSERT_EQ(sysmon.loaded.size(), 1u);
  const auto& rule = sysmon.loaded[0];
  const std::string channel = "Microsoft-Windows-Sysmon/Operational";
  EXPECT_TRUE(
      Matches(rule, {{"Channel", channel}, {"EventID", "1"}, {"F", "a"}}));
  // An EventID 1 that is not Sysmon's.
  EXPECT_FALSE(
      Matches(rule, {{"Channel", "Security"}, {"EventID", "1"}, {"F", "a"}}));
  EXPECT_FALSE(
      Matches(rule, {{"Channel", channel}, {"EventID", "11"}, {"F", "a"}}));
  EXPECT_FALSE(Matches(rule, {{"F", "a"}}));

  const auto security =
      Compile(RuleText(detection, "  product: windows\n  service: security\n"));
  ASSERT_EQ(security.loaded.size(), 1u);
  EXPECT_TRUE(
      Matches(security.loaded[0], {{"Channel", "security"}, {"F", "a"}}));
  EXPECT_FALSE(
      Matches(security.loaded[0], {{"Channel", "System"}, {"F", "a"}}));

  // A category the taxonomy does not map: no condition, and a note.
  const auto unmapped = Compile(
      RuleText(detection, "  product: windows\n  category: file_access\n"));
  ASSERT_EQ(unmapped.loaded.size(), 1u);
  ASSERT_EQ(unmapped.loaded[0].notes.size(), 1u);
  EXPECT_NE(unmapped.loaded[0].notes[0].find("'file_access'"),
            std::string::npos);
  EXPECT_TRUE(Matches(unmapped.loaded[0], {{"F", "a"}}));
}

// Security 4688 and 5156 events stand for Sysmon's process starts and
// connections; what the mapping cannot give is false, negated or not.
TEST(SigmaConformanceTest, SecurityEventsStandForSysmonsThroughTheMapping) {
  const Event start = {{"Channel", "Security"},
                       {"EventID", "4688"},
                       {"SubjectUserName", "SYSTEM"},
                       {"SubjectDomainName", "NT AUTHORITY"},
                       {"NewProcessId", "0x1a2c"},
                       {"NewProcessName", "C:\\Windows\\System32\\cmd.exe"},
                       {"CommandLine", "cmd /c whoami"},
                       {"ProcessId", "0x3e8"},
                       {"ParentProcessName", "C:\\Temp\\evil.exe"},
                       {"MandatoryLabel", "S-1-16-12288"}};
  const Event connection = {
      {"Channel", "Security"},
      {"EventID", "5156"},
      {"ProcessID", "4"},
      {"Application", "\\device\\harddiskvolume2\\windows\\svchost.exe"},
      {"Direction", "%%14593"},
      {"SourceAddress", "10.0.0.5"},
      {"SourcePort", "49152"},
      {"DestAddress", "203.0.113.9"},
      {"DestPort", "443"},
      {"Protocol", "6"}};
  auto with = [](Event e, const std::string& field, const std::string& value) {
    for (auto& [name, v] : e)
      if (name == field) v = value;
    return e;
  };
  const struct {
    const char* name;
    const char* category;
    const char* detection;
    std::vector<std::pair<Event, bool>> events;
  } kCases[] = {
      {"image, parent and command line by their Security names",
       "process_creation",
       "  sel:\n    Image|endswith: '\\cmd.exe'\n"
       "    ParentImage|contains: '\\Temp\\'\n"
       "    CommandLine|contains: whoami\n  condition: sel\n",
       {{start, true},
        {with(start, "EventID", "4689"), false},
        {with(start, "Channel", "System"), false},
        {with(start, "CommandLine", "cmd /c dir"), false}}},
      {"the user is domain and name",
       "process_creation",
       "  sel:\n    User|contains: 'AUTHORITY\\SYSTEM'\n  condition: sel\n",
       {{start, true},
        {with(start, "SubjectDomainName", ""), false},
        {with(start, "SubjectUserName", "LOCAL SERVICE"), false}}},
      {"integrity levels by name, other labels by none",
       "process_creation",
       "  sel:\n    IntegrityLevel:\n      - High\n      - System\n"
       "  condition: sel\n",
       {{start, true},
        {with(start, "MandatoryLabel", "S-1-16-16384"), true},
        {with(start, "MandatoryLabel", "S-1-16-8192"), false},
        {with(start, "MandatoryLabel", "S-1-16-8448"), false}}},
      {"process ids from hexadecimal",
       "process_creation",
       "  sel:\n    ProcessId: 6700\n    ParentProcessId: 1000\n"
       "  condition: sel\n",
       {{start, true},
        {with(start, "NewProcessId", "0X1A2C"), true},
        {with(start, "NewProcessId", "6700"), false},
        {with(start, "NewProcessId", "0x"), false},
        {with(start, "NewProcessId", "0x11111111111111111"), false}}},
      {"an unmapped field is false, and so is its negation",
       "process_creation",
       "  sel:\n    Image|endswith: '\\cmd.exe'\n"
       "  filter:\n    OriginalFileName: cmd.exe\n"
       "  condition: sel and not filter\n",
       {{start, false}}},
      {"an unmapped field beside a mapped one in an OR",
       "process_creation",
       "  sel:\n    - Hashes|contains: abc\n"
       "    - Image|endswith: '\\cmd.exe'\n  condition: sel\n",
       {{start, true}}},
      {"fieldref between mapped fields",
       "process_creation",
       "  sel:\n    Image|fieldref: ParentImage\n  condition: sel\n",
       {{start, false},
        {with(start, "ParentProcessName", "C:\\Windows\\System32\\cmd.exe"),
         true}}},
      {"a connection: device path, direction, protocol, addresses",
       "network_connection",
       "  sel:\n    Image|endswith: '\\svchost.exe'\n    Initiated: 'true'\n"
       "    Protocol: tcp\n    DestinationIp|cidr: 203.0.113.0/24\n"
       "    DestinationPort: 443\n    SourceIp: 10.0.0.5\n  condition: sel\n",
       {{connection, true},
        {with(connection, "Direction", "%%14592"), false},
        {with(connection, "Protocol", "17"), false},
        {with(connection, "DestPort", "80"), false}}},
      {"a drive letter never meets a device path",
       "network_connection",
       "  sel:\n    Image|startswith: 'C:\\'\n  condition: sel\n",
       {{connection, false}}},
  };
  for (const auto& c : kCases) {
    const auto load = Compile(RuleText(
        c.detection,
        std::string("  product: windows\n  category: ") + c.category + "\n"));
    ASSERT_EQ(load.loaded.size(), 1u) << c.name;
    ASSERT_EQ(load.loaded[0].mapped.size(), 1u) << c.name;
    for (size_t i = 0; i < c.events.size(); ++i)
      EXPECT_EQ(Matches(load.loaded[0], c.events[i].first), c.events[i].second)
          << c.name << ", event " << i;
  }
  // A rule that names Sysmon's service wants Sysmon's events only.
  const auto sysmon_only = Compile(RuleText(
      "  sel:\n    Image|endswith: '\\cmd.exe'\n  condition: sel\n",
      "  product: windows\n  category: process_creation\n  service: sysmon\n"));
  ASSERT_EQ(sysmon_only.loaded.size(), 1u);
  EXPECT_TRUE(sysmon_only.loaded[0].mapped.empty());
  EXPECT_FALSE(Matches(sysmon_only.loaded[0], start));
}

TEST(SigmaConformanceTest, WhatCannotBeCompiledExactlyIsNotSupported) {
  const struct {
    const char* detection;
    const char* reason;
  } kRejected[] = {
      {"  sel:\n    F|re: '(a)\\1'\n  condition: sel\n", "RE2"},
      {"  sel:\n    F|re: '(?<=a)b'\n  condition: sel\n", "RE2"},
      {"  sel:\n    F|foo: x\n  condition: sel\n", "modifier 'foo'"},
      {"  sel:\n    F|minute: 5\n  condition: sel\n", "modifier 'minute'"},
      {"  sel:\n    F: x\n  condition: sel | count() > 5\n", "aggregations"},
      {"  sel:\n    F|utf16le: x\n  condition: sel\n", "bytes"},
      {"  sel:\n    F:\n      - a\n      - null\n  condition: sel\n",
       "null in a value list"},
      {"  sel:\n    F|all: a\n  condition: sel\n", "'all' on a single value"},
      {"  sel:\n    F: a\n  condition: nosuch\n",
       "no search identifier 'nosuch'"},
      {"  sel:\n    F: a\n  condition: 1 of x*\n",
       "no search identifier matches"},
      {"  sel:\n    F: a\n  condition: (sel\n", "not closed"},
      {"  sel:\n    F: a\n  condition: sel and\n", "ends where a term"},
      {"  sel:\n    F|cidr: 'x/8'\n  condition: sel\n", "no network"},
      {"  sel:\n    F|cidr: '10.0.0.0/33'\n  condition: sel\n", "no network"},
      {"  sel:\n    F|gt: abc\n  condition: sel\n", "no number"},
      {"  sel:\n    F|exists: maybe\n  condition: sel\n", "true or false"},
      {"  sel:\n    Data|gt: 5\n  condition: sel\n",
       "a comparison on Data, which may hold several values"},
      {"  sel:\n    data|fieldref: G\n  condition: sel\n", "fieldref on Data"},
      // YAML aliases and a repeated identifier multiply: 80 conditions
      // a map, 20 maps a selection, 70 selections.
      {"  b: &b [a, b, c, d, e, f, g, h, i, j]\n"
       "  m: &m {F1: *b, F2: *b, F3: *b, F4: *b, F5: *b, F6: *b, F7: *b, "
       "F8: *b}\n"
       "  sel: [*m, *m, *m, *m, *m, *m, *m, *m, *m, *m, *m, *m, *m, *m, *m, "
       "*m, *m, *m, *m, *m]\n"
       "  condition: sel or sel or sel or sel or sel or sel or sel or sel or "
       "sel or sel or sel or sel or sel or sel or sel or sel or sel or sel or "
       "sel or sel or sel or sel or sel or sel or sel or sel or sel or sel or "
       "sel or sel or sel or sel or sel or sel or sel or sel or sel or sel or "
       "sel or sel or sel or sel or sel or sel or sel or sel or sel or sel or "
       "sel or sel or sel or sel or sel or sel or sel or sel or sel or sel or "
       "sel or sel or sel or sel or sel or sel or sel or sel or sel or sel\n",
       "more than 100000 conditions"},
      {"  sel:\n    F: a\n", "no condition"},
      {"  sel:\n    F: a\n  timeframe: 5m\n  condition: sel\n", "timeframe"},
      {"  sel:\n    F|contains|startswith: a\n  condition: sel\n",
       "after another"},
      {"  sel:\n    F|re|contains: a\n  condition: sel\n",
       "cannot be combined"},
  };
  for (const auto& r : kRejected) {
    const auto load = Compile(RuleText(r.detection));
    ASSERT_EQ(load.rejected.size(), 1u) << r.detection;
    EXPECT_FALSE(load.rejected[0].unreadable);
    EXPECT_NE(load.rejected[0].reason.find(r.reason), std::string::npos)
        << r.detection << " -> " << load.rejected[0].reason;
    EXPECT_EQ(load.rejected[0].meta.id, "test-rule");
  }
}

TEST(SigmaConformanceTest, DocumentsOfAFile) {
  // Two rules, a correlation, two filter documents (one lacking its
  // condition), and an empty one.
  const std::string text =
      RuleText("  sel:\n    F: a\n  condition: sel\n", "  product: windows\n",
               "one") +
      "---\n" +
      RuleText("  sel:\n    F: b\n  condition: sel\n", "  product: windows\n",
               "two") +
      "---\ntitle: c\nid: three\ncorrelation:\n  type: event_count\n"
      "---\ntitle: f\nid: four\nfilter:\n  rules: [one]\n"
      "---\ntitle: g\nid: five\nlogsource: {product: windows}\nfilter:\n"
      "  rules: [one, two]\n  sel:\n    F: a\n  condition: not sel\n---\n";
  const auto load = Compile(text);
  ASSERT_EQ(load.loaded.size(), 2u);
  EXPECT_EQ(load.loaded[1].meta.id, "two");
  EXPECT_EQ(load.loaded[1].meta.document, 2);
  ASSERT_EQ(load.rejected.size(), 2u);
  EXPECT_NE(load.rejected[0].reason.find("correlation"), std::string::npos);
  EXPECT_NE(load.rejected[1].reason.find("no condition"), std::string::npos);
  ASSERT_EQ(load.filters.size(), 1u);
  EXPECT_EQ(load.filters[0].rules, (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(load.filters[0].rule.meta.id, "five");
  EXPECT_EQ(load.filters[0].rule.meta.document, 5);

  const auto broken = Compile("title: x\ndetection: [unclosed\n");
  ASSERT_EQ(broken.rejected.size(), 1u);
  EXPECT_TRUE(broken.rejected[0].unreadable);
  EXPECT_NE(broken.rejected[0].reason.find("line"), std::string::npos);
  // Stray commas that make yaml-cpp read empty documents for ever.
  for (const char* stuck : {",", "title: a\n---\n,", "[a]\n,", "{a: b},"}) {
    const auto s = Compile(stuck);
    ASSERT_EQ(s.rejected.size(), 1u) << stuck;
    EXPECT_TRUE(s.rejected[0].unreadable);
    EXPECT_NE(s.rejected[0].reason.find("a ',' outside a flow collection"),
              std::string::npos)
        << s.rejected[0].reason;
  }
}

// Correlation documents: what each condition bounds, and what is said of
// those that cannot be run as written.
TEST(SigmaConformanceTest, CorrelationDocumentsReadOrSaidWhy) {
  const struct {
    const char* body;    // under "correlation:"
    const char* reason;  // "" when loaded
    uint64_t at_least;
    int64_t seconds;
  } kCases[] = {
      {"  type: event_count\n  rules: [a]\n  group-by: [U]\n"
       "  timespan: 5m\n  condition: {gte: 3}\n",
       "", 3, 300},
      {"  type: event_count\n  rules: [a]\n  timespan: 2h\n"
       "  condition: {gt: 2}\n",
       "", 3, 7200},
      {"  type: value_count\n  rules: [a]\n  timespan: 1d\n"
       "  condition: {field: User, gte: 4}\n",
       "", 4, 86400},
      {"  type: temporal\n  rules: [a, b, c]\n  timespan: 30s\n", "", 3, 30},
      {"  type: temporal\n  rules: [a, b, c]\n  timespan: 30s\n"
       "  condition: {gte: 2}\n",
       "", 2, 30},
      {"  type: temporal_ordered\n  rules: [a, b]\n  timespan: 1m\n"
       "  condition: {gte: 1}\n",
       "other than every rule named", 0, 0},
      {"  type: temporal\n  rules: [a, b, a]\n  timespan: 1m\n",
       "names rule a twice", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: 5m\n"
       "  condition: {gt: 2, lte: 5}\n",
       "'lte' (an upper bound) is not supported", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: 5m\n"
       "  condition: {eq: 3}\n",
       "'eq' (an upper bound) is not supported", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: 5m\n"
       "  condition: {neq: 3}\n",
       "'neq' is not supported", 0, 0},
      {"  type: value_count\n  rules: [a]\n  timespan: 5m\n"
       "  condition: {gte: 5}\n",
       "needs the condition's field", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: 5w\n"
       "  condition: {gte: 5}\n",
       "has no unit", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: m\n"
       "  condition: {gte: 5}\n",
       "no number and unit", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: 5m\n"
       "  condition: {gte: -1}\n",
       "is no count", 0, 0},
      {"  type: event_count\n  rules: [a]\n  timespan: 9999999d\n"
       "  condition: {gte: 5}\n",
       "longer than 250 years", 0, 0},
      {"  type: temporal\n  rules: [a, b]\n  timespan: 5m\n"
       "  aliases:\n    ip:\n      a: [x]\n",
       "alias 'ip' names no field for 'a'", 0, 0},
      {"  type: temporal\n  rules: [a, b]\n  timespan: 5m\n  aliases: [x]\n",
       "aliases is no map", 0, 0},
      {"  type: temporal\n  rules: [a, b]\n  timespan: 5m\n"
       "  group-by: [{x: y}]\n",
       "group-by is no field name", 0, 0},
      {"  type: value_sum\n  rules: [a]\n  timespan: 5m\n",
       "type 'value_sum' is not supported", 0, 0},
  };
  for (const auto& c : kCases) {
    const auto load =
        Compile(std::string("title: c\nid: c1\ncorrelation:\n") + c.body);
    if (*c.reason == '\0') {
      ASSERT_EQ(load.correlations.size(), 1u)
          << c.body << (load.rejected.empty() ? "" : load.rejected[0].reason);
      EXPECT_EQ(load.correlations[0].at_least, c.at_least) << c.body;
      EXPECT_EQ(load.correlations[0].timespan_ns, c.seconds * 1000000000)
          << c.body;
    } else {
      ASSERT_EQ(load.rejected.size(), 1u) << c.body;
      EXPECT_NE(load.rejected[0].reason.find(c.reason), std::string::npos)
          << load.rejected[0].reason;
    }
  }
}

TEST(SigmaConformanceTest, LiteralsAreEscapedForTheModule) {
  // What the lines say, where the module's own pattern syntax differs.
  const auto load = Compile(
      RuleText("  sel:\n    F|contains: 'a*b[c]%d?'\n    G|endswith: '\\x'\n"
               "    H|contains: 'plain'\n  condition: sel\n"));
  ASSERT_EQ(load.loaded.size(), 1u);
  const auto& lines = load.loaded[0].lines;
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].op, 1);
  EXPECT_EQ(lines[0].value, u"*a*b[[]c][!\x01-$&-\xFFFF]d?*");
  EXPECT_EQ(lines[1].value, u"*\\x");
  EXPECT_EQ(lines[2].op, 2);  // CONTAINS, no pattern needed
  EXPECT_EQ(lines[2].value, u"plain");
}

}  // namespace
