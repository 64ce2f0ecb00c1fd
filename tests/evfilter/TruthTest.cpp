// End-to-end: evfilter on inputs shaped like real exports either gives the
// right answer or says clearly why it cannot; it is never silently wrong.

#include <gtest/gtest.h>

#include <string>

#include "EvfilterRun.h"

namespace {

using EvfilterTruthTest = EvfilterCliTest;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Three lines on Id, the second nested deeper than the module builds: it
// drops that line and logs an error.
const std::string kDeepDefinition = [] {
  std::string lines;
  for (int i = 0; i < 3; ++i)
    lines += std::string(i ? "," : "") +
             R"({"field": "Id", "value": "1", "type": "numeric", "open": )" +
             std::to_string(i == 1 ? 200 : 0) + R"(, "close": )" +
             std::to_string(i == 2 ? 200 : 0) + "}";
  return "{\"lines\": [" + lines + "]}";
}();

// A run that refused to run the filter of kDeepDefinition.
void ExpectRefused(const Result& r) {
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err,
                  "the filter module could not build the filter: "
                  "FLTPopCmpdExpr - unknown error."))
      << r.err;
}

// A CSV of `rows` records with Id 1..rows.
std::string IdCsv(int rows) {
  std::string csv = "Id,Name\n";
  for (int i = 1; i <= rows; ++i)
    csv += std::to_string(i) + ",n" + std::to_string(i) + "\n";
  return csv;
}

TEST_F(EvfilterTruthTest, BadValuesStopTheRunAndPointAtThem) {
  const std::string csv =
      File("e.csv", "EventID,Received,Time\n4625,2026-12-03,22:15:00\n");
  struct Case {
    const char* where;
    const char* message;
    size_t column;
  };
  const Case cases[] = {
      {"Received:date > garbage", "'garbage' is not a date; accepted forms",
       17},
      {"EventID:numeric > abc", "'abc' is not a number", 19},
      {"Time:time > 25:99", "'25:99' is not a time", 13},
      {"Received:date > 13/45/2026", "not a day of the calendar", 17},
      {"Received:date > 2/30/2026", "not a day of the calendar", 17},
      {"Received:date > garbage AND EventID = 4625", "is not a date", 17},
      {"Received > 2026-12-7", "accepted forms: m/d/yyyy", 12},
      {"Received > 12/07/26", "accepted forms: m/d/yyyy", 12},
      {"Received > '12/7/2026 25:00'", "is not a time of day", 12},
      // Values that used to compare as text and match nothing, silently.
      {"EventID = 4624,4625", "write EventID IN (4624, 4625)", 11},
      {"Received > NOW", "'NOW' is no number, date, time or timestamp", 12},
      {"EventID > abc", "write IN LAST 24 HOURS", 11},
      {"EventID IN (4624,,4625)", "expected a value before ','", 18},
      {"EventID > 1e9", "write it in digits", 11},
      {"Received IN LAST 0 DAYS", "a whole number from 1 to 36500", 18},
      {"EventID MATCHES 'a(b'", "is no regular expression: missing )", 17},
      {"Time > '13:15 PM'", "with AM or PM the hour is 1 to 12", 8},
      {"Received = TODAY", "is a period: write IN TODAY", 12},
      {"EventID:numeric IN TODAY", "needs a date field", 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.where);
    const Result r =
        Run("match --count --where \"" + std::string(c.where) + "\" " + csv);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(Has(r.err, c.message)) << r.err;
    EXPECT_TRUE(
        Has(r.err, "syntax error at column " + std::to_string(c.column) + ":"))
        << r.err;
  }
  // In a definition the line is named.
  const std::string def = File("d.json", R"({"lines": [
      {"field": "EventID", "value": "4625", "type": "numeric"},
      {"field": "Received", "operator": ">", "value": "2/30/2026",
       "type": "date"}]})");
  const Result r = Run("match --filter " + def + " " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "line 2: field 'Received': '2/30/2026' is not a day"))
      << r.err;
}

TEST_F(EvfilterTruthTest, AFilterTheModuleCannotBuildWholeIsRefused) {
  // Nesting deeper than the module builds: it drops the line and logs an
  // error; evfilter refuses to run what is left, in every sub-command.
  const std::string def = File("deep.json", kDeepDefinition);
  const std::string csv = File("ids.csv", IdCsv(3));
  for (const std::string& command :
       {"match --filter " + def + " " + csv, "show --filter " + def,
        "intervals --filter " + def + " Id"}) {
    SCOPED_TRACE(command);
    ExpectRefused(Run(command));
  }
}

// The module's error lines reach evfilter in the process, not through its
// log file: with the file unwritable (a file-size limit stands in for a
// full disk), a filter it cannot build whole is still refused, and a run
// beside others that share the log folder sees only its own errors.
TEST_F(EvfilterTruthTest, BuildErrorsAreSeenWhateverBecomesOfTheLogFile) {
  const std::string def = File("deep.json", kDeepDefinition);
  const std::string csv = File("ids.csv", IdCsv(3));
  const fs::path logs = dir_ / "logs";
  fs::create_directory(logs);
  // A log past the limit: every record appended to it fails.
  File("logs/Filter-Module.csv", "Timestamp,Source,Level,Verbosity,Message\n" +
                                     std::string(8192, 'x') + "\n");
  const std::string limited = "trap '' XFSZ; ulimit -f 4;";
  ExpectRefused(
      Run("match --log-dir " + logs.string() + " --filter " + def + " " + csv,
          "", limited));
  // Good runs sharing the folder with failing ones: each as alone.
  const std::string shared = "--log-dir " + logs.string();
  fs::remove(logs / "Filter-Module.csv");
  std::string script;
  for (int i = 0; i < 12; ++i)
    script += std::string(EVFILTER_PATH) + " match --count " + shared +
              (i % 2 ? " --where \"Id > 0\" " + csv : " --filter " + def) +
              " > " + (dir_ / ("run" + std::to_string(i))).string() +
              " 2>&1; echo $? >> " +
              (dir_ / ("run" + std::to_string(i))).string() + " &\n";
  script += "wait\n";
  ASSERT_EQ(std::system(("sh " + File("runs.sh", script)).c_str()), 0);
  for (int i = 0; i < 12; ++i) {
    const std::string out = Read(dir_ / ("run" + std::to_string(i)));
    if (i % 2)
      EXPECT_EQ(out, "3\n0\n") << i;
    else
      EXPECT_TRUE(Has(out, "could not build the filter")) << i << out;
  }
}

TEST_F(EvfilterTruthTest, DatesAndTimesAsPeopleWriteThem) {
  const std::string csv = File("t.csv",
                               "Received,Time\n"
                               "2026-11-30,21:59:59\n"
                               "2026-12-01,22:00:00\n"
                               "2026-12-07,12:00:00\n"
                               "2026-12-08,00:30:00\n");
  auto count = [&](const std::string& where) {
    const Result r = Run("match --count --where \"" + where + "\" " + csv);
    EXPECT_EQ(r.err, "") << where;
    return r.out;
  };
  EXPECT_EQ(count("Received > 2026-12-01"), "2\n");
  EXPECT_EQ(count("Received > 12/1/2026"), "2\n");
  EXPECT_EQ(count("Received = 2026-12-07"), "1\n");
  EXPECT_EQ(count("Time > '10:00 PM'"), "0\n");
  EXPECT_EQ(count("Time < '10:00 PM'"), "3\n");
  EXPECT_EQ(count("Time = '10:00 pm'"), "1\n");
  EXPECT_EQ(count("Time = '22:00'"), "1\n");
  EXPECT_EQ(count("Time = '12:00 PM'"), "1\n");  // noon
  EXPECT_EQ(count("Time = '12:30 AM'"), "1\n");  // half past midnight
  EXPECT_EQ(count("Time = 0:30:00"), "1\n");
  const Result shown = Run("show --where \"Time > '9:05 PM'\"");
  EXPECT_TRUE(Has(shown.out, "'9:05:00 PM'")) << shown.out;
}

TEST_F(EvfilterTruthTest, StrayQuotesAreLiteralAndUnclosedOnesReported) {
  std::string csv = "Id,Item\n";
  for (int i = 1; i <= 10000; ++i)
    csv += std::to_string(i) + "," +
           (i == 5000 ? std::string("5\" floppy") : "disk") + "\n";
  const std::string file = File("q.csv", csv);
  Result r = Run("match --count --strict --where \"Id > 0\" " + file);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "10000\n");
  r = Run("match --where \"Item CONTAINS floppy\" " + file);
  EXPECT_EQ(r.out, "Id,Item\n5000,5\" floppy\n");
  // A quoted field that never closes swallows the rest: said, status 2.
  const std::string open =
      File("open.csv", "Id,Item\n1,a\n2,\"never closed\n3,b\n4,c\n");
  r = Run("match --count --where \"Id > 0\" " + open);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.Written(), 1);
  EXPECT_TRUE(Has(r.err,
                  "open.csv:3: a quoted field opened on this line never "
                  "closes; 3 line(s) from here to the end were not "
                  "read"))
      << r.err;
}

TEST_F(EvfilterTruthTest, HeadersAsExportToolsWriteThem) {
  // A byte-order mark before a quoted header, CRLF line ends, a quoted
  // field with a line break inside.
  const std::string ps = File("ps.csv",
                              "\xEF\xBB\xBF\"Message\",\"Id\"\r\n"
                              "\"Logon\r\nfailed\",\"4625\"\r\n"
                              "\"ok\",\"4624\"\r\n");
  Result r = Run("match --where \"Message LIKE 'logon*'\" " + ps);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\"Message\",\"Id\"\r\n\"Logon\r\nfailed\",\"4625\"\r\n");
  // Duplicate names: the first keeps its name, later copies are renamed,
  // and that is said once.
  const std::string dup = File("dup.csv", "x,y,x,x\n1,2,3,4\n5,6,7,8\n");
  r = Run("match --count --where \"x = 1 AND x_2 = 3 AND x_3 = 4\" " + dup);
  EXPECT_EQ(r.out, "1\n");
  EXPECT_EQ(r.err,
            "evfilter: " + dup +
                ": duplicate column names: 'x' renamed 'x_2', 'x' renamed "
                "'x_3'\n");
}

TEST_F(EvfilterTruthTest, RaggedRowsAreReportedAndReadAsFarAsTheyGo) {
  const std::string csv =
      File("r.csv", "Id,Name,Size\n1,a,5\n2,b\n3,c,7,extra\n");
  Result r = Run("match --where \"Id > 0\" " + csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Id,Name,Size\n1,a,5\n2,b\n3,c,7,extra\n");
  EXPECT_TRUE(Has(r.err,
                  "r.csv:3: 2 cell(s) where the header has 3; read as "
                  "far as it goes"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "r.csv:4: 4 cell(s) where the header has 3"));
  // The short row has no Size: a numeric condition on it is false.
  r = Run("match --count --where \"Size > 0\" " + csv);
  EXPECT_EQ(r.out, "2\n");
  r = Run("match --strict --where \"Id > 0\" " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "r.csv:3: 2 cell(s)"));
}

TEST_F(EvfilterTruthTest, ReportsAreCappedAndSummedUp) {
  std::string csv = "Id,Name\n";
  for (int i = 1; i <= 25; ++i) csv += std::to_string(i) + "\n";
  const std::string file = File("short.csv", csv);
  const Result r = Run("match --count --where \"Id > 20\" " + file);
  EXPECT_EQ(r.out, "5\n");
  size_t shown = 0;
  for (size_t at = 0;
       (at = r.err.find("cell(s) where", at)) != std::string::npos; ++at)
    ++shown;
  EXPECT_EQ(shown, 10u);
  EXPECT_TRUE(Has(r.err, "15 more ragged row report(s) not shown"));
  EXPECT_TRUE(Has(r.err, "25 record(s) read, 5 counted, 25 reported"));
}

TEST_F(EvfilterTruthTest, RecordsLackingAFieldAreStillDecided) {
  const std::string jsonl =
      "{\"a\":2}\n"
      "{\"a\":3,\"n\":50}\n"
      "{\"a\":4,\"n\":null}\n"
      "{\"a\":5,\"n\":\"many\"}\n"
      "{\"a\":6,\"n\":5}\n";
  Result r = Run("match --where \"a = 2 OR n > 10\"", jsonl);
  EXPECT_EQ(r.out, "{\"a\":2}\n{\"a\":3,\"n\":50}\n");
  EXPECT_TRUE(Has(r.err,
                  "field 'n': 1 value(s) could not be read as a number "
                  "(first at (standard input):4: 'many')"))
      << r.err;
  // NOT of a condition that cannot be decided is true, as jq's not.
  r = Run("match --where \"NOT n > 10\"", jsonl);
  EXPECT_EQ(r.out,
            "{\"a\":2}\n{\"a\":4,\"n\":null}\n{\"a\":5,\"n\":\"many\"}\n"
            "{\"a\":6,\"n\":5}\n");
  // A text condition on a missing field sees empty text.
  r = Run("match --count --where \"n:text = ''\"", jsonl);
  EXPECT_EQ(r.out, "2\n");
  // So does a regular expression, found in its column as the module's
  // fields are (ignoring case).
  r = Run("match --count --where \"n MATCHES '^$'\"", jsonl);
  EXPECT_EQ(r.out, "2\n");
  r = Run("match --count --where \"N MATCHES '^5' OR a MATCHES 2\"", jsonl);
  EXPECT_EQ(r.out, "3\n");
  // match and match -v together write every record exactly once.
  const Result matched = Run("match --where \"n > 10 OR a < 3\"", jsonl);
  const Result rest = Run("match -v --where \"n > 10 OR a < 3\"", jsonl);
  EXPECT_EQ(matched.out.size() + rest.out.size(), jsonl.size());
  r = Run("match --strict --where \"n > 10\"", jsonl);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "(standard input):4: field 'n': cannot read 'many'"));
}

// The module reads a text up to its first NUL: "admin\0evil" would equal
// admin and hold no evil. Such a value is reported and counts as missing.
TEST_F(EvfilterTruthTest, TextsWithANulAreUnreadableNotCut) {
  const std::string jsonl =
      "{\"b\":\"admin\\u0000evil\"}\n{\"b\":\"admin\"}\n{\"b\":\"evil\"}\n";
  Result r = Run("match --where \"b = admin\"", jsonl);
  EXPECT_EQ(r.out, "{\"b\":\"admin\"}\n");
  EXPECT_TRUE(Has(r.err,
                  "field 'b': 1 value(s) could not be read as text without "
                  "NUL characters (first at (standard input):1: "
                  "'admin\\0evil')"))
      << r.err;
  r = Run("match --count --where \"b CONTAINS evil\"", jsonl);
  EXPECT_EQ(r.out, "1\n");
  r = Run("match --count --where \"NOT b = admin\"", jsonl);
  EXPECT_EQ(r.out, "2\n");
  // Raw NUL bytes in a CSV, past the first 64 KiB that are checked for
  // binary data.
  std::string csv = "b\n";
  while (csv.size() < 70000) csv += "filler\n";
  csv += std::string("admin\0evil\n", 11) + "admin\n";
  r = Run("match --count --where \"b = admin\" " + File("nul.csv", csv));
  EXPECT_EQ(r.out, "1\n");
  EXPECT_TRUE(Has(r.err, "could not be read as text without NUL characters"))
      << r.err;
  // A condition's own value with a NUL is refused before the module sees it.
  const std::string def = File(
      "nul.json", R"({"lines": [{"field": "b", "value": "admin\u0000evil"}]})");
  r = Run("match --filter " + def, jsonl);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "line 1: the value holds a NUL character")) << r.err;
}

// Bytes that are no UTF-8 were all read as U+FFFD, so 'J\xf6rg' matched
// Jürg. Each such byte is now a character of its own, reported once per
// field; --encoding reads a Latin-1 or Windows export exactly.
TEST_F(EvfilterTruthTest, BytesThatAreNoUtf8StayApart) {
  const std::string csv =
      File("bytes.csv", "b\n\xFE\n\xFF\n\xE9\n\xEF\xBF\xBD\nplain\n");
  Result r = Run("match --where \"b = '\xFE'\" " + csv);
  EXPECT_EQ(r.out, "b\n\xFE\n");
  EXPECT_TRUE(
      Has(r.err, "field 'b': 3 value(s) are not valid UTF-8 (first at " + csv +
                     ":2: '\\xFE')"))
      << r.err;
  r = Run("match --count --where \"b = '\xEF\xBF\xBD'\" " + csv);
  EXPECT_EQ(r.out, "1\n");  // only the real U+FFFD
  r = Run("match --count --where \"b LIKE '?'\" " + csv);
  EXPECT_EQ(r.out, "4\n");  // each byte one character
  const std::string tsv =
      File("names.tsv", "name\tn\nJ\xF6rg\t1\nJ\xFCrg\t2\n\x80 5\t3\n");
  r = Run("match --where \"name = 'J\xC3\xB6rg'\" " + tsv);
  EXPECT_EQ(r.status, 1);  // without --encoding no cell is Jörg
  r = Run("match --encoding latin1 --where \"name = 'J\xC3\xB6rg'\" " + tsv);
  EXPECT_EQ(r.out, "name\tn\nJ\xC3\xB6rg\t1\n");
  EXPECT_EQ(r.err, "");
  r = Run("match --encoding cp1252 --where \"n = 3\" " + tsv);
  EXPECT_EQ(r.out, "name\tn\n\xE2\x82\xAC 5\t3\n");  // the euro sign
  r = Run("match --encoding ebcdic --where \"n = 3\" " + tsv);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err,
                  "unknown encoding 'ebcdic'; accepted: utf-8, "
                  "latin1, cp1252"))
      << r.err;
}

TEST_F(EvfilterTruthTest, LargeNumbersAreComparedExactly) {
  const std::string jsonl =
      "{\"id\":1,\"n\":9007199254740992}\n"
      "{\"id\":2,\"n\":9007199254740993}\n"
      "{\"id\":3,\"n\":9007199254740994}\n"
      "{\"id\":4,\"n\":0.1234567}\n";
  auto ids = [&](const std::string& where) {
    Result r = Run("match --where \"" + where + "\"", jsonl);
    std::string out;
    for (size_t at = 0; (at = r.out.find("\"id\":", at)) != std::string::npos;
         ++at)
      out += r.out[at + 5];
    return out;
  };
  EXPECT_EQ(ids("n = 9007199254740993"), "2");
  EXPECT_EQ(ids("n = 9007199254740992"), "1");
  EXPECT_EQ(ids("n > 9007199254740992"), "23");
  EXPECT_EQ(ids("n < 0.1234568"), "4");
  EXPECT_EQ(ids("n > 0.12345671"), "123");
  const Result r = Run("match --count --where \"n = 9007199254740993\"", jsonl);
  EXPECT_TRUE(Has(r.err,
                  "field 'n': 2 number(s) beyond what the filter "
                  "module's numbers carry exactly"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "use n:text"));
}

TEST_F(EvfilterTruthTest, TimestampsWithAnOffsetAreMovedToTheLocalZone) {
  const std::string csv = File("z.csv",
                               "Id,At\n"
                               "1,2026-12-02T00:30:00+01:00\n"
                               "2,2026-12-02T00:30:00Z\n"
                               "3,2026-12-02T00:30:00\n");
  Result r = Run("match --count --where \"At:date = 2026-12-02\" " + csv, "",
                 "TZ=UTC");
  EXPECT_EQ(r.out, "2\n");  // 1 is 23:30 on the 1st in UTC
  r = Run("match --count --where \"At:date = 2026-12-02\" " + csv, "",
          "TZ=Asia/Tokyo");
  EXPECT_EQ(r.out, "3\n");
  r = Run("match --count --where \"At:time = '9:30 AM'\" " + csv, "",
          "TZ=Asia/Tokyo");
  EXPECT_EQ(r.out, "1\n");  // 2 in Tokyo; 1 is 08:30 there
  r = Run("match --utc --count --where \"At:date = 2026-12-02\" " + csv, "",
          "TZ=Asia/Tokyo");
  EXPECT_EQ(r.out, "2\n");
}

TEST_F(EvfilterTruthTest, MalformedJsonLinesAreReportedAndSkipped) {
  const std::string jsonl = "\xEF\xBB\xBF{\"a\":1}\n{\"a\":2\n{\"a\":3}\n";
  Result r = Run("match --where \"a > 0\"", jsonl);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"a\":1}\n{\"a\":3}\n");
  EXPECT_TRUE(Has(r.err, "(standard input):2: not valid JSON"));
  r = Run("match --strict --where \"a > 0\"", jsonl);
  EXPECT_EQ(r.status, 2);
}

TEST_F(EvfilterTruthTest, CsvOutputStartsANewHeaderWhenColumnsChange) {
  const std::string jsonl =
      "{\"a\":1,\"b\":\"x\"}\n{\"a\":2,\"b\":\"y\"}\n{\"a\":3,\"c\":\"z\"}\n";
  Result r = Run("match --output-format csv --where \"a > 0\"", jsonl);
  EXPECT_EQ(r.out, "a,b\n1,x\n2,y\n\na,c\n3,z\n");
  const std::string one = File("one.csv", "a,b\n1,x\n");
  const std::string two = File("two.csv", "a,c\n2,z\n");
  const std::string same = File("same.csv", "a,b\n3,y\n");
  r = Run("match --where \"a > 0\" " + one + " " + two + " " + same);
  EXPECT_EQ(r.out, "a,b\n1,x\n\na,c\n2,z\n\na,b\n3,y\n");
}

TEST_F(EvfilterTruthTest, EveryInputIsReadOrItsFailureSaid) {
  const std::string good = File("good.csv", IdCsv(3));
  const std::string missing = (dir_ / "missing.csv").string();
  Result r = Run("match --count --where \"Id > 1\" " + missing + " " + good);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");  // a count of some inputs only is no answer
  EXPECT_EQ(r.Written(), 2);
  EXPECT_TRUE(Has(r.err, "2 matched (no count printed)")) << r.err;
  EXPECT_TRUE(Has(r.err, missing + ": No such file or directory")) << r.err;
  // A folder is read for its event files, at any depth and in the order of
  // their paths; its other files are counted, and each record can say
  // where it came from.
  fs::create_directories(dir_ / "logs" / "b");
  File("logs/b/two.csv", IdCsv(2));
  File("logs/a.csv", IdCsv(1));
  File("logs/notes.txt", "not an event file");
  File("logs/b/c.jsonl", "{\"Id\": 7}\n");
  // A dangling link does not lose the folder's other files.
  fs::create_symlink(dir_ / "nowhere.csv", dir_ / "logs" / "b" / "gone.csv");
  r = Run("match -H --where \"Id > 0\" " + (dir_ / "logs").string());
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string logs = (dir_ / "logs").string();
  EXPECT_EQ(r.out, "input,Id,Name\n" + logs + "/a.csv,1,n1\n\ninput,Id\n" +
                       logs + "/b/c.jsonl,7\n\ninput,Id,Name\n" + logs +
                       "/b/two.csv,1,n1\n" + logs + "/b/two.csv,2,n2\n");
  EXPECT_TRUE(Has(r.err, logs +
                             ": 2 file(s) not read, their names are no "
                             "event file's or they are no regular file "
                             "(first: " +
                             logs + "/notes.txt)"))
      << r.err;
  r = Run("match --with-input --output-format jsonl --where \"Id = 7\" " +
          logs);
  EXPECT_EQ(r.out, "{\"input\":\"" + logs + "/b/c.jsonl\",\"Id\": 7}\n");
  const std::string gz =
      File("events.csv", std::string("\x1f\x8b\x08\0\0\0\0\0", 8) + "x");
  r = Run("match --where \"Id > 1\" " + gz);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "events.csv: the gzip stream ends early")) << r.err;
  const std::string binary = File("bin.csv", std::string("Id\n1\0\n", 6));
  r = Run("match --where \"Id > 1\" " + binary);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "is a binary file")) << r.err;
  // PowerShell's UTF-16 files are named for what they are.
  const std::string utf16 =
      File("ps16.csv", std::string("\xFF\xFEI\0d\0\n\0001\0\n\0", 12));
  r = Run("match --where \"Id > 1\" " + utf16);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "ps16.csv: is UTF-16 text; only UTF-8 is read"))
      << r.err;
}

}  // namespace

namespace {

TEST_F(EvfilterTruthTest, EachInputIsReadByItsOwnHeader) {
  const std::string a = File("a.csv", "id,amount\n1,500\n2,50\n");
  const std::string b = File("b.csv", "amount,id\n700,3\n70,4\n");
  const std::string c = File("c.csv", "id,other\n5,900\n");
  const Result r =
      Run("match --where \"amount > 100\" " + a + " " + b + " " + c);
  EXPECT_EQ(r.out, "id,amount\n1,500\n\namount,id\n700,3\n");
  EXPECT_NE(r.err.find("field 'amount' is missing from 1 of 3 input(s) "
                       "(first: " +
                       c + ")"),
            std::string::npos)
      << r.err;
}

TEST_F(EvfilterTruthTest, FailuresToWriteOrLogAreErrors) {
  const std::string csv = File("e.csv", "Id\n1\n2\n");
  // A log folder that cannot be made: the rows are still decided right, but
  // the log asked for is not there.
  Result r = Run("match --log-dir /dev/null/nolog --where \"Id > 0\" " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "Id\n1\n2\n");
  EXPECT_NE(r.err.find("record(s) of the module's log could not be written "
                       "to /dev/null/nolog/Filter-Module.csv"),
            std::string::npos)
      << r.err;
  // Output that cannot be written is not reported as written.
  const std::string command = std::string(EVFILTER_PATH) +
                              " match --where \"Id > 0\" " + csv +
                              " > /dev/full 2> " + (dir_ / "err").string();
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
  EXPECT_NE(Read(dir_ / "err").find("standard output: No space left"),
            std::string::npos);
}

}  // namespace
