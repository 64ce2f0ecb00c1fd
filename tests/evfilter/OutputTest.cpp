// End-to-end tests of the output options: --fields, --limit, --count-by,
// --max-groups and --stats.

#include <gtest/gtest.h>

#include <string>

#include "EventExports.h"
#include "EvfilterRun.h"

namespace {

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos;
       at = text.find(part, at + 1))
    ++n;
  return n;
}

const char kCsv[] =
    "EventID,User,Size\n"
    "4625,alice,3\n"
    "4624,bob,x\n"
    "4625,alice,5\n"
    "4625,carol,\n"
    "4624,,7\n";

// Objects whose keys vary, as JSON Lines exports have them.
const char kJsonl[] =
    "{\"EventID\":4625,\"User\":\"alice\",\"Event\":{\"Tags\":[1,2]}}\n"
    "{\"Host\":\"h1\",\"EventID\":4624}\n"
    "{\"EventID\":4625,\"User\":null,\"Extra\":true}\n";

const char kZeek[] =
    "#separator \\x09\n"
    "#set_separator\t,\n"
    "#empty_field\t(empty)\n"
    "#unset_field\t-\n"
    "#path\tconn\n"
    "#fields\tts\tuid\tid.resp_p\tservice\n"
    "#types\ttime\tstring\tport\tstring\n"
    "1733695200.123456\tCa1\t22\tssh\n"
    "1733695201.5\tCa2\t80\t-\n"
    "1733695202.0\tCa3\t443\t(empty)\n"
    "#close\t2026-12-08-23-00-00\n";

TEST_F(EvfilterCliTest, FieldsAreWrittenAloneInTheirOrder) {
  const std::string csv = File("e.csv", kCsv);
  Result r = Run("match --where \"EventID = 4625\" --fields Size,user " + csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "Size,user\n3,alice\n5,alice\n,carol\n");
  // A field no column has is an error before any record is written; with
  // --allow-missing it is said, and written empty.
  r = Run("match --where \"EventID = 4624\" --fields User,Sise " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err, "no field 'Sise' (closest: 'Size')")) << r.err;
  r = Run(
      "match --allow-missing --where \"EventID = 4624\" --fields User,Sise " +
      csv);
  EXPECT_EQ(r.out, "User,Sise\nbob,\n,\n");
  EXPECT_TRUE(Has(r.err, "no field 'Sise' (closest: 'Size')")) << r.err;
  EXPECT_TRUE(Has(r.err, "its cells were left empty")) << r.err;
  r = Run("match --strict --where \"EventID = 4624\" --fields Sise " + csv);
  EXPECT_EQ(r.status, 2);
  r =
      Run("match --where \"EventID = 4624\" --fields User,EventID "
          "--output-format jsonl " +
          csv);
  EXPECT_EQ(r.out,
            "{\"User\":\"bob\",\"EventID\":\"4624\"}\n"
            "{\"User\":\"\",\"EventID\":\"4624\"}\n");
}

TEST_F(EvfilterCliTest, FieldsGiveJsonLinesOneCsvHeader) {
  const std::string jsonl = File("e.jsonl", kJsonl);
  // Without --fields every change of keys starts a header block.
  Result r = Run("match --where \"EventID > 0\" --output-format csv " + jsonl);
  EXPECT_EQ(Count(r.out, "EventID"), 3u) << r.out;
  r =
      Run("match --where \"EventID > 0\" --output-format csv "
          "--fields EventID,User,Event.Tags.1 " +
          jsonl);
  EXPECT_EQ(r.out,
            "EventID,User,Event.Tags.1\n"
            "4625,alice,2\n"
            "4624,,\n"
            "4625,,\n");
  // JSON stays JSON: numbers, booleans and objects keep their type; a
  // field a record lacks is null.
  r = Run("match --where \"EventID > 0\" --fields EventID,Event,extra " +
          jsonl);
  EXPECT_EQ(r.out,
            "{\"EventID\":4625,\"Event\":{\"Tags\":[1,2]},\"extra\":null}\n"
            "{\"EventID\":4624,\"Event\":null,\"extra\":null}\n"
            "{\"EventID\":4625,\"Event\":null,\"extra\":true}\n");
}

TEST_F(EvfilterCliTest, FieldsKeepAZeekLogAZeekLog) {
  const std::string log = File("conn.log", kZeek);
  Result r =
      Run("match --where \"id.resp_p > 20\" --fields service,id.resp_p " + log);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "#separator \\x09\n"
            "#set_separator\t,\n"
            "#empty_field\t(empty)\n"
            "#unset_field\t-\n"
            "#path\tconn\n"
            "#fields\tservice\tid.resp_p\n"
            "#types\tstring\tport\n"
            "ssh\t22\n"
            "-\t80\n"
            "(empty)\t443\n");
  // As JSON the unset value is null and the empty one the empty text.
  r =
      Run("match --where \"id.resp_p > 20\" --fields service "
          "--output-format jsonl " +
          log);
  EXPECT_EQ(r.out,
            "{\"service\":\"ssh\"}\n{\"service\":null}\n{\"service\":\"\"}\n");
}

TEST_F(EvfilterCliTest, FieldsWriteEachZeekLogUnderItsOwnTypes) {
  std::string other = kZeek;
  other.replace(other.find("port"), 4, "string");
  const std::string a = File("a.log", kZeek);
  const std::string b = File("b.log", other);
  const Result r =
      Run("match --where \"ts > 0\" --fields uid,id.resp_p " + a + " " + b);
  EXPECT_EQ(Count(r.out, "#types\tstring\tport\n"), 1u) << r.out;
  EXPECT_EQ(Count(r.out, "#types\tstring\tstring\n"), 1u) << r.out;
  EXPECT_EQ(Count(r.out, "Ca1\t22\n"), 2u) << r.out;
}

TEST_F(EvfilterCliTest, LimitStopsReadingAtTheLimit) {
  const std::string csv = File("e.csv", kCsv);
  Result r = Run("match --where \"EventID = 4625\" --limit 2 " + csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "EventID,User,Size\n4625,alice,3\n4625,alice,5\n");
  r = Run("match --where \"EventID = 4625\" --limit 2 --count " + csv);
  EXPECT_EQ(r.out, "2\n");
  r = Run("match --where \"EventID = 4625\" --limit 9 --count " + csv);
  EXPECT_EQ(r.out, "3\n");
  // What comes after the limit is not read: the broken line, the second
  // input and the unreadable Size are never seen.
  const std::string jsonl =
      File("e.jsonl", "{\"EventID\":1}\n{\"EventID\":1}\n{broken\n");
  r = Run("match --where \"EventID = 1 OR Size < 9\" --limit 1 " + jsonl + " " +
          csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"EventID\":1}\n");
  EXPECT_EQ(r.err, "");
  // On threads too, in input order.
  std::string many = "EventID\n";
  for (int i = 0; i < 50000; ++i) many += std::to_string(i % 7) + "\n";
  r = Run("match -j 2 --where \"EventID = 3\" --limit 3 " +
          File("many.csv", many));
  EXPECT_EQ(r.out, "EventID\n3\n3\n3\n");
}

TEST_F(EvfilterCliTest, LimitIgnoresWhatThreadsReadAhead) {
  // A gzip stream cut short well after the limit: the threads read ahead
  // into the broken part, which no record written comes from.
  std::string many = "EventID\n";
  for (int i = 0; i < 300000; ++i) many += std::to_string(4600 + i % 97) + "\n";
  const std::string gz = exports::Gzip(many);
  const std::string cut = File("cut.csv.gz", gz.substr(0, gz.size() / 2));
  for (const char* jobs : {"-j 1", "-j 2"}) {
    const Result r = Run(std::string("match ") + jobs +
                         " --where \"EventID > 0\" --limit 5 --count " + cut);
    EXPECT_EQ(r.status, 0) << jobs << "\n" << r.err;
    EXPECT_EQ(r.out, "5\n") << jobs;
    EXPECT_EQ(r.err, "") << jobs;
  }
  // Without the limit the broken stream is an error either way.
  const Result r = Run("match -j 2 --where \"EventID > 0\" --count " + cut);
  EXPECT_EQ(r.status, 2);
}

TEST_F(EvfilterCliTest, LimitEndsAnEndlessStandardInput) {
  // `yes` writes for ever: only a reader that stops at the limit ends.
  const std::string script = File(
      "endless.sh", "(printf 'EventID\\n'; yes 4625) | timeout 60 " +
                        std::string(EVFILTER_PATH) +
                        " match --input-format csv --where 'EventID = 4625' "
                        "--limit 3 > " +
                        (dir_ / "out").string() + " 2> " +
                        (dir_ / "err").string() + "\n");
  const int raw = std::system(("bash " + script).c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0) << Read(dir_ / "err");
  EXPECT_EQ(Read(dir_ / "out"), "EventID\n4625\n4625\n4625\n");
}

// JSON objects whose keys differ in case: a field keeps the key it was
// found under first, in the filter, every output format, the counts and
// the statistics alike, and the other key's values are said to be unread.
TEST_F(EvfilterCliTest, KeysInAnotherCaseAreReadAlikeAndSaid) {
  const std::string jsonl = File(
      "c.jsonl", "{\"id\":1,\"User\":\"Bob\"}\n{\"id\":2,\"user\":\"al\"}\n");
  Result r = Run("match --where \"user = bob\" --count " + jsonl);
  EXPECT_EQ(r.out, "1\n");
  EXPECT_TRUE(Has(r.err,
                  "field 'user' is read from 'User'; the values under "
                  "'user' (the same name in another case) are not "
                  "read for it"))
      << r.err;
  // The output field is found where the filter's is, though the first
  // record written is the second one.
  r = Run("match --where \"id = 2\" --fields id,user " + jsonl);
  EXPECT_EQ(r.out, "{\"id\":2,\"user\":null}\n");
  r = Run("match --where \"id > 0\" --fields id,user --output-format csv " +
          jsonl);
  EXPECT_EQ(r.out, "id,user\n1,Bob\n2,\n");
  r = Run("match --where \"id > 0\" --count-by user --stats " + jsonl);
  EXPECT_EQ(r.out,
            "{\"user\":\"Bob\",\"count\":1}\n{\"user\":null,\"count\":1}\n");
  EXPECT_TRUE(Has(r.err, "'user': 1 had, 1 missing")) << r.err;
  // A repeated key's last value is its cell, in the filter and the output.
  const std::string dup = File("dup.jsonl", "{\"a\":1,\"a\":2}\n");
  r = Run("match --where \"a = 2\" --fields a " + dup);
  EXPECT_EQ(r.out, "{\"a\":2}\n");
}

TEST_F(EvfilterCliTest, AnEmptyOnlyCellIsWrittenQuoted) {
  // One empty cell alone would be a blank line: no record when read back.
  const std::string csv = File("e.csv", kCsv);
  Result r = Run("match --where \"EventID = 4624\" --fields User " + csv);
  EXPECT_EQ(r.out, "User\nbob\n\"\"\n");
  const std::string again = File("again.csv", r.out);
  r = Run("match --where \"User = ''\" --count " + again);
  EXPECT_EQ(r.out, "1\n");
}

TEST_F(EvfilterCliTest, CountByCountsMostFrequentFirst) {
  const std::string csv = File("e.csv", kCsv);
  // Ties keep the order in which their values came; the empty cell is a
  // value of its own.
  Result r = Run("match --where \"EventID > 0\" --count-by User " + csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "User,count\nalice,2\nbob,1\ncarol,1\n,1\n");
  r =
      Run("match --where \"EventID > 0\" --count-by \"EventID, User\" "
          "--limit 2 " +
          csv);
  EXPECT_EQ(r.out, "EventID,User,count\n4625,alice,2\n4624,bob,1\n");
  r = Run("match -v --where \"User = alice\" --count-by EventID " + csv);
  EXPECT_EQ(r.out, "EventID,count\n4624,2\n4625,1\n");
  r = Run("match --where \"EventID = 1\" --count-by User " + csv);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "User,count\n");
  // JSON: a field a record lacks, or holds null, counts as null.
  const std::string jsonl = File("e.jsonl", kJsonl);
  r = Run("match --where \"EventID > 0\" --count-by User " + jsonl);
  EXPECT_EQ(r.out,
            "{\"User\":null,\"count\":2}\n{\"User\":\"alice\",\"count\":1}\n");
}

TEST_F(EvfilterCliTest, CountByFailsBeyondMaxGroupsAndWritesNothing) {
  const std::string csv = File("e.csv", kCsv);
  // Four distinct users: a cap of four holds them, three does not.
  Result r =
      Run("match --where \"EventID > 0\" --count-by User "
          "--max-groups 4 " +
          csv);
  EXPECT_EQ(r.status, 0);
  r = Run("match --where \"EventID > 0\" --count-by User --max-groups 3 " +
          csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(Has(r.err, "--count-by: more than 3 distinct values")) << r.err;
}

TEST_F(EvfilterCliTest, StatsCountFieldsHadMissingAndUnreadable) {
  const std::string csv = File("e.csv", kCsv);
  Result r = Run("match --where \"Size > 1\" --stats --count " + csv);
  EXPECT_EQ(r.out, "3\n");
  EXPECT_TRUE(Has(r.err, "field statistics over 5 record(s)")) << r.err;
  EXPECT_TRUE(Has(r.err, "'Size': 5 had, 0 missing, 1 unreadable")) << r.err;
  const std::string jsonl = File("e.jsonl", kJsonl);
  r = Run("match --where \"EventID > 4624\" --stats --fields User " + jsonl);
  EXPECT_TRUE(Has(r.err, "'EventID': 3 had, 0 missing, 0 unreadable")) << r.err;
  EXPECT_TRUE(Has(r.err, "'User': 1 had, 2 missing, 0 unreadable")) << r.err;
  // Statistics that cannot be written are a failure, not success.
  const std::string command = std::string(EVFILTER_PATH) +
                              " match --where \"Size > 1\" --stats --count " +
                              csv + " > /dev/null 2> /dev/full";
  const int raw = std::system(command.c_str());
  EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, 2);
}

TEST_F(EvfilterCliTest, OutputOptionsThatContradictAreErrors) {
  const std::string csv = File("e.csv", kCsv);
  for (const char* options :
       {"--count --count-by User", "--fields User --count-by User",
        "--fields User --count", "--max-groups 5", "--fields User,,Size",
        "--fields ''", "--limit 0", "--count-by User --max-groups 0",
        "--fields User,user", "--count-by User,EventID,User"}) {
    Result r = Run("match --where \"EventID > 0\" " + std::string(options) +
                   " " + csv);
    EXPECT_EQ(r.status, 2) << options;
    EXPECT_EQ(r.out, "") << options;
    EXPECT_FALSE(r.err.empty()) << options;
  }
  const Result r = Run("match --where \"EventID > 0\" --limit 0 " + csv);
  EXPECT_TRUE(Has(r.err, "'0' is no whole number of 1 or more")) << r.err;
}

}  // namespace
