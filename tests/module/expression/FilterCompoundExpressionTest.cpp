#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "TestLog.h"
#include "expression/FilterCompoundExpression.h"

namespace filtermodule {
namespace {

using testlog::LogMark;

// Leaves read no row values.
RowValues g_row;

// A leaf with a fixed answer that counts its evaluations.
class Leaf : public FilterExpression {
 public:
  Leaf(bool value, int32_t link, const char16_t* name, int* calls = nullptr)
      : value_(value), name_(name), calls_(calls) {
    SetLinkOperator(link);
  }
  bool Eval(RowValues& /*row*/) const override {
    if (calls_) ++*calls_;
    if (throws_) throw std::runtime_error("leaf failed");
    return value_;
  }
  std::u16string ToString() const override { return name_; }
  void SetThrows() { throws_ = true; }

 private:
  bool value_;
  std::u16string name_;
  int* calls_;
  bool throws_ = false;
};

struct Tree {
  FilterCompoundExpression root;
  Leaf* Add(bool value, int32_t link, const char16_t* name,
            int* calls = nullptr) {
    auto leaf = std::make_unique<Leaf>(value, link, name, calls);
    Leaf* raw = leaf.get();
    root.GetChildren().Append(std::move(leaf));
    return raw;
  }
};

TEST(CompoundExpressionTest, EmptyCompoundIsTrueAndRendersEmpty) {
  FilterCompoundExpression c;
  EXPECT_TRUE(c.Eval(g_row));
  EXPECT_EQ(c.ToString(), u"");
  EXPECT_EQ(c.GetLinkOperator(), 0);
}

TEST(CompoundExpressionTest, OneChildGivesItsOwnResult) {
  for (int32_t link : {0, 1, 2, 3, 7}) {
    Tree t;
    t.Add(false, link, u"X");
    EXPECT_FALSE(t.root.Eval(g_row));
    Tree u;
    u.Add(true, link, u"X");
    EXPECT_TRUE(u.root.Eval(g_row));
  }
}

TEST(CompoundExpressionTest, LeftToRightWithoutPrecedence) {
  Tree t;  // X OR Y AND Z = (X OR Y) AND Z
  t.Add(true, kLinkOr, u"X");
  t.Add(true, kLinkAnd, u"Y");
  t.Add(false, kLinkAnd, u"Z");
  EXPECT_FALSE(t.root.Eval(g_row));
  Tree u;  // X AND Y OR Z
  u.Add(false, kLinkAnd, u"X");
  u.Add(false, kLinkOr, u"Y");
  u.Add(true, kLinkAnd, u"Z");
  EXPECT_TRUE(u.root.Eval(g_row));
}

TEST(CompoundExpressionTest, NegatedLinksAndShortCircuit) {
  int y_calls = 0;
  Tree t;  // X AND NOT Y
  t.Add(true, kLinkAndNot, u"X");
  t.Add(false, kLinkAnd, u"Y", &y_calls);
  EXPECT_TRUE(t.root.Eval(g_row));
  EXPECT_EQ(y_calls, 1);
  Tree u;  // false AND NOT Y: Y not evaluated
  u.Add(false, kLinkAndNot, u"X");
  u.Add(false, kLinkAnd, u"Y", &y_calls);
  EXPECT_FALSE(u.root.Eval(g_row));
  EXPECT_EQ(y_calls, 1);
  Tree v;  // true OR Y / true OR NOT Y: Y not evaluated
  v.Add(true, kLinkOr, u"X");
  v.Add(true, kLinkOrNot, u"Y", &y_calls);
  v.Add(true, kLinkAnd, u"Z", &y_calls);
  EXPECT_TRUE(v.root.Eval(g_row));
  EXPECT_EQ(y_calls, 1);
  Tree w;  // false OR NOT Y
  w.Add(false, kLinkOrNot, u"X");
  w.Add(false, kLinkAnd, u"Y", &y_calls);
  EXPECT_TRUE(w.root.Eval(g_row));
  EXPECT_EQ(y_calls, 2);
}

TEST(CompoundExpressionTest, UnknownLinkMakesFalseAndSkipsTheChild) {
  int y_calls = 0;
  Tree t;  // X(7) Y(OR) Z
  t.Add(true, 7, u"X");
  t.Add(true, kLinkOr, u"Y", &y_calls);
  t.Add(true, kLinkAnd, u"Z");
  LogMark mark;
  EXPECT_TRUE(t.root.Eval(g_row));  // false, then OR Z
  EXPECT_EQ(y_calls, 0);
  EXPECT_EQ(mark.Count("FCEEval - unknown line link operator."), 1);
  EXPECT_EQ(mark.Records()[0].level, "ERROR");
}

TEST(CompoundExpressionTest, FailingChildStopsWithTheResultBeforeIt) {
  int z_calls = 0;
  Tree t;
  t.Add(true, kLinkAnd, u"X");
  t.Add(true, kLinkAnd, u"Y")->SetThrows();
  t.Add(false, kLinkAnd, u"Z", &z_calls);
  LogMark mark;
  EXPECT_TRUE(t.root.Eval(g_row));
  EXPECT_EQ(z_calls, 0);
  EXPECT_EQ(
      mark.Count(
          "FCEEval - unknown exception when evaluating compound expression."),
      1);
  Tree u;
  u.Add(false, kLinkAnd, u"X")->SetThrows();
  EXPECT_TRUE(u.root.Eval(g_row));  // the first child failed: true
}

TEST(CompoundExpressionTest, TextForm) {
  Tree t;
  t.Add(true, kLinkAnd, u"X");
  t.Add(true, kLinkOr, u"Y");
  t.Add(true, kLinkAndNot, u"Z");  // last link is not written
  EXPECT_EQ(t.root.ToString(), u"( X ) AND ( Y ) OR ( Z )");
  Tree u;
  auto group = std::make_unique<FilterCompoundExpression>();
  group->GetChildren().Append(std::make_unique<Leaf>(true, kLinkOr, u"X"));
  group->GetChildren().Append(std::make_unique<Leaf>(true, kLinkAnd, u"Y"));
  group->SetLinkOperator(kLinkAndNot);
  u.root.GetChildren().Append(std::move(group));
  u.Add(true, kLinkOrNot, u"Z");
  u.Add(true, 9, u"W");
  u.Add(true, kLinkAnd, u"V");
  EXPECT_EQ(u.root.ToString(),
            u"( ( X ) OR ( Y ) ) AND NOT ( Z ) OR NOT ( W ) <unknown link 9> "
            u"( V )");
}

TEST(CompoundExpressionTest, ChildrenAccessIsRangeChecked) {
  Tree t;
  t.Add(true, kLinkAnd, u"X");
  EXPECT_EQ(t.root.GetChildren().Count(), 1u);
  EXPECT_EQ(t.root.GetChildren().At(0).ToString(), u"X");
  EXPECT_THROW(t.root.GetChildren().At(1), std::invalid_argument);
}

TEST(CompoundExpressionTest, DestructionWritesOneLinePerCompound) {
  LogMark mark;
  {
    FilterCompoundExpression root;
    auto a = std::make_unique<FilterCompoundExpression>();
    a->GetChildren().Append(std::make_unique<FilterCompoundExpression>());
    root.GetChildren().Append(std::move(a));
  }
  EXPECT_EQ(mark.Count("Destroying compound expression"), 3);
}

}  // namespace
}  // namespace filtermodule
