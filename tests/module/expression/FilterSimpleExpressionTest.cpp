#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "AllocationHooks.h"
#include "TestLog.h"
#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/FilterSimpleExpression.h"

namespace filtermodule {
namespace {

using testlog::LogMark;

// A condition line, and the condition built from it when first asked for
// (again after the line changed).
struct Condition {
  ConditionLine line;
  std::unique_ptr<FilterSimpleExpression> built;
  Condition(int32_t op, std::u16string_view value, int32_t type = kTypeText) {
    line.field_name = u"Field";
    line.field_type = type;
    line.field_operator = op;
    line.value = value;
  }
  Condition& Tag(std::u16string_view tag) {
    line.tag_name = tag;
    line.has_tag = true;
    built.reset();
    return *this;
  }
  Condition& Not() {
    line.negate = true;
    built.reset();
    return *this;
  }
  const FilterSimpleExpression& e() {
    if (!built) built = std::make_unique<FilterSimpleExpression>(line, 0);
    return *built;
  }
  // Evaluates the condition on a row whose field holds `row` as text.
  bool On(std::u16string_view row) {
    RowValues values;
    values.slots.resize(1);
    values.states.resize(1);
    e().SetSlotText(values.slots[0], row);
    return e().Eval(values);
  }
};

TEST(SimpleExpressionTest, DefaultLineGivesAnEqualsOnText) {
  const FilterSimpleExpression e(ConditionLine{}, 0);
  EXPECT_EQ(e.GetFieldType(), kTypeText);
  EXPECT_EQ(e.GetFieldOperator(), kOpEquals);
  EXPECT_FALSE(e.GetNot());
  EXPECT_FALSE(e.GetHasTag());
  EXPECT_EQ(e.GetLinkOperator(), 0);
  EXPECT_TRUE(e.GetValue().empty());
  RowValues row;
  row.slots.resize(1);
  row.states.resize(1);
  EXPECT_TRUE(e.Eval(row));  // empty equals empty
}

TEST(SimpleExpressionTest, StoresLowerCasedAndNormalised) {
  Condition text(kOpEquals, u"ABC Ärger");
  EXPECT_EQ(text.e().GetValue(), u"abc ärger");
  // The line itself is kept as the host gave it.
  EXPECT_EQ(text.e().line().value, u"ABC Ärger");
  Condition date(kOpEquals, u"12/25/2010", kTypeDate);
  EXPECT_EQ(date.e().GetValue(), u"25-12-2010");
  Condition time(kOpEquals, u"1:05:00 PM", kTypeTime);
  EXPECT_EQ(time.e().GetValue(), u"13-05-00");
  Condition period(kOpNamedPeriod, u"Last 30 Days", kTypeDate);
  EXPECT_EQ(period.e().GetValue(), u"last 30 days");
  // A date that cannot be read builds no condition.
  Condition bad(kOpEquals, u"NOT A DATE", kTypeDate);
  EXPECT_THROW(bad.e(), StatusFailure);
  RowSlot slot;
  EXPECT_THROW(date.e().SetSlotText(slot, u"0/0/0"), StatusFailure);
}

TEST(SimpleExpressionTest, EqualsAndContains) {
  EXPECT_TRUE(Condition(kOpEquals, u"ABC").On(u"abc"));
  EXPECT_TRUE(Condition(kOpEquals, u"").On(u""));
  EXPECT_FALSE(Condition(kOpEquals, u"").On(u"a"));
  EXPECT_FALSE(Condition(kOpEquals, u"abc").On(u"abcd"));
  EXPECT_TRUE(Condition(kOpEquals, u"ΣΟΦΊΑ").On(u"σοφία"));
  EXPECT_TRUE(Condition(kOpContains, u"").On(u""));
  EXPECT_TRUE(Condition(kOpContains, u"").On(u"xyz"));
  EXPECT_TRUE(Condition(kOpContains, u"Logon").On(u"Failed LOGON attempt"));
  EXPECT_FALSE(Condition(kOpContains, u"logon*").On(u"failed logon"));
}

TEST(SimpleExpressionTest, LessAndGreaterOnText) {
  EXPECT_TRUE(Condition(kOpLess, u"abd").On(u"abc"));
  EXPECT_TRUE(Condition(kOpLess, u"abc").On(u"ab"));
  EXPECT_FALSE(Condition(kOpLess, u"abc").On(u"abc"));
  EXPECT_FALSE(Condition(kOpGreater, u"abc").On(u"abc"));
  EXPECT_TRUE(Condition(kOpGreater, u"abc").On(u"abd"));
}

TEST(SimpleExpressionTest, NumbersCompareByValue) {
  EXPECT_TRUE(Condition(kOpLess, u"10", kTypeNumeric).On(u"09"));
  EXPECT_TRUE(Condition(kOpLess, u"-10", kTypeNumeric).On(u"-50"));
  EXPECT_TRUE(Condition(kOpLess, u"13", kTypeNumeric).On(u"12.500000"));
  EXPECT_TRUE(Condition(kOpEquals, u"5", kTypeNumeric).On(u"5.000000"));
  EXPECT_TRUE(Condition(kOpEquals, u"005", kTypeNumeric).On(u"5"));
  EXPECT_TRUE(Condition(kOpGreater, u"-05", kTypeNumeric).On(u"123"));
  EXPECT_FALSE(
      Condition(kOpEquals, u"0.1", kTypeNumeric).On(u"0.10000000000000000001"));
  // Not numbers: the text order stands.
  EXPECT_TRUE(Condition(kOpLess, u"b", kTypeNumeric).On(u"abc"));
  EXPECT_TRUE(Condition(kOpEquals, u"N/A", kTypeNumeric).On(u"n/a"));
}

TEST(SimpleExpressionTest, DatesOrderChronologically) {
  EXPECT_TRUE(Condition(kOpLess, u"12/15/2026", kTypeDate).On(u"1/16/2001"));
  EXPECT_FALSE(
      Condition(kOpGreater, u"12/15/2026", kTypeDate).On(u"1/16/2001"));
  EXPECT_TRUE(Condition(kOpGreater, u"1/31/2026", kTypeDate).On(u"2/1/2026"));
  EXPECT_TRUE(Condition(kOpEquals, u"2/30/2010", kTypeDate).On(u"3/2/2010"));
  EXPECT_TRUE(Condition(kOpLess, u"1:00:00 PM", kTypeTime).On(u"9:30:00 AM"));
  EXPECT_TRUE(Condition(kOpGreater, u"9:30", kTypeTime).On(u"11:59:59 PM"));
}

TEST(SimpleExpressionTest, PlainLikeReadsPercentAsStar) {
  Condition c(kOpLike, u"A%C");
  EXPECT_EQ(c.e().GetValue(), u"a%c");
  EXPECT_EQ(c.e().ToString(), u"Field LIKE 'a%c'");
  EXPECT_TRUE(c.On(u"abc"));
  // Evaluation only reads the tree: value and text form stay as set.
  EXPECT_EQ(c.e().GetValue(), u"a%c");
  EXPECT_EQ(c.e().ToString(), u"Field LIKE 'a%c'");
  EXPECT_TRUE(c.On(u"ac"));
  EXPECT_TRUE(c.On(u"AXYZC"));
  EXPECT_FALSE(c.On(u"abd"));
  EXPECT_TRUE(Condition(kOpLike, u"[!a]?").On(u"bc"));
}

TEST(SimpleExpressionTest, NotInvertsEveryResult) {
  EXPECT_FALSE(Condition(kOpEquals, u"abc").Not().On(u"abc"));
  EXPECT_TRUE(Condition(kOpEquals, u"abc").Not().On(u"abd"));
  LogMark mark;
  EXPECT_TRUE(Condition(9, u"abc").Not().On(u"abc"));
  EXPECT_FALSE(Condition(-1, u"abc").On(u"abc"));
  EXPECT_EQ(mark.Count("FSEEval - unknown field operator."), 2);
}

TEST(SimpleExpressionTest, TaggedEquals) {
  Condition c(kOpEquals, u"high");
  c.Tag(u"Severity");
  EXPECT_TRUE(c.On(u"@severity@high~severity~@user@bob~user~"));
  EXPECT_TRUE(c.On(u"@SEVERITY@HIGH~SEVERITY~"));
  EXPECT_FALSE(c.On(u"@severity@higher~severity~"));
  EXPECT_FALSE(c.On(u"@user@high~user~"));
  Condition star(kOpEquals, u"h*");  // literal in equals
  star.Tag(u"Sev");
  EXPECT_FALSE(star.On(u"@sev@high~sev~"));
  EXPECT_TRUE(star.On(u"@sev@h*~sev~"));
}

TEST(SimpleExpressionTest, TaggedLikeKeepsPercentLiteral) {
  Condition c(kOpLike, u"50%");
  c.Tag(u"Load");
  EXPECT_TRUE(c.On(u"x@load@50%~load~y"));
  EXPECT_FALSE(c.On(u"@load@500~load~"));
  EXPECT_EQ(c.e().GetValue(), u"50%");
  Condition w(kOpLike, u"adm?n*");
  w.Tag(u"User");
  EXPECT_TRUE(w.On(u"@host@a~host~@user@administrator~user~"));
  EXPECT_FALSE(w.On(u"@user@guest~user~"));
}

TEST(SimpleExpressionTest, TaggedContainsWritesThreeTraces) {
  Condition c(kOpContains, u"Fail");
  c.Tag(u"Status");
  LogMark mark;
  EXPECT_TRUE(c.On(u"@status@logon failed~status~"));
  EXPECT_EQ(mark.Messages(),
            (std::vector<std::string>{"Evaluating contains",
                                      "*@status@*fail*~status~*",
                                      "@status@logon failed~status~"}));
  // Not confined to one entry: the value may stand in a later one.
  EXPECT_TRUE(c.On(u"@status@ok~status~@x@fail~x~~status~"));
  EXPECT_FALSE(c.On(u"@status@ok~status~"));
}

TEST(SimpleExpressionTest, TaggedOperatorsBeyondContainsAreUnknown) {
  for (int32_t op : {3, 4, 5, 17}) {
    LogMark mark;
    Condition c(op, u"x");
    c.Tag(u"T");
    EXPECT_FALSE(c.On(u"@t@x~t~"));
    EXPECT_TRUE(Condition(op, u"x").Tag(u"T").Not().On(u"@t@x~t~"));
    EXPECT_EQ(mark.Count("FSEEval - unknown field operator."), 2);
  }
}

TEST(SimpleExpressionTest, TaggedPatternsComeFromTheTagAndTheValue) {
  EXPECT_TRUE(Condition(kOpEquals, u"x").Tag(u"A").On(u"@a@x~a~"));
  EXPECT_FALSE(Condition(kOpEquals, u"x").Tag(u"B").On(u"@a@x~a~"));
  EXPECT_TRUE(Condition(kOpEquals, u"x").Tag(u"B").On(u"@b@x~b~"));
  EXPECT_TRUE(Condition(kOpEquals, u"Y").Tag(u"b").On(u"@B@y~B~"));
  EXPECT_FALSE(Condition(kOpEquals, u"y").Tag(u"B").On(u"@b@x~b~"));
}

TEST(SimpleExpressionTest, FailureInsideEvalIsCaught) {
  if (!allochooks::Active()) GTEST_SKIP() << "allocation hooks replaced";
  // A numeric LIKE whose value is zero-filled for the first time makes the
  // filled pattern: the first allocation of the evaluation.
  Condition c(kOpLike, u"%1234567%", kTypeNumeric);
  c.Not().e();  // built before allocations fail
  RowValues row;
  row.slots.resize(1);
  row.states.resize(1);
  row.slots[0].kind = RowSlot::Kind::kInteger;
  row.slots[0].integer = 2147483647;
  row.states[0].has_integer = true;
  row.states[0].min_integer = row.states[0].max_integer = 2147483647;
  LogMark mark;
  allochooks::FailAt(1);
  EXPECT_FALSE(c.e().Eval(row));  // no result formed: false, not inverted
  allochooks::FailAt(0);
  EXPECT_EQ(mark.Count("FSEEval - unknown exception."), 1);
  // The next evaluation makes the pattern and works: "0%1234567%" does not
  // match "2147483647", and NOT makes it true.
  EXPECT_TRUE(c.e().Eval(row));
  EXPECT_EQ(row.states[0].filled_value, u"0%1234567%");
}

int64_t g_now = 0;
int64_t Clock() { return g_now; }

TEST(SimpleExpressionTest, NamedPeriodOnDateFields) {
  setenv("TZ", "UTC", 1);
  ResetTimeZoneCaches();
  SetClockForTesting(&Clock);
  g_now = DateTime(2026, 12, 15, 12, 0, 0, -1).Seconds();
  Condition c(kOpNamedPeriod, u"THIS MONTH", kTypeDate);
  EXPECT_TRUE(c.On(u"12/1/2026"));
  EXPECT_TRUE(c.On(u"12/15/2026"));
  EXPECT_FALSE(c.On(u"11/30/2026"));
  EXPECT_FALSE(c.Not().On(u"12/3/2026"));
  Condition text(kOpNamedPeriod, u"today");  // text field: row as given
  EXPECT_TRUE(text.On(u"15-12-2026"));
  EXPECT_FALSE(Condition(kOpNamedPeriod, u"someday").On(u"15-12-2026"));
  SetClockForTesting(nullptr);
}

TEST(SimpleExpressionTest, TextForm) {
  EXPECT_EQ(Condition(kOpEquals, u"5", kTypeNumeric).e().ToString(),
            u"Field = 5");
  EXPECT_EQ(Condition(kOpContains, u"X").e().ToString(), u"Field CONTAINS 'x'");
  EXPECT_EQ(Condition(kOpLess, u"1/2/2030", kTypeDate).e().ToString(),
            u"Field < 02-01-2030");
  EXPECT_EQ(Condition(kOpGreater, u"b").e().ToString(), u"Field > b");
  EXPECT_EQ(Condition(kOpNamedPeriod, u"Today", kTypeDate).e().ToString(),
            u"Field IN TODAY");
  EXPECT_EQ(Condition(12, u"v").e().ToString(),
            u"Field <unknown operator 12> v");
  // Neither NOT nor the tag is rendered.
  EXPECT_EQ(Condition(kOpEquals, u"v").Not().Tag(u"T").e().ToString(),
            u"Field = v");
}

}  // namespace
}  // namespace filtermodule
