// End-to-end tests: the built evfilter on small files.

#include <gtest/gtest.h>

#include <string>

#include "EvfilterRun.h"

namespace {

const char kCsv[] =
    "EventID,User,Received,Time,Size,EXT_TAGS\n"
    "4625,Administrator,2026-12-03,10:15:00,12.5,@Severity@High~Severity~\n"
    "4624,bob,2026-12-04,23:00:01,3,\"@Severity@low~Severity~\"\n"
    "4625,\"admin, second\",2026-11-30T08:00:00Z,08:00,x,\n";

TEST_F(EvfilterCliTest, MatchesCsvAndKeepsRowsAsTheyWere) {
  const std::string csv = File("e.csv", kCsv);
  Result r =
      Run("match --where \"EventID = 4625 AND User LIKE 'adm%'\" " + csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(
      r.out,
      "EventID,User,Received,Time,Size,EXT_TAGS\n"
      "4625,Administrator,2026-12-03,10:15:00,12.5,@Severity@High~Severity~\n"
      "4625,\"admin, second\",2026-11-30T08:00:00Z,08:00,x,\n");
  r = Run("match --count --where \"EXT_TAGS@severity = high\" " + csv);
  EXPECT_EQ(r.out, "1\n");
  r = Run("match --count -v --where \"EXT_TAGS@severity = high\" " + csv);
  EXPECT_EQ(r.out, "2\n");
  r = Run("match --where \"EventID = 1\" " + csv);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

TEST_F(EvfilterCliTest, UnreadableCellsAreReportedAndFalse) {
  const std::string csv = File("e.csv", kCsv);
  Result r = Run("match --count --where \"Size > 1\" " + csv);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "2\n");
  EXPECT_NE(r.err.find("field 'Size': 1 value(s) could not be read as a "
                       "number (first at "),
            std::string::npos);
  EXPECT_NE(r.err.find("e.csv:4: 'x'); their conditions counted as false"),
            std::string::npos);
  // NOT still applies to the false condition: the row is written.
  r = Run("match --count --where \"NOT Size > 1\" " + csv);
  EXPECT_EQ(r.out, "1\n");
  r = Run("match --strict --count --where \"Size > 1\" " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");  // a count that was not made is not printed
}

TEST_F(EvfilterCliTest, UnknownFieldsAreNamedWithTheClosest) {
  const std::string csv = File("e.csv", kCsv);
  // A typo under NOT would match every record with status 0: a field no
  // input has ends the run with status 2, before any record is written.
  Result r = Run("match --where \"NOT (Usr LIKE 'b*')\" " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("e.csv: no field 'Usr' (closest: 'User'); give "
                       "--allow-missing"),
            std::string::npos)
      << r.err;
  r = Run("match --strict --where \"Usr = bob\" " + csv);
  EXPECT_EQ(r.status, 2);
  r = Run("match --allow-missing --where \"Usr = bob\" " + csv);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("no field 'Usr' (closest: 'User'); its conditions saw "
                       "a missing value"),
            std::string::npos)
      << r.err;
  r = Run("match --where \"user = bob\" " + csv);  // case does not matter
  EXPECT_EQ(r.status, 0);
  // An input without a record (an empty pipe from a run that matched
  // nothing) lacks no field: nothing matched, status 1.
  r = Run("match --input-format jsonl --where \"User = bob\" -", "");
  EXPECT_EQ(r.status, 1) << r.err;
  // Over several inputs: known only at the end, and one line for a field
  // some lack.
  const std::string other = File("o.jsonl", "{\"Host\": \"a\"}\n");
  r = Run("match --where \"Usr = bob\" " + csv + " " + other + " " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("no input has a field 'Usr'"), std::string::npos)
      << r.err;
  r = Run("match --where \"User = bob\" " + csv + " " + other + " " + other);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("field 'User' is missing from 2 of 3 input(s) (first: " +
                       other + ")"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("o.jsonl: no"), std::string::npos) << r.err;
}

TEST_F(EvfilterCliTest, JsonLinesAndStandardInput) {
  const std::string jsonl =
      "{\"EventID\": 4625, \"User\": \"alice\", \"Ok\": true}\n"
      "\n"
      "{\"EventID\": 4624, \"User\": \"bob\", \"Extra\": {\"a\": [1,2]}}\n";
  Result r = Run("match --where \"EventID > 4624\"", jsonl);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "{\"EventID\": 4625, \"User\": \"alice\", \"Ok\": true}\n");
  r = Run(
      "match --input-format jsonl --output-format csv --where \"User = bob\" -",
      jsonl);
  EXPECT_EQ(r.out, "EventID,User,Extra\n4624,bob,\"{\"\"a\"\":[1,2]}\"\n");
  r = Run("match --where \"Missing = 1\" --input-format jsonl", jsonl);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("(standard input): no field 'Missing'"),
            std::string::npos)
      << r.err;
  r = Run("match --where \"EventID = 1\" --input-format jsonl",
          "{\"EventID\": 1}\n[1]\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("(standard input):2: not a JSON object; line skipped"),
            std::string::npos);
}

TEST_F(EvfilterCliTest, DefinitionFilesAndTheirErrors) {
  const std::string csv = File("e.csv", kCsv);
  const std::string good = File("good.json", R"({"lines": [
      {"field": "EventID", "operator": "=", "value": "4624", "type": "numeric"}]})");
  Result r = Run("match --count --filter " + good + " " + csv);
  EXPECT_EQ(r.out, "1\n");
  const std::string bad =
      File("bad.json", R"({"lines": [{"field": "a", "link": "XOR"}]})");
  r = Run("match --filter " + bad + " " + csv);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(
      r.err.find(
          "line 1: unknown link 'XOR'; accepted: AND, OR, AND NOT, OR NOT"),
      std::string::npos);
  r = Run("match --filter " + good + " --where \"a = 1\" " + csv);
  EXPECT_EQ(r.status, 2);
  r = Run("match --where \"a = 1\" " + (dir_ / "absent.csv").string());
  EXPECT_EQ(r.status, 2);
  // n=$(evfilter match --count ...) must not read 0 for an input that
  // could not be opened, alone or beside one that was read.
  r = Run("match --count --where \"EventID = 4624\" " + csv + " " +
          (dir_ / "absent.csv").string());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  r = Run("match --bogus");
  EXPECT_EQ(r.status, 2);
}

TEST_F(EvfilterCliTest, SyntaxErrorsShowTheColumn) {
  Result r = Run("show --where \"EventID = (4625\"");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "evfilter: syntax error at column 11: expected a value after '='\n"
            "  EventID = (4625\n"
            "            ^\n");
}

TEST_F(EvfilterCliTest, ShowAndIntervals) {
  Result r = Run(
      "show --where \"(EventID = 4624 OR EventID = 4625) AND NOT User = BOB\"");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
            "(EventID = 4624 OR EventID = 4625) AND NOT User = 'BOB'");
  EXPECT_NE(r.out.find("\nmodule's text form: ( ( EventID = 4624 ) OR ( "
                       "EventID = 4625 ) ) AND NOT ( User = bob )\n"),
            std::string::npos)
      << r.out;
  r = Run("show --json --where \"A = 1 OR B@T LIKE x%\"");
  EXPECT_NE(r.out.find("\"tag\": \"T\""), std::string::npos);
  const std::string saved = File("saved.json", r.out);
  r = Run("show --filter " + saved);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "A = 1 OR B@T LIKE 'x%'");
  // The line a user reads says what the filter does: each line's NOT and
  // the operators as written, which the module's text form leaves out.
  const struct {
    const char* where;
    const char* text;
  } kSaid[] = {
      {"EventID != 4624", "EventID != 4624"},
      {"NOT (A = 1 OR B = 2)", "(NOT A = 1 AND NOT B = 2)"},
      {"NOT A >= 5", "NOT A >= 5"},
      {"`Event ID` <= 5 AND User NOT LIKE 'adm*'",
       "`Event ID` <= 5 AND NOT User LIKE 'adm*'"},
      {"T IN LAST 30 CALENDAR DAYS OR d = 2026-12-08",
       "T IN LAST 30 CALENDAR DAYS OR d = '12/8/2026'"},
      {"u MATCHES 'a''b'", "u MATCHES 'a''b'"},
  };
  for (const auto& [where, text] : kSaid) {
    std::string quoted = "'";  // for the shell, backquotes and all
    for (const char* c = where; *c != '\0'; ++c)
      quoted += *c == '\'' ? std::string("'\\''") : std::string(1, *c);
    r = Run("show --where " + quoted + "'");
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), text) << where;
  }
  r = Run("show --where \"EventID != 4624\"");
  EXPECT_NE(r.out.find("(it does not show the NOT of a line)"),
            std::string::npos);
  r =
      Run("intervals --where \"EventID > 4600 AND EventID < 4700 AND NOT "
          "EventID = 4624\" "
          "eventid");
  EXPECT_EQ(r.out, "[4601, 4623]\n[4625, 4699]\n");
}

TEST_F(EvfilterCliTest, ThreadsKeepTheInputOrder) {
  // Large enough (over 4 MiB) for -j to use its threads.
  std::string csv = "Id,Name\n";
  for (int i = 0; i < 300000; ++i)
    csv += std::to_string(i) + "," +
           (i % 7 == 0 ? "x" : "name" + std::to_string(i)) + "\n";
  csv += "bad,row\n";
  ASSERT_GT(csv.size(), 4u << 20);
  const std::string file = File("many.csv", csv);
  const Result one =
      Run("match --where \"Id > 100 AND Name LIKE 'name%'\" " + file);
  for (const char* jobs : {"2", "3"}) {
    const Result many =
        Run("match -j " + std::string(jobs) +
            " --where \"Id > 100 AND Name LIKE 'name%'\" " + file);
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(many.out, one.out);
    EXPECT_EQ(many.err, one.err);
  }
  EXPECT_NE(one.err.find("(first at " + file + ":300002: 'bad')"),
            std::string::npos);
}

TEST_F(EvfilterCliTest, HelpHasExamples) {
  Result r = Run("--help");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Examples:"), std::string::npos);
  EXPECT_NE(r.out.find("Exit status"), std::string::npos);
  r = Run("match --help");
  EXPECT_NE(r.out.find("Examples:"), std::string::npos);
  EXPECT_NE(r.out.find("strictly left to right"), std::string::npos);
}

}  // namespace
