// End-to-end: evfilter on generated files in the shapes event logs come
// in (nested JSON Lines, a JSON array, PowerShell and Event Viewer CSV,
// TSV, journald JSON), plain and gzip-compressed, and on the expression
// syntax users type.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <string>

#include "EventExports.h"
#include "EvfilterRun.h"
#include "query/WhereCompiler.h"
#include "records/Formats.h"

namespace {

using EvfilterFormatsTest = EvfilterCliTest;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

constexpr int kEvents = 30;

// How many of the first `n` events satisfy `keep`.
template <typename F>
std::string CountOf(F keep, int n = kEvents) {
  int c = 0;
  for (int k = 0; k < n; ++k) c += keep(k) ? 1 : 0;
  return std::to_string(c) + "\n";
}

TEST_F(EvfilterFormatsTest, NestedJsonIsReachedByDottedPaths) {
  const std::string file =
      File("sysmon.jsonl", exports::SysmonJsonLines(kEvents));
  Result r =
      Run("match --count --where \"Event.System.EventID = 4625\" " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, CountOf([](int k) { return exports::Id(k) == 4625; }));
  EXPECT_EQ(r.err, "");
  // Array elements by index; a key holding a dot is found as it stands.
  r = Run("match --count --where \"Tags.0 = failure AND a.b >= 10\" " + file);
  EXPECT_EQ(r.out, CountOf([](int k) { return k % 2 == 1 && k >= 10; }));
  r =
      Run("match --count --where "
          "\"Event.System.TimeCreated.SystemTime < 15:10 AND "
          "Event.EventData.TargetUserName LIKE 'admin%'\" --utc " +
          file);
  EXPECT_EQ(r.out, CountOf([](int k) { return k < 6 && k % 3 == 0; }));
  // The record is written as it was read.
  r = Run("match --where \"Event.System.EventID = 4688 AND a.b < 5\" " + file);
  EXPECT_EQ(r.out, exports::SysmonObject(4) + "\n");
  // A path that is not there: the closest full path is suggested.
  r = Run("match --where \"Event.System.EventId2 = 1\" " + file);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err,
                  "no field 'Event.System.EventId2' "
                  "(closest: 'Event.System.EventID')"))
      << r.err;
  // A short name: the full path that ends in it, not the object above it.
  r = Run("match --where \"EventID = 1\" " + file);
  EXPECT_TRUE(
      Has(r.err, "no field 'EventID' (closest: 'Event.System.EventID')"))
      << r.err;
  r = Run(
      "match --allow-missing --count --where \"Tags.5 = x OR Tags.x = y\" " +
      file);
  EXPECT_EQ(r.out, "0\n");
}

TEST_F(EvfilterFormatsTest, PathsFollowTheKeyAsItStandsFirst) {
  const std::string file = File("dots.jsonl",
                                "{\"a.b\": 1, \"a\": {\"b\": 2}}\n"
                                "{\"a\": {\"b\": 3, \"b.c\": 4, \"b\": 9}}\n"
                                "{\"a\": {\"b\": {\"c\": 5}}, \"x\": [[7]]}\n"
                                "{\"a\": [10, {\"b\": 11}]}\n");
  Result r = Run("match --where \"a.b = 1\" --output-format csv " + file);
  EXPECT_EQ(r.out, "a.b,a\n1,\"{\"\"b\"\":2}\"\n");
  r = Run("match --count --where \"a.b.c = 4 OR a.b.c = 5\" " + file);
  EXPECT_EQ(r.out, "2\n");
  r = Run("match --count --where \"x.0.0 = 7 OR a.1.b = 11\" " + file);
  EXPECT_EQ(r.out, "2\n");
}

TEST_F(EvfilterFormatsTest, JsonArraysAreReadElementByElement) {
  const std::string file = File("events", exports::JsonArray(kEvents));
  Result r = Run("match --where \"EventID = 4688 AND User = user4\" " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  // Written as one JSON line per object.
  EXPECT_EQ(r.out,
            "{\"EventID\":4688,\"User\":\"user4\",\"Event\":{\"System\":{"
            "\"EventID\":4688}},\"Message\":\"line one\\nline [two], "
            "{x}\"}\n");
  r = Run("match --count --where \"Event.System.EventID != 4624\"",
          "\xEF\xBB\xBF  \n" + exports::JsonArray(kEvents));
  EXPECT_EQ(r.out, CountOf([](int k) { return exports::Id(k) != 4624; }));
  r = Run("match --count --input-format json --where \"a = 1\"",
          "[{\"a\":1},{\"a\":2},{\"a\":1}]");
  EXPECT_EQ(r.out, "2\n");
  r = Run("match --allow-missing --count --where \"a = 1\" " +
          File("e.json", "[]"));
  EXPECT_EQ(r.out, "0\n");
  EXPECT_EQ(r.status, 1);
}

// An array far larger than the memory evfilter takes is read element by
// element (the peak size of the children of this process is measured).
TEST_F(EvfilterFormatsTest, LargeJsonArraysAreStreamed) {
  const std::string element =
      "{\"a\": 1, \"pad\": \"" + std::string(1000, 'x') + "\"},\n";
  const std::string file = (dir_ / "big.json").string();
  {
    // Written in pieces: a child forked while this process held the whole
    // text would count it in its own peak.
    std::ofstream out(file, std::ios::binary);
    out << "[\n";
    for (int i = 0; i < 96 * 1024; ++i) out << element;  // about 100 MB
    out << "{\"a\": 2}]\n";
  }
  // The run's own peak, not that of every child this process had.
  const std::string out = (dir_ / "count").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(o, STDOUT_FILENO);
    ::execl(EVFILTER_PATH, EVFILTER_PATH, "match", "--count", "--where",
            "a = 2", file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(::wait4(child, &status, 0, &usage), child);
  EXPECT_EQ(Read(out), "1\n");
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // Sanitizers' shadow memory and quarantine would count here; so would
  // valgrind's own memory, which a child shares until it runs the program.
  if (std::getenv("FM_UNDER_VALGRIND") == nullptr) {
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "peak KB of the run";
  }
#endif
}

TEST_F(EvfilterFormatsTest, BrokenJsonArraysSayWhere) {
  // An element that is no object is skipped and said; the rest is read.
  Result r = Run("match --count --where \"a = 1\"",
                 "[\n{\"a\":1},\n 5,\n{\"a\":1, \"b\": tru},\n{\"a\":1}\n]");
  EXPECT_EQ(r.out, "2\n");
  EXPECT_TRUE(Has(r.err, "(standard input):3: not a JSON object; line skipped"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "(standard input):4: not valid JSON")) << r.err;
  // A structure that is not one array stops the input with status 2; the
  // records before the break are read, and no count is printed.
  struct Broken {
    const char* text;
    const char* said;
    long long written;  // the records before the break
  };
  const Broken broken[] = {
      {"[{\"a\":1}\n{\"a\":1}]", ":2: '{' where ',' or ']' should follow", 1},
      {"[{\"a\":1},\n", ":2: the array never closes", 1},
      {"[{\"a\":1}] x", ":1: text after the array's closing ']'", 1},
      {"[{\"a\":1},]", ":1: ']' where an array element should be", 1},
      {"[{\"a\":1},\n{\"a\":\"1}]",
       ":2: an array element that starts here never ends", 1},
      {"{\"a\":1}", ":1: not a JSON array: '{' where '[' should start it", 0},
  };
  for (const auto& [text, said, written] : broken) {
    r = Run("match --count --input-format json --where \"a = 1\"", text);
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_EQ(r.out, "") << text;
    EXPECT_TRUE(Has(r.err, said)) << text << "\n" << r.err;
    EXPECT_EQ(r.Written(), written) << text << "\n" << r.err;
  }
}

TEST_F(EvfilterFormatsTest, WindowsExportsWorkWithNoOption) {
  const std::string ps = File("ps.csv", exports::PowerShellCsv(kEvents));
  Result r =
      Run("match --count --where \"(Id = 4625 AND TimeCreated < 15:20 "
          "AND TimeCreated = 12/8/2026) OR Message CONTAINS "
          "'user5'\" " +
          ps);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, CountOf([](int k) {
              return (exports::Id(k) == 4625 && k < 16) ||
                     exports::User(k).find("user5") != std::string::npos;
            }));
  r = Run("match --where \"Id = 4688 AND MachineName = host0\" " + ps);
  EXPECT_EQ(r.status, 0);
  // The header row as written, then the records byte for byte.
  EXPECT_TRUE(r.out.starts_with("\"Message\",\"Id\",")) << r.out;
  EXPECT_TRUE(Has(r.out,
                  "\t\tuser4\r\n\t\"\"quoted\"\", here\",\"4688\",\""
                  "Information\",\"host0\",\"12/8/2026 3:08:05 PM\"\r\n"))
      << r.out;
  const std::string ev = File("viewer.csv", exports::EventViewerCsv(kEvents));
  r =
      Run("match --count --where '`Event ID` >= 4625 AND `Date and Time` > "
          "15:30:00' " +
          ev);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            CountOf([](int k) { return exports::Id(k) >= 4625 && k > 26; }));
  // The message cell has no name in the header: it is Message, and the
  // rows are not ragged.
  EXPECT_EQ(r.err, "");
  r = Run("match --count --where '`Date and Time` = 12/8/2026' " + ev);
  EXPECT_EQ(r.out, std::to_string(kEvents) + "\n");
  r = Run("match --count --strict --where \"Message CONTAINS 'user5'\" " + ev);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, CountOf([](int k) {
              return exports::User(k).find("user5") != std::string::npos;
            }));
  r = Run("match --output-format jsonl --where '`Event ID` = 4688' " + ev);
  EXPECT_TRUE(Has(r.out, "\"Message\":\"An account was logged on.")) << r.out;
}

TEST_F(EvfilterFormatsTest, TsvIsReadAndWrittenAsTsv) {
  const std::string file = File("events.tsv", exports::Tsv(kEvents));
  Result r = Run("match --where \"EventID = 4688 AND User = admin9\" " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "EventID\tUser\tTime\tMessage\n4688\tadmin9\t2026-12-08T15:13:"
            "05Z\tline one\\nline\\ttwo \\\\ end\n");
  // Escapes are read as what they stand for.
  r = Run("match --count --where \"Message = 'line one\nline\ttwo \\ end'\" " +
          file);
  EXPECT_EQ(r.out, std::to_string(kEvents) + "\n");
  r = Run("match --output-format jsonl --where \"User = user1\" " + file);
  EXPECT_EQ(r.out,
            "{\"EventID\":\"4625\",\"User\":\"user1\",\"Time\":\"2026-12-08T15:"
            "05:05Z\",\"Message\":\"line one\\nline\\ttwo \\\\ end\"}\n");
  r = Run("match --input-format tsv --output-format csv --where \"b = 2\"",
          "a\tb\nx,y\t2\n");
  EXPECT_EQ(r.out, "a,b\n\"x,y\",2\n");
  r = Run("match --input-format csv --output-format tsv --where \"b = 2\"",
          "a,b\n\"x\ty\",2\n");
  EXPECT_EQ(r.out, "a\tb\nx\\ty\t2\n");
  r = Run("match --input-format tsv --count --where \"b = 2\"",
          "a\tb\n1\t2\t3\n\n4\n");
  EXPECT_EQ(r.out, "1\n");
  EXPECT_TRUE(Has(r.err,
                  "(standard input):2: 3 cell(s) where the header has "
                  "2"))
      << r.err;
}

// Every format that can be written reads back as the records it was
// written from: awkward cells, and a record of one empty cell, which CSV
// writes as "" and TSV can only write as a blank line, which its reader
// skips and says so.
TEST_F(EvfilterFormatsTest, EveryWritableFormatReadsBackAsWritten) {
  const std::string all = " --where \"a = '' OR NOT a = ''\" ";
  for (const std::string records :
       {"{\"a\":\"x,y\",\"b\":\"tab\\there\"}\n"
        "{\"a\":\"say \\\"hi\\\"\",\"b\":\"two\\nlines\"}\n"
        "{\"a\":\"\",\"b\":\"\"}\n",
        "{\"a\":\"\"}\n{\"a\":\"z\"}\n{\"a\":\"\"}\n"}) {
    const std::string source = File("records.jsonl", records);
    for (const eventquery::FormatTraits& f : eventquery::AllFormats()) {
      if (!f.writable) continue;
      const std::string written =
          Run(std::string("match --output-format ") + f.name + all + source)
              .out;
      const Result back = Run(std::string("match --input-format ") + f.name +
                                  all + "--output-format jsonl",
                              written);
      EXPECT_EQ(back.status, 0) << f.name << ": " << back.err;
      if (std::string(f.name) == "tsv" && records.starts_with("{\"a\":\"\"}")) {
        EXPECT_EQ(back.out, "{\"a\":\"z\"}\n");
        EXPECT_NE(back.err.find("(standard input): line 2: a blank line under "
                                "a header of one name is skipped"),
                  std::string::npos)
            << back.err;
        continue;
      }
      EXPECT_EQ(back.out, records) << f.name << " wrote:\n" << written;
    }
  }
}

TEST_F(EvfilterFormatsTest, JournaldEpochTimestamps) {
  const std::string file = File("journal.json", exports::JournalJson(kEvents));
  Result r =
      Run("match --utc --count --where \"__REALTIME_TIMESTAMP < 15:14 "
          "AND __REALTIME_TIMESTAMP = 12/8/2026 AND PRIORITY <= 3\" " +
          file);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, CountOf([](int k) { return k < 10 && k % 8 <= 3; }));
  // The local zone applies as for any instant: 15:04Z is 16:04 in Paris.
  r = Run("match --count --where \"__REALTIME_TIMESTAMP < 16:05\" " + file, "",
          "TZ=Europe/Paris");
  EXPECT_EQ(r.out, "1\n");
}

// journalctl writes a value that is no plain text as an array of its
// bytes; only journal records are read so, other arrays stay JSON.
TEST_F(EvfilterFormatsTest, JournaldByteArraysAreText) {
  auto bytes = [](const std::string& text) {
    std::string out = "[";
    for (const unsigned char c : text)
      out += (out.size() > 1 ? "," : "") + std::to_string(c);
    return out + "]";
  };
  const std::string journal =
      "{\"__REALTIME_TIMESTAMP\":\"1796904000000000\",\"MESSAGE\":\"Failed "
      "password for root\"}\n"
      "{\"__REALTIME_TIMESTAMP\":\"1796904001000000\",\"MESSAGE\":" +
      bytes("\x1b[1mFailed password\x1b[0m for admin") +
      "}\n"
      "{\"__CURSOR\":\"s=1\",\"MESSAGE\":" +
      bytes("Failed password for J\xf6rg") +
      "}\n"
      "{\"__CURSOR\":\"s=2\",\"MESSAGE\":[\"two\",\"values\"]}\n"
      "{\"__CURSOR\":\"s=3\",\"MESSAGE\":[300,1]}\n";
  const std::string file = File("journal-bytes.json", journal);
  Result r = Run(
      "match --count --where \"MESSAGE CONTAINS 'Failed password'\" " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3\n");
  // The byte that is no UTF-8 is reported, for its field.
  EXPECT_TRUE(Has(r.err, "'MESSAGE'")) << r.err;
  EXPECT_TRUE(Has(r.err, "not valid UTF-8")) << r.err;
  r = Run("match --output-format csv --where \"MESSAGE LIKE '*admin'\" " +
          file);
  EXPECT_TRUE(Has(r.out, "\x1b[1mFailed password\x1b[0m for admin")) << r.out;
  // Arrays of other kinds stay JSON text; so does any array elsewhere.
  r = Run("match --count --where \"MESSAGE CONTAINS '\\\"two\\\"'\" " + file);
  EXPECT_EQ(r.out, "1\n") << r.err;
  r = Run("match --count --where \"MESSAGE = '[300,1]'\" " + file);
  EXPECT_EQ(r.out, "1\n") << r.err;
  const std::string plain = File("ports.jsonl", "{\"ports\":[70,97]}\n");
  r = Run("match --count --where \"ports = '[70,97]'\" " + plain);
  EXPECT_EQ(r.out, "1\n") << r.err;
}

// A Zeek log: names from #fields, "-" unset, "(empty)" empty, "#" lines
// no records, time as epoch seconds with a fraction; written back with
// its preamble.
TEST_F(EvfilterFormatsTest, ZeekLogsAreReadByTheirPreamble) {
  const std::string preamble =
      "#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
      "#unset_field\t-\n#path\tconn\n#open\t2026-12-08-22-00-00\n"
      "#fields\tts\tuid\tid.resp_p\tservice\tduration\ttunnel_parents\t"
      "note\n"
      "#types\ttime\tstring\tport\tstring\tinterval\tset[string]\tstring\n";
  const std::string c2 = "1796767260.5\tC2\t53\tdns\t-\t-\tx\\x09y\n";
  const std::string log =
      preamble + "1796767200.123456\tC1\t445\tsmb\t1.5\t(empty)\t-\n" + c2 +
      "1796770800.000001\tC3\t22\t-\t30.25\t(empty)\t-\n" +
      "#close\t2026-12-08-23-00-00\n";
  const std::string file = File("conn.log", log);
  Result r = Run("match --strict --where \"uid = C2\" " + file);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, preamble + c2);
  EXPECT_EQ(r.err, "");
  struct Case {
    const char* where;
    const char* count;
  };
  for (const Case& c : {
           Case{"\\`id.resp_p\\` = 445", "1\n"},
           Case{"duration > 1", "2\n"},  // C2's is unset: no number
           Case{"NOT service = ''", "2\n"},
           Case{"tunnel_parents = ''", "3\n"},
           // C1 at 22:00:00.123456 is after 22:00; C3 at 23:00:00.000001
           // is not before 22:59.
           Case{"ts > 22:00 AND ts < 22:59", "2\n"},
           Case{"ts > 22:00:00.123456 AND ts < 22:59", "1\n"},
           Case{"ts >= '2026-12-08 22:01'", "2\n"},
           Case{"note = 'x\ty'", "1\n"},
       }) {
    r = Run(std::string("match --utc --count --where \"") + c.where + "\" " +
            file);
    EXPECT_EQ(r.out, c.count) << c.where << "\n" << r.err;
  }
  r = Run("match --output-format jsonl --where \"uid = C1\" " + file);
  EXPECT_TRUE(Has(r.out, "\"tunnel_parents\":\"\"")) << r.out;
  EXPECT_FALSE(Has(r.out, "\"note\"")) << r.out;
  // A log that names no field cannot be read.
  r = Run("match --count --where \"a = 1\" " +
          File("bad.log", "#separator \\x09\n1\t2\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "#fields")) << r.err;
}

TEST_F(EvfilterFormatsTest, ZeekTypesDecideHowFieldsCompare) {
  const std::string log =
      File("dns.log",
           "#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
           "#unset_field\t-\n#path\tdns\n#fields\tts\ttrans_id\tid.resp_p\n"
           "#types\ttime\tstring\tport\n"
           "1796767200.5\t00042\t53\n1796767201.5\t42\t5353\n");
  const std::string csv = File("dns.csv", "trans_id,id.resp_p\n00042,53\n");
  struct Case {
    const char* args;
    const char* count;
  };
  for (const Case& c : {
           // A string field is text, though its value looks like a number.
           Case{"--where \"trans_id = 42\"", "1\n"},
           Case{"--where \"trans_id:numeric = 42\"", "2\n"},
           Case{"--type trans_id=numeric --where \"trans_id = 42\"", "2\n"},
           Case{"--where \"id.resp_p > 100\"", "1\n"},
       }) {
    const Result r = Run(std::string("match --count ") + c.args + " " + log);
    EXPECT_EQ(r.out, c.count) << c.args << "\n" << r.err;
  }
  // The CSV declares nothing: there 42 is a number, as written.
  Result r = Run("match --count --where \"trans_id = 42\" " + log + " " + csv);
  EXPECT_EQ(r.out, "2\n") << r.err;
  // An order comparison on a declared string compares texts: said once.
  // ("42" > "100": twice, once per input).
  r = Run("match --count --where \"trans_id > 100\" " + log + " " + log);
  EXPECT_EQ(r.out, "2\n");
  EXPECT_EQ(r.err.find("'trans_id' is text in the input's declared types"),
            r.err.rfind("'trans_id' is text in the input's declared types"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "write trans_id:numeric")) << r.err;
  // A value the declared type cannot take fails that input, and says why.
  r = Run("match --count --where \"id.resp_p = abc\" " + log);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "dns.log: 'abc' is not a number (the input declares"))
      << r.err;
}

// Rotated logs concatenated into one stream (zcat conn.*.log.gz) repeat
// their preamble: the same one is read on, another one ends the input
// rather than read records under the wrong names.
TEST_F(EvfilterFormatsTest, ConcatenatedZeekLogsKeepTheirFields) {
  const std::string preamble =
      "#separator \\x09\n#set_separator\t,\n#empty_field\t(empty)\n"
      "#unset_field\t-\n#path\tconn\n";
  const std::string conn =
      preamble +
      "#fields\tts\tuid\tid.resp_p\n"
      "#types\ttime\tstring\tport\n"
      "1796767200.5\tC1\t22\n#close\t2026-12-08-23-00-00\n";
  Result r = Run("match --count --where \"id.resp_p > 0\" " +
                 File("two.log", conn + conn));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "2\n");
  const std::string dns = preamble +
                          "#fields\tts\tuid\tquery\n"
                          "#types\ttime\tstring\tstring\n"
                          "1796767201.5\tD1\t53\n";
  r = Run("match --count --where \"ts > 0\" " + File("mixed.log", conn + dns));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.Written(), 1);
  EXPECT_TRUE(Has(r.err, "mixed.log: line 15: a Zeek log of other fields"))
      << r.err;
  // A Zeek log kept as one has no column for the input's name.
  const std::string two = dir_ / "two.log";
  r = Run("match -H --where \"id.resp_p > 0\" " + two);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "--with-input: a Zeek log written as one")) << r.err;
  r = Run("match -H --output-format csv --where \"id.resp_p > 0\" " + two);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "input,ts,uid,id.resp_p\n" + two + ",")) << r.out;
}

// A log without #types whose preamble ends at a blank line: the records
// after it keep their own line numbers in what is reported.
TEST_F(EvfilterFormatsTest, ZeekLinesAreCountedAfterABlankLine) {
  const std::string file =
      File("untyped.log",
           "#separator \\x09\n#fields\tuid\tn\n\nC1\t5\nC2\tabc\n#fields\tx\n");
  const Result r = Run("match --count --where \"n > 1\" " + file);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.Written(), 1);
  EXPECT_TRUE(Has(r.err, "untyped.log:5: 'abc'")) << r.err;
  EXPECT_TRUE(Has(r.err, "untyped.log: line 6: a Zeek log of other fields"))
      << r.err;
}

TEST_F(EvfilterFormatsTest, GzipInputsOfEveryShape) {
  const std::pair<std::string, std::string> files[] = {
      {"sysmon.jsonl.gz", exports::SysmonJsonLines(kEvents)},
      {"array.json.gz", exports::JsonArray(kEvents)},
      {"ps.csv.gz", exports::PowerShellCsv(kEvents)},
      {"viewer.csv.gz", exports::EventViewerCsv(kEvents)},
      {"events.tsv.gz", exports::Tsv(kEvents)},
      {"journal.json.gz", exports::JournalJson(kEvents)},
  };
  for (const auto& [name, text] : files) {
    const std::string plain = File("plain", text);
    const std::string gz = File(name, exports::Gzip(text));
    // Every record, as the plain file gives them.
    const std::string where = "--allow-missing --where \"NOT x = 1\"";
    const Result want = Run("match " + where + " " + plain);
    const std::string format =
        name.find(".tsv") != std::string::npos ? " --input-format tsv" : "";
    Result r = Run("match " + where + " " + gz);
    EXPECT_EQ(r.status, 0) << name << r.err;
    EXPECT_EQ(r.out, Run("match " + where + format + " " + plain).out) << name;
    EXPECT_NE(r.out, "") << name;
    // On standard input, by its magic bytes.
    r = Run("match " + where + format, exports::Gzip(text));
    EXPECT_EQ(r.out, want.out) << name;
  }
}

TEST_F(EvfilterFormatsTest, BrokenGzipIsAClearError) {
  const std::string text = exports::Tsv(2000);
  const std::string gz = exports::Gzip(text);
  // Truncated: what was decompressed is decided, then status 2.
  Result r = Run("match --count --where \"User LIKE 'x%'\" " +
                 File("cut.tsv.gz", gz.substr(0, gz.size() / 2)));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err,
                  "cut.tsv.gz: the gzip stream ends early (the file is "
                  "truncated); reading stopped after "))
      << r.err;
  std::string corrupt = gz;
  for (size_t i = gz.size() / 3; i < gz.size() / 3 + 64; ++i)
    corrupt[i] ^= 0x5A;
  r = Run("match --count --where \"User LIKE 'x%'\" " +
          File("bad.tsv.gz", corrupt));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "bad.tsv.gz: the gzip data is corrupt")) << r.err;
  // Two members one after the other are one text, as gzip -d gives it.
  r = Run("match --count --input-format tsv --where \"EventID > 0\"",
          exports::Gzip("EventID\n1\n") + exports::Gzip("2\n3\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "3\n");
  // A gzip header and nothing after it.
  r = Run("match --where \"a = 1\" " + File("empty.csv.gz", gz.substr(0, 10)));
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "empty.csv.gz: the gzip stream ends early")) << r.err;
}

TEST_F(EvfilterFormatsTest, OperatorsUsersTypeOnMissingValues) {
  const std::string file = File("m.jsonl",
                                "{\"a\": 5}\n{\"a\": 4}\n{\"a\": null}\n"
                                "{\"b\": 1}\n{\"a\": \"x\"}\n");
  auto count = [&](const std::string& where) {
    return Run("match --count --where \"" + where + "\" " + file).out;
  };
  // A missing or unreadable value makes every condition as written false.
  EXPECT_EQ(count("a >= 5"), "1\n");
  EXPECT_EQ(count("a <= 4"), "1\n");
  EXPECT_EQ(count("a != 5"), "1\n");
  EXPECT_EQ(count("a <> 5"), "1\n");
  EXPECT_EQ(count("a == 5"), "1\n");
  // NOT turns it round: `match` and `match -v` write each record once.
  EXPECT_EQ(count("NOT a >= 5"), "4\n");
  EXPECT_EQ(count("NOT a != 5"), "4\n");
  EXPECT_EQ(Run("match -v --count --where \"a >= 5\" " + file).out, "4\n");
}

TEST_F(EvfilterFormatsTest, CommandLineAsUsersTypeIt) {
  const std::string csv = File("e.csv", "Size,Name\n5,a\n12,b\n");
  // --type takes one argument; the input file after it stays an input.
  Result r = Run("match --type Size=text --where \"Size = 05\" " + csv);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  r = Run("match --where \"Size < 6\" --type Size=numeric " + csv);
  EXPECT_EQ(r.out, "Size,Name\n5,a\n");
  r = Run("match --where \"Size < 6\" --type Size=numeric --type Name=text " +
          csv + " " + csv);
  EXPECT_EQ(r.out, "Size,Name\n5,a\n5,a\n");
  r = Run("mach --where \"a = 1\"");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "evfilter: unknown command 'mach'; did you mean match? (commands: "
            "match, show, intervals, hunt)\n");
  r = Run("interval --where \"a = 1\" a");
  EXPECT_TRUE(Has(r.err, "did you mean intervals?")) << r.err;
  r = Run("frobnicate");
  EXPECT_EQ(r.err,
            "evfilter: unknown command 'frobnicate' (commands: match, show, "
            "intervals, hunt)\n");
  r = Run("match --where \"\" " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "the expression is empty")) << r.err;
  for (const char* v : {"--version", "-V"}) {
    r = Run(v);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("evfilter ") + EVFILTER_VERSION + "\n");
  }
  // What was built: the lines the module has, with their NOT.
  r = Run("show --where 'NOT a >= 5 OR `Event ID` != 1'");
  EXPECT_TRUE(Has(r.out,
                  "  1     0  a                     <          '5'   "
                  "                numeric           0  OR\n"))
      << r.out;
  EXPECT_TRUE(Has(r.out,
                  "  2     0  Event ID              =          '1'   "
                  "                numeric  yes      0  AND\n"))
      << r.out;
}

// Every option the program takes is in its man page and its completion.
TEST_F(EvfilterFormatsTest, ManPageAndCompletionKnowEveryOption) {
  const std::string man = Read(fs::path(EVFILTER_SOURCE_DIR) / "evfilter.1");
  const std::string completion =
      Read(fs::path(EVFILTER_SOURCE_DIR) / "completion" / "evfilter.bash");
  for (const char* command : {"match", "show", "intervals", "hunt"}) {
    const std::string help = Run(std::string(command) + " --help").out;
    for (size_t at = help.find("--"); at != std::string::npos;
         at = help.find("--", at + 2)) {
      size_t end = at + 2;
      while (end < help.size() &&
             (std::isalnum(static_cast<unsigned char>(help[end])) ||
              help[end] == '-'))
        ++end;
      const std::string option = help.substr(at, end - at);
      if (option == "--") continue;
      std::string escaped;  // roff writes "-" as "\-"
      for (char c : option) escaped += c == '-' ? "\\-" : std::string(1, c);
      EXPECT_TRUE(Has(man, escaped)) << command << " " << option;
      EXPECT_TRUE(Has(completion, option + " ") ||
                  Has(completion, option + "\""))
          << command << " " << option;
    }
  }
  // The completion offers the formats after --input-format.
  const std::string script =
      "source " +
      (fs::path(EVFILTER_SOURCE_DIR) / "completion" / "evfilter.bash")
          .string() +
      "; COMP_WORDS=(evfilter match --input-format ''); COMP_CWORD=3; "
      "_evfilter; echo \"${COMPREPLY[*]}\"";
  const std::string out = (dir_ / "completed").string();
  ASSERT_EQ(std::system(
                ("bash " + File("complete.sh", script) + " > " + out).c_str()),
            0);
  std::string formats;
  for (const eventquery::FormatTraits& f : eventquery::AllFormats())
    formats += (formats.empty() ? "" : " ") + std::string(f.name);
  EXPECT_EQ(Read(out), formats + "\n");
  // The man page names each one under --input-format.
  const size_t from = man.find(".BI \\-\\-input\\-format");
  ASSERT_NE(from, std::string::npos);
  const std::string entry = man.substr(from, man.find("\n.TP", from) - from);
  for (const eventquery::FormatTraits& f : eventquery::AllFormats())
    EXPECT_TRUE(Has(entry, std::string(" ") + f.name + "\n") ||
                Has(entry, std::string(" ") + f.name + " ,\n"))
        << f.name << " in " << entry;
}

// Every keyword and period of the expression language is in the help of
// the commands that take --where and in the man page; hunt, which takes
// none, does not repeat the grammar.
TEST_F(EvfilterFormatsTest, HelpAndManPageKnowTheWholeLanguage) {
  // roff writes "-" as "\-"; the words hold none.
  const std::string man = Read(fs::path(EVFILTER_SOURCE_DIR) / "evfilter.1");
  for (const char* command : {"match", "show", "intervals"}) {
    const std::string help = Run(std::string(command) + " --help").out;
    for (const std::string& word : eventquery::ExpressionWords()) {
      EXPECT_TRUE(Has(help, word)) << command << " --help lacks " << word;
      EXPECT_TRUE(Has(man, word)) << "the man page lacks " << word;
    }
  }
  const Result hunt = Run("hunt --help");
  EXPECT_FALSE(Has(hunt.out, "Expression syntax")) << hunt.out;
  EXPECT_TRUE(Has(hunt.out, "Exit status")) << hunt.out;
  // An example a shell runs as written: no backquotes inside double quotes.
  const std::string help = Run("match --help").out;
  EXPECT_FALSE(Has(help, "\"`")) << help;
}

TEST_F(EvfilterFormatsTest, IntervalsSayWhatTheSetMeans) {
  Result r = Run("intervals --where \"a > 5 AND a < 3\" a");
  EXPECT_TRUE(Has(r.out, "no value\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "the filter allows no value of 'a'")) << r.out;
  r = Run("intervals --where \"a = x OR b > 1\" a");
  EXPECT_TRUE(Has(r.out, "[-2147483648, 2147483647]\n")) << r.out;
  EXPECT_TRUE(Has(r.out,
                  "does not compare 'a' as a number (its conditions "
                  "compare it as text), so its set is the whole range"))
      << r.out;
  r = Run("intervals --where \"b > 1\" a");
  EXPECT_TRUE(Has(r.out, "(no condition names it)")) << r.out;
  r = Run("intervals --where \"a > 5000000000 OR a < 3\" a");
  EXPECT_TRUE(Has(r.out,
                  "the value 5000000000 lies outside 32 bits: the set "
                  "covers 32-bit values only"))
      << r.out;
}

}  // namespace
