#include <gtest/gtest.h>

#include <string>

#include "DescribeLines.h"
#include "query/WhereCompiler.h"

namespace eventquery {
namespace {

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
  EXPECT_EQ(Compile("r in last 30 calendar days"),
            "0 r PERIOD 'LAST 30 DAYS' date 0 AND; ");
  EXPECT_EQ(Compile("r IN 'this month'"),
            "0 r PERIOD 'this month' date 0 AND; ");
  EXPECT_EQ(Compile("Id:text = 5"), "0 Id = '5' text 0 AND; ");
  EXPECT_EQ(Compile("Id = 5", {{"id", 1}}), "0 Id = '5' text 0 AND; ");
  EXPECT_EQ(Compile("EXT_TAGS@Severity CONTAINS \"hi\"\"gh\""),
            "0 EXT_TAGS@Severity CONTAINS 'hi\"gh' text 0 AND; ");
  EXPECT_EQ(Compile("Size>-5.5"), "0 Size > '-5.5' numeric 0 AND; ");
  // A digit on one side of the point makes a number, as in the module.
  EXPECT_EQ(Compile("f < .5"), "0 f < '.5' numeric 0 AND; ");
  EXPECT_EQ(Compile("f > -.5"), "0 f > '-.5' numeric 0 AND; ");
  EXPECT_EQ(Compile("f = +.5"), "0 f = '+.5' numeric 0 AND; ");
  EXPECT_EQ(Compile("f > 5."), "0 f > '5.' numeric 0 AND; ");
  EXPECT_EQ(Compile("f = ."), "0 f = '.' text 0 AND; ");
  EXPECT_EQ(ErrorColumn("f < ."), 5u);
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
  EXPECT_EQ(ErrorColumn("A:colour = 1"), 3u);
  EXPECT_EQ(ErrorColumn("A IN tomorrow"), 6u);
  EXPECT_EQ(ErrorColumn("()"), 2u);
  EXPECT_EQ(ErrorColumn("AND = 1"), 1u);
  EXPECT_EQ(
      ErrorColumn(std::string(200, '(') + "A = 1" + std::string(200, ')')),
      129u);
  // A range whose first value lies above its second holds nothing; only
  // times wrap round midnight.
  EXPECT_EQ(ErrorColumn("Id BETWEEN 4720 AND 4625"), 12u);
  EXPECT_EQ(ErrorColumn("d BETWEEN 2026-12-09 AND 2026-12-08"), 11u);
  EXPECT_EQ(ErrorColumn("t BETWEEN '2026-12-09 06:00' AND '2026-12-08 22:00'"),
            11u);
  EXPECT_EQ(ErrorColumn("Id BETWEEN 4625 AND 4625"), 0u);
  EXPECT_EQ(ErrorColumn("t BETWEEN 22:00 AND 6:00"), 0u);
  // LAST 30 DAYS is one thing for every n: the module's calendar period
  // has its own spelling, and quoted it would read as two things.
  EXPECT_EQ(ErrorColumn("r IN 'LAST 30 DAYS'"), 6u);
  EXPECT_EQ(ErrorColumn("r IN LAST 29 CALENDAR DAYS"), 11u);
}

}  // namespace
}  // namespace eventquery
