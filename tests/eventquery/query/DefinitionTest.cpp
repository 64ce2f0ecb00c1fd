#include <gtest/gtest.h>

#include <string>

#include "DescribeLines.h"
#include "query/Definition.h"
#include "query/WhereCompiler.h"

namespace eventquery {
namespace {

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
      "contains, matches, <, <=, >, >=, period, or a code 0..5");
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

}  // namespace
}  // namespace eventquery
