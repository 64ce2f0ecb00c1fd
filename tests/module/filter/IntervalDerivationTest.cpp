#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "FilterInternals.h"
#include "filter/Filter.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;
using memhost::MemoryFilterLineList;
using Pairs = std::vector<std::pair<int32_t, int32_t>>;
constexpr int32_t kMin = kIntervalMin;
constexpr int32_t kMax = kIntervalMax;

LineSpec C(const char16_t* field, FieldOperator op, std::u16string value,
           LineLinkOperator link = kLinkAnd, bool negate = false,
           int32_t open = 0, int32_t close = 0) {
  return LineSpec{.open = open,
                  .field = field,
                  .op = op,
                  .value = std::move(value),
                  .type = kTypeNumeric,
                  .close = close,
                  .link = link,
                  .negate = negate};
}

Pairs Derive(std::vector<LineSpec> line_data, const char16_t* field = u"F") {
  MemoryFilterLineList lines(line_data);
  IFilter* filter = CreateFilter();
  filter->Init(&lines);
  INumericIntervalCollection* set = filter->GetNumericIntervals(field);
  Pairs out;
  for (uint32_t i = 0; i < set->GetCount(); ++i) {
    INumericInterval* x = set->GetAt(static_cast<int32_t>(i));
    out.emplace_back(x->GetLower(), x->GetUpper());
  }
  set->Release();
  filter->Release();
  return out;
}

const Pairs kWhole = {{kMin, kMax}};

TEST(IntervalDerivationTest, ConditionsOnTheField) {
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"5")}), (Pairs{{5, 5}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"5")}, u"f"), (Pairs{{5, 5}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"5")}, u"G"), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"5"), C(u"F", kOpLess, u"10")}),
            (Pairs{{6, 9}}));
  EXPECT_EQ(
      Derive({C(u"F", kOpGreater, u"5", kLinkOr), C(u"F", kOpLess, u"10")}),
      kWhole);
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"1", kLinkOr), C(u"F", kOpEquals, u"3")}),
      (Pairs{{1, 1}, {3, 3}}));
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"1", kLinkOr), C(u"F", kOpEquals, u"2")}),
      (Pairs{{1, 1}, {2, 2}}));
  EXPECT_EQ(
      Derive({C(u"F", kOpLess, u"10", kLinkAndNot), C(u"F", kOpLess, u"5")}),
      (Pairs{{5, 9}}));
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"1", kLinkOrNot), C(u"F", kOpGreater, u"5")}),
      (Pairs{{kMin, 5}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"5"), C(u"G", kOpEquals, u"7")}),
            (Pairs{{5, 5}}));
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"5", kLinkOr), C(u"G", kOpEquals, u"7")}),
      kWhole);
  // No value can match: no interval at all.
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"5", kLinkAndNot), C(u"F", kOpEquals, u"5")}),
      Pairs{});
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"1"),
                    C(u"F", kOpEquals, u"2", kLinkOr, false, 1),
                    C(u"F", kOpEquals, u"3", kLinkAnd, false, 0, 1)}),
            Pairs{});
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"2", kLinkOr, false, 1),
                    C(u"F", kOpEquals, u"3", kLinkAnd, false, 0, 1),
                    C(u"F", kOpGreater, u"2")}),
            (Pairs{{3, 3}}));
  EXPECT_EQ(Derive({}), kWhole);
}

TEST(IntervalDerivationTest, OtherOperatorsAndValues) {
  EXPECT_EQ(Derive({C(u"F", kOpLike, u"1%")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpContains, u"5")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpNamedPeriod, u"today")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"2147483647")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"-2147483648")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"42")}), (Pairs{{42, 42}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u" -7")}), (Pairs{{-7, -7}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"0042")}), (Pairs{{42, 42}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"12.5")}), (Pairs{{12, 12}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"abc")}), (Pairs{{0, 0}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"")}), (Pairs{{0, 0}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"99999999999")}),
            (Pairs{{kMax, kMax}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"-99999999999")}),
            (Pairs{{kMin, kMin}}));
}

TEST(IntervalDerivationTest, NegationOnlyComplementsExactSets) {
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"5", kLinkAndNot), C(u"G", kOpEquals, u"7")}),
      (Pairs{{5, 5}}));
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"5", kLinkAnd, true)}),
            (Pairs{{kMin, 4}, {6, kMax}}));
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"5", kLinkOrNot), C(u"G", kOpEquals, u"7")}),
      kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"2147483647", kLinkAnd, true)}),
            kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"-2147483648", kLinkAnd, true)}), kWhole);
  // A tagged condition or another type keeps its interval but is inexact.
  LineSpec tagged = C(u"F", kOpEquals, u"5", kLinkAnd, true);
  tagged.has_tag = true;
  tagged.tag = u"T";
  EXPECT_EQ(Derive({tagged}), kWhole);
  tagged.negate = false;
  EXPECT_EQ(Derive({tagged}), (Pairs{{5, 5}}));
  LineSpec text = C(u"F", kOpLess, u"abc");
  text.type = kTypeText;
  EXPECT_EQ(Derive({text}), (Pairs{{kMin, -1}}));  // abc reads as 0
  // A negated condition in a group, and a negated group of exact conditions.
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"0", kLinkAnd, true, 1),
                    C(u"F", kOpLess, u"10", kLinkAnd, false, 0, 1)}),
            (Pairs{{kMin, 0}}));
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"-100", kLinkAndNot),
                    C(u"F", kOpGreater, u"0", kLinkAnd, false, 1),
                    C(u"F", kOpLess, u"10", kLinkAnd, false, 0, 1)}),
            (Pairs{{-99, 0}, {10, kMax}}));
}

TEST(IntervalDerivationTest, DecimalBoundsForLessAndGreater) {
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"12.5")}), (Pairs{{kMin, 12}}));
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"12.5")}), (Pairs{{13, kMax}}));
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"-12.5")}), (Pairs{{-12, kMax}}));
  // No digit before the point, or none after it: the same numbers.
  EXPECT_EQ(Derive({C(u"F", kOpLess, u".5")}),
            Derive({C(u"F", kOpLess, u"0.5")}));
  EXPECT_EQ(Derive({C(u"F", kOpLess, u".5")}), (Pairs{{kMin, 0}}));
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u".5")}), (Pairs{{1, kMax}}));
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"-.5")}), (Pairs{{0, kMax}}));
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"+.5")}), (Pairs{{kMin, 0}}));
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"5.")}), (Pairs{{kMin, 4}}));
  EXPECT_EQ(Derive({C(u"F", kOpGreater, u"5.")}), (Pairs{{6, kMax}}));
  EXPECT_EQ(Derive({C(u"F", kOpLess, u".")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"99999999999")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"abc")}), kWhole);
  EXPECT_EQ(Derive({C(u"F", kOpLess, u"12.5", kLinkAnd, true)}), kWhole);
}

TEST(IntervalDerivationTest, UnknownLinkEmptiesTheSet) {
  EXPECT_EQ(Derive({C(u"F", kOpEquals, u"5", static_cast<LineLinkOperator>(9)),
                    C(u"F", kOpEquals, u"6")}),
            Pairs{});
  EXPECT_EQ(
      Derive({C(u"F", kOpEquals, u"5", static_cast<LineLinkOperator>(9)),
              C(u"F", kOpEquals, u"6", kLinkOr), C(u"F", kOpEquals, u"7")}),
      (Pairs{{7, 7}}));
}

// Soundness: every row that matches has its field's value inside the derived
// set; for filters of exact conditions only, every value inside the set has
// a matching row.
TEST(IntervalDerivationTest, DerivedSetsAreSound) {
  std::mt19937 rng(77);
  const std::vector<std::u16string> values = {
      u"0",           u"-1",  u"1",    u"2147483647", u"-2147483648", u" 5",
      u"+5",          u"-05", u"12.5", u"-3.5",       u"abc",         u"",
      u"99999999999", u"7",   u"10",   u"005"};
  const std::vector<int32_t> probes = {
      0,  -1, 1,  2,  4,  5,  6,  7,    8,        9,    10,      11,
      12, 13, -2, -3, -4, -5, -6, kMax, kMax - 1, kMin, kMin + 1};
  auto pick = [&rng](size_t n) {
    return std::uniform_int_distribution<size_t>(0, n - 1)(rng);
  };
  int checked = 0;
  int exact_filters = 0;
  for (int round = 0; round < 3000; ++round) {
    std::vector<LineSpec> line_data;
    const size_t count = 1 + pick(5);
    int depth = 0;
    for (size_t i = 0; i < count; ++i) {
      LineSpec s;
      s.field = pick(3) == 0 ? u"G" : u"F";
      s.op = static_cast<FieldOperator>(
          pick(3) == 0 ? pick(6) : std::vector<int>{0, 3, 4}[pick(3)]);
      s.value = values[pick(values.size())];
      s.type = kTypeNumeric;
      s.negate = pick(4) == 0;
      s.link = static_cast<LineLinkOperator>(pick(4));
      if (pick(4) == 0) {
        s.open = 1;
        ++depth;
      }
      if (depth > 0 && pick(3) == 0) {
        s.close = 1;
        --depth;
      }
      line_data.push_back(s);
    }
    line_data.back().close += depth;
    MemoryFilterLineList lines(line_data);
    IFilter* filter = CreateFilter();
    filter->Init(&lines);
    INumericIntervalCollection* set = filter->GetNumericIntervals(u"F");
    auto* ours = static_cast<NumericIntervalCollection*>(set);
    // The derivation's own verdict: exact sets hold only matching values.
    const bool exact = FilterInternals(static_cast<Filter*>(filter))
                           .root()
                           ->DeriveIntervals(u"F", nullptr)
                           .exact;
    exact_filters += exact;
    for (int32_t f : probes) {
      memhost::MemoryDataRow row;
      row.SetInteger(u"F", f);
      for (int32_t g : {0, 7, -1, kMax}) {
        row.SetInteger(u"G", g);
        const bool match = filter->IsMatch(&row);
        if (match) {
          ++checked;
          ASSERT_TRUE(ours->Covers(f))
              << "round " << round << ": row F=" << f << " matches outside";
        } else if (exact) {
          ASSERT_FALSE(ours->Covers(f))
              << "round " << round << ": F=" << f << " inside, no match";
        }
      }
    }
    set->Release();
    filter->Release();
  }
  EXPECT_GT(checked, 1000);
  EXPECT_GT(exact_filters, 100);
}

// Exactness survives AND, OR and the negation of single intervals; the
// negation of several intervals covers the complement without being exact.
TEST(IntervalDerivationTest, ExactnessOfCombinations) {
  auto exact = [](std::vector<LineSpec> line_data) {
    MemoryFilterLineList lines(line_data);
    IFilter* filter = CreateFilter();
    filter->Init(&lines);
    const bool result = FilterInternals(static_cast<Filter*>(filter))
                            .root()
                            ->DeriveIntervals(u"F", nullptr)
                            .exact;
    filter->Release();
    return result;
  };
  EXPECT_TRUE(
      exact({C(u"F", kOpEquals, u"5", kLinkOr), C(u"F", kOpLess, u"-3")}));
  EXPECT_TRUE(exact({C(u"F", kOpEquals, u"5", kLinkAnd, true)}));
  EXPECT_FALSE(
      exact({C(u"F", kOpEquals, u"5", kLinkAnd), C(u"G", kOpEquals, u"7")}));
  EXPECT_FALSE(exact({C(u"F", kOpEquals, u"12.5")}));
  EXPECT_FALSE(exact({C(u"F", kOpGreater, u"2147483647")}));
  // NOT (F = 1 OR F = 3): the pieces' complements cover everything.
  EXPECT_FALSE(exact({C(u"F", kOpEquals, u"0", kLinkAndNot),
                      C(u"F", kOpEquals, u"1", kLinkOr, false, 1),
                      C(u"F", kOpEquals, u"3", kLinkAnd, false, 0, 1)}));
  EXPECT_EQ(Derive({C(u"G", kOpEquals, u"0", kLinkAndNot),
                    C(u"F", kOpEquals, u"1", kLinkOr, false, 1),
                    C(u"F", kOpEquals, u"3", kLinkAnd, false, 0, 1)}),
            (Pairs{{kMin, kMax}}));
}

}  // namespace
}  // namespace filtermodule
