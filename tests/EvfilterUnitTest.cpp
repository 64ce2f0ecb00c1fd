#include <gtest/gtest.h>

#include <string>

#include "common/Utf8.h"
#include "decide/CellReaders.h"
#include "query/Definition.h"
#include "query/WhereCompiler.h"
#include "records/CsvReader.h"
#include "records/JsonCells.h"
#include "records/RecordReader.h"
#include "records/TsvReader.h"

namespace eventquery {
namespace {

// "open field op value type close link not tag" per line, for comparison.
std::string Describe(const std::vector<ConditionLine>& lines) {
  std::string out;
  for (const auto& l : lines) {
    out += std::to_string(l.open) + " " + common::ToUtf8(l.field);
    if (l.has_tag) out += "@" + common::ToUtf8(l.tag);
    out += " " + OperatorName(l.op) + " '" + common::ToUtf8(l.value) + "' " +
           TypeName(l.type) + " " + std::to_string(l.close) + " " +
           LinkName(l.link) + (l.negate ? " NOT" : "") +
           (l.inverted ? " inverted" : "") + "; ";
  }
  return out;
}

std::string Compile(const std::string& where, const TypeOverrides& types = {}) {
  return Describe(CompileWhere(where, types));
}

size_t ErrorColumn(const std::string& where) {
  try {
    CompileWhere(where);
  } catch (const SyntaxError& e) {
    return e.column();
  }
  return 0;
}

TEST(WhereCompilerTest, ConditionsAndTypes) {
  EXPECT_EQ(Compile("EventID = 4625"), "0 EventID = '4625' numeric 0 AND; ");
  EXPECT_EQ(Compile("User LIKE 'adm%'"), "0 User LIKE 'adm%' text 0 AND; ");
  EXPECT_EQ(Compile("d > 12/25/2010"), "0 d > '12/25/2010' date 0 AND; ");
  EXPECT_EQ(Compile("t < '9:30 PM'"), "0 t < '9:30:00 PM' time 0 AND; ");
  EXPECT_EQ(Compile("r in last 30 days"),
            "0 r PERIOD 'LAST 30 DAYS' date 0 AND; ");
  EXPECT_EQ(Compile("r IN 'this month'"),
            "0 r PERIOD 'this month' date 0 AND; ");
  EXPECT_EQ(Compile("Id:text = 5"), "0 Id = '5' text 0 AND; ");
  EXPECT_EQ(Compile("Id = 5", {{"id", 1}}), "0 Id = '5' text 0 AND; ");
  EXPECT_EQ(Compile("EXT_TAGS@Severity CONTAINS \"hi\"\"gh\""),
            "0 EXT_TAGS@Severity CONTAINS 'hi\"gh' text 0 AND; ");
  EXPECT_EQ(Compile("Size>-5.5"), "0 Size > '-5.5' numeric 0 AND; ");
}

TEST(WhereCompilerTest, OperatorsUsersTypeBecomeInvertedLines) {
  EXPECT_EQ(Compile("a >= 5"), "0 a < '5' numeric 0 AND NOT inverted; ");
  EXPECT_EQ(Compile("a<=5"), "0 a > '5' numeric 0 AND NOT inverted; ");
  EXPECT_EQ(Compile("a != x"), "0 a = 'x' text 0 AND NOT inverted; ");
  EXPECT_EQ(Compile("a<>5"), "0 a = '5' numeric 0 AND NOT inverted; ");
  EXPECT_EQ(Compile("a == 5"), "0 a = '5' numeric 0 AND; ");
  // The user's NOT takes the line's NOT away; the line stays inverted.
  EXPECT_EQ(Compile("NOT a >= 5"), "0 a < '5' numeric 0 AND inverted; ");
  EXPECT_EQ(Compile("a >= 5 OR (NOT b != 2)"),
            "0 a < '5' numeric 0 OR NOT inverted; 1 b = '2' numeric 1 AND "
            "inverted; ");
  EXPECT_EQ(Compile("d >= 2026-12-01"),
            "0 d < '12/1/2026' date 0 AND NOT inverted; ");
  EXPECT_EQ(ErrorColumn("a ! 5"), 3u);
  EXPECT_EQ(ErrorColumn("a => 5"), 4u);  // "=" then ">" is no value
}

TEST(WhereCompilerTest, BackquotedFieldNames) {
  EXPECT_EQ(Compile("`Event ID` = 4625"),
            "0 Event ID = '4625' numeric 0 AND; ");
  EXPECT_EQ(Compile("`@timestamp` > 2026-12-01"),
            "0 @timestamp > '12/1/2026' date 0 AND; ");
  EXPECT_EQ(Compile("`a``b:c` = x"), "0 a`b:c = 'x' text 0 AND; ");
  EXPECT_EQ(Compile("NOT `AND` = 1 OR `x`>=2"),
            "0 AND = '1' numeric 0 OR NOT; 0 x < '2' numeric 0 AND NOT "
            "inverted; ");
  EXPECT_EQ(Compile("`Size` = 5", {{"size", 1}}), "0 Size = '5' text 0 AND; ");
  EXPECT_EQ(ErrorColumn("`Event ID = 4625"), 1u);
  EXPECT_EQ(ErrorColumn("`` = 1"), 1u);
  EXPECT_EQ(ErrorColumn("   "), 1u);
}

TEST(WhereCompilerTest, BracketsLinksAndNot) {
  EXPECT_EQ(Compile("(A = 1 OR B = 2) AND C = 3"),
            "1 A = '1' numeric 0 OR; 0 B = '2' numeric 1 AND; 0 C = '3' "
            "numeric 0 AND; ");
  EXPECT_EQ(Compile("A = 1 AND NOT (B = 2 OR (C = 3 AND D = 4))"),
            "0 A = '1' numeric 0 AND NOT; 1 B = '2' numeric 0 OR; "
            "1 C = '3' numeric 0 AND; 0 D = '4' numeric 2 AND; ");
  EXPECT_EQ(Compile("((A = 1))"), "2 A = '1' numeric 2 AND; ");
  EXPECT_EQ(Compile("NOT A = 1 or not B = x"),
            "0 A = '1' numeric 0 OR NOT NOT; 0 B = 'x' text 0 AND; ");
  EXPECT_EQ(Compile("NOT A = 1 AND NOT B = x"),
            "0 A = '1' numeric 0 AND NOT NOT; 0 B = 'x' text 0 AND; ");
}

TEST(WhereCompilerTest, SyntaxErrorsPointAtTheColumn) {
  EXPECT_EQ(ErrorColumn(""), 1u);
  EXPECT_EQ(ErrorColumn("EventID = "), 11u);
  EXPECT_EQ(ErrorColumn("EventID 4625"), 9u);
  EXPECT_EQ(ErrorColumn("(A = 1"), 7u);
  EXPECT_EQ(ErrorColumn("A = 1)"), 6u);
  EXPECT_EQ(ErrorColumn("A = 1 B = 2"), 7u);
  EXPECT_EQ(ErrorColumn("A = 'open"), 5u);
  EXPECT_EQ(ErrorColumn("NOT (A = 1)"), 5u);
  EXPECT_EQ(ErrorColumn("A:colour = 1"), 3u);
  EXPECT_EQ(ErrorColumn("A IN tomorrow"), 6u);
  EXPECT_EQ(ErrorColumn("()"), 2u);
  EXPECT_EQ(ErrorColumn("AND = 1"), 1u);
  EXPECT_EQ(
      ErrorColumn(std::string(200, '(') + "A = 1" + std::string(200, ')')),
      129u);
}

TEST(DefinitionTest, ParsesNamesCodesAndDefaults) {
  const auto lines = ParseDefinition(R"({"lines": [
      {"field": "EventID", "operator": "=", "value": 4625, "type": "NUMERIC",
       "open": 1, "link": "or"},
      {"field": "User", "operator": "Like", "value": "adm%", "close": 1,
       "link": "and not", "not": true, "tag": "T"},
      {"field": "X", "operator": 4, "type": 3, "link": 3, "value": "23:05"}]})");
  EXPECT_EQ(Describe(lines),
            "1 EventID = '4625' numeric 0 OR; 0 User@T LIKE 'adm%' text 1 AND "
            "NOT NOT; "
            "0 X > '11:05:00 PM' time 0 OR NOT; ");
  EXPECT_EQ(Describe(ParseDefinition(DefinitionToJson(lines))),
            Describe(lines));
}

TEST(DefinitionTest, ErrorsNameTheLineAndTheAcceptedWords) {
  auto error = [](const char* json) -> std::string {
    try {
      ParseDefinition(json);
    } catch (const DefinitionError& e) {
      return e.what();
    }
    return "";
  };
  EXPECT_EQ(
      error(
          R"({"lines": [{"field": "a"}, {"field": "b", "operator": "equals"}]})"),
      "line 2: unknown operator 'equals'; accepted: =, ==, !=, <>, like, "
      "contains, <, <=, >, >=, period, or a code 0..5");
  EXPECT_NE(error(R"({"lines": [{"field": "a", "type": "number"}]})")
                .find("accepted: numeric"),
            std::string::npos);
  EXPECT_NE(error(R"({"lines": [{"field": "a", "lnk": "OR"}]})")
                .find("unknown key 'lnk'"),
            std::string::npos);
  EXPECT_EQ(error(R"({"lines": [{"value": "a"}]})"), "line 1: has no field");
  EXPECT_NE(error("{"), "");
  // A number beyond every type once escaped as another kind of exception.
  EXPECT_NE(error("44444444444E4444444444").find("not valid JSON"),
            std::string::npos);
  EXPECT_NE(error(R"({"lines": [{"field": "a", "open": 1E400}]})"), "");
  EXPECT_EQ(error("[]"), "expected an object with a \"lines\" array");
  // Codes the module does not know, and brackets that do not pair up.
  EXPECT_EQ(error(R"({"lines": [{"field": "a", "operator": 9}]})"),
            "line 1: operator 9 is not one the module knows (0..5)");
  EXPECT_EQ(error(R"({"lines": [{"field": "a", "type": 7}]})"),
            "line 1: type 7 is not one the module knows (0..3)");
  EXPECT_EQ(error(R"({"lines": [{"field": "a", "link": -1}]})"),
            "line 1: link -1 is not one the module knows (0..3)");
  EXPECT_EQ(error(R"({"lines": [{"field": "a", "close": 1}]})"),
            "line 1: closes a bracket that was not opened");
  EXPECT_EQ(error(R"({"lines": [{"field": "a", "open": 2, "close": 1}]})"),
            "1 bracket(s) opened and never closed");
  EXPECT_EQ(error(R"({"lines": [{"field": "a", "open": -1}]})"),
            "line 1: bracket counts cannot be negative");
  // Values are checked against their types, as in expressions.
  EXPECT_EQ(
      error(
          R"({"lines": [{"field": "D", "type": "date", "value": "2/30/2026"}]})"),
      "line 1: field 'D': '2/30/2026' is not a day of the calendar");
  EXPECT_EQ(
      error(
          R"({"lines": [{"field": "N", "type": "numeric", "value": "abc"}]})"),
      "line 1: field 'N': 'abc' is not a number");
}

TEST(DefinitionTest, NegatedOperatorsRoundTrip) {
  const auto lines = ParseDefinition(R"({"lines": [
      {"field": "a", "operator": ">=", "value": "5", "type": "numeric"},
      {"field": "b", "operator": "<=", "value": "5", "type": "numeric",
       "not": true},
      {"field": "c", "operator": "<>", "value": "x"},
      {"field": "d", "operator": "==", "value": "x"}]})");
  EXPECT_EQ(Describe(lines),
            "0 a < '5' numeric 0 AND NOT inverted; 0 b > '5' numeric 0 AND "
            "inverted; 0 c = 'x' text 0 AND NOT inverted; 0 d = 'x' text 0 "
            "AND; ");
  const std::string json = DefinitionToJson(lines);
  EXPECT_NE(json.find("\"operator\": \">=\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"operator\": \"!=\""), std::string::npos) << json;
  EXPECT_EQ(Describe(ParseDefinition(json)), Describe(lines));
  EXPECT_EQ(Describe(ParseDefinition(DefinitionToJson(
                CompileWhere("NOT a >= 5 OR `b c` <= 2 AND d != e")))),
            Describe(CompileWhere("NOT a >= 5 OR `b c` <= 2 AND d != e")));
}

TEST(CellReadersTest, Numbers) {
  EXPECT_EQ(ReadInteger("4625"), 4625);
  EXPECT_EQ(ReadInteger(" -7 "), -7);
  EXPECT_EQ(ReadInteger("+5"), 5);
  EXPECT_FALSE(ReadInteger("2147483648"));
  EXPECT_FALSE(ReadInteger("12.5"));
  EXPECT_FALSE(ReadInteger(""));
  EXPECT_EQ(ReadReal("12.5"), 12.5);
  EXPECT_EQ(ReadReal("1e3"), 1000.0);
  EXPECT_FALSE(ReadReal("abc"));
  EXPECT_FALSE(ReadReal("inf"));
}

TEST(CellReadersTest, DatesAndTimes) {
  auto date = [](const char* s) {
    const auto d = ReadDate(s);
    return d ? std::to_string(d->year) + "-" + std::to_string(d->month) + "-" +
                   std::to_string(d->day)
             : std::string("none");
  };
  EXPECT_EQ(date("2026-12-08"), "2026-12-8");
  EXPECT_EQ(date("2026-12-08T19:40:00Z"), "2026-12-8");
  EXPECT_EQ(date("2026-12-08 19:40:00"), "2026-12-8");
  EXPECT_EQ(date("12/8/2026"), "2026-12-8");
  EXPECT_EQ(date("2/29/2024"), "2024-2-29");
  EXPECT_EQ(date("2/29/2023"), "none");
  EXPECT_EQ(date("2026-13-01"), "none");
  EXPECT_EQ(date("8.12.2026"), "none");
  EXPECT_EQ(date(""), "none");
  auto time = [](const char* s) {
    const auto t = ReadTime(s);
    return t ? std::to_string(t->hour) + ":" + std::to_string(t->minute) + ":" +
                   std::to_string(t->second)
             : std::string("none");
  };
  EXPECT_EQ(time("19:40"), "19:40:0");
  EXPECT_EQ(time("07:05:09"), "7:5:9");
  EXPECT_EQ(time("12:30 AM"), "0:30:0");
  EXPECT_EQ(time("1:05:00 pm"), "13:5:0");
  EXPECT_EQ(time("2026-12-08T19:40:12.5"), "19:40:12");
  EXPECT_EQ(time("24:00"), "none");
  EXPECT_EQ(time("13:00 PM"), "none");
  EXPECT_EQ(time("noon"), "none");
}

TEST(CellReadersTest, EventViewerDatesAreDatesAndTimes) {
  const auto d = ReadDate("12/8/2026 3:04:05 PM");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->year, 2026);
  EXPECT_EQ(d->month, 12);
  EXPECT_EQ(d->day, 8);
  const auto t = ReadTime("12/8/2026 3:04:05 PM");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->hour, 15);
  EXPECT_EQ(t->minute, 4);
  EXPECT_EQ(t->second, 5);
  EXPECT_EQ(ReadTime("1/2/2026 12:00:00 AM")->hour, 0);
  EXPECT_EQ(ReadTime("1/2/2026 23:10")->hour, 23);
  EXPECT_FALSE(ReadDate("12/8/2026 25:00:00"));
  EXPECT_FALSE(ReadDate("12/8/2026 3:04:05 XM"));
  EXPECT_FALSE(ReadDate("12/8/2026 x"));
  EXPECT_FALSE(ReadTime("12/8/2026"));  // a date alone has no time
  EXPECT_FALSE(ReadTime("13/8/2026 3:04:05 PM"));
  EXPECT_FALSE(ReadDate("12/8/2026 1765206245"));
}

TEST(CellReadersTest, EpochCountsByMagnitude) {
  // 2026-12-08T15:04:05Z in seconds, milliseconds and microseconds.
  for (const char* cell : {"1796742245", "1796742245123", "1796742245123456"}) {
    const auto d = ReadDate(cell, Zone::kUtc);
    const auto t = ReadTime(cell, Zone::kUtc);
    ASSERT_TRUE(d && t) << cell;
    EXPECT_EQ(d->year * 10000 + d->month * 100 + d->day, 20261208) << cell;
    EXPECT_EQ(t->hour * 10000 + t->minute * 100 + t->second, 150405) << cell;
  }
  // The edges: the last count read as seconds, the first as milliseconds.
  EXPECT_EQ(ReadDate("99999999999", Zone::kUtc)->year, 5138);
  EXPECT_EQ(ReadDate("100000000000", Zone::kUtc)->year, 1973);
  EXPECT_EQ(ReadDate("0", Zone::kUtc)->year, 1970);
  EXPECT_EQ(ReadDate("99999999999999999", Zone::kUtc)->year, 5138);
  EXPECT_FALSE(ReadDate("100000000000000000"));  // 10^17: beyond the ranges
  EXPECT_FALSE(ReadDate("-5"));
  EXPECT_FALSE(ReadDate("1796742245.5"));
  EXPECT_FALSE(ReadTime("17967 42245"));
}

TEST(CsvTest, SplitsQuotedCells) {
  std::string arena;
  std::vector<std::optional<std::string_view>> cells;
  SplitCsv("a,\"b,c\",\"d\"\"e\",,\"\"", arena, cells);
  ASSERT_EQ(cells.size(), 5u);
  EXPECT_EQ(*cells[0], "a");
  EXPECT_EQ(*cells[1], "b,c");
  EXPECT_EQ(*cells[2], "d\"e");
  EXPECT_EQ(*cells[3], "");
  EXPECT_EQ(*cells[4], "");
  // The edges of quoted and unquoted runs.
  const struct {
    const char* raw;
    std::vector<std::string> want;
  } cases[] = {
      {"", {""}},
      {",", {"", ""}},
      {"a,", {"a", ""}},
      {"\"", {""}},                       // opened, never closed
      {"\"ab", {"ab"}},                   // likewise, with text
      {"\"a,b", {"a,b"}},                 // the rest of the record
      {"\"\"\"\"", {"\""}},               // one doubled quote
      {"\"a\"\"", {"a\""}},               // doubled at the end
      {"\"a\"x,y", {"ax", "y"}},          // text after the closing quote
      {"\"a\"\"x\"z,\"", {"a\"xz", ""}},  // both, then an open cell
      {"a\"b,c", {"a\"b", "c"}},          // a quote inside is literal
      {"x,\"\",\"\"", {"x", "", ""}},
  };
  for (const auto& c : cases) {
    SplitCsv(c.raw, arena, cells);
    std::vector<std::string> got;
    for (const auto& cell : cells) got.emplace_back(*cell);
    EXPECT_EQ(got, c.want) << "record: " << c.raw;
  }
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
}

TEST(TsvTest, SplitsAndEscapes) {
  std::string arena;
  std::vector<std::optional<std::string_view>> cells;
  SplitTsv("a\\tb\t\t\\\\n\\x\\", arena, cells);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(*cells[0], "a\tb");
  EXPECT_EQ(*cells[1], "");
  // "\\" is one backslash, so the "n" after it is a letter; an unknown
  // escape and a backslash at the end stay as they are.
  EXPECT_EQ(*cells[2], "\\n\\x\\");
  for (const std::string text : {"plain", "a\tb\nc\rd\\e", "\\t", ""}) {
    const std::string escaped = TsvField(text);  // cells may view into it
    SplitTsv(escaped, arena, cells);
    ASSERT_EQ(cells.size(), 1u) << text;
    EXPECT_EQ(*cells[0], text);
  }
}

TEST(JsonPathTest, KeysAsTheyStandComeFirst) {
  simdjson::dom::parser parser;
  const simdjson::padded_string json(std::string_view(
      R"({"a.b": 1, "a": {"b": 2, "c": [3, {"d": 4}], "x.y": {"z": 5}},)"
      R"( "e": [[6]]})"));
  simdjson::dom::element doc = parser.parse(json);
  auto at = [&](std::string_view path) {
    simdjson::dom::element found;
    return FindPath(doc, path, &found) ? simdjson::minify(found)
                                       : std::string("none");
  };
  EXPECT_EQ(at("a.b"), "1");
  EXPECT_EQ(at("a.c.0"), "3");
  EXPECT_EQ(at("a.c.1.d"), "4");
  EXPECT_EQ(at("a.x.y.z"), "5");
  EXPECT_EQ(at("e.0.0"), "6");
  EXPECT_EQ(at("a.c.2"), "none");
  EXPECT_EQ(at("a.c.01"), "none");  // no leading zeros in an index
  EXPECT_EQ(at("a.c.-1"), "none");
  EXPECT_EQ(at("a..b"), "none");
  EXPECT_EQ(at("a.b.c"), "none");
}

}  // namespace
}  // namespace eventquery
