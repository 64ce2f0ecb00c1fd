#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>
#include <vector>

#include "interval/NumericIntervalCollection.h"

namespace filtermodule {
namespace {

constexpr int32_t kMin = kIntervalMin;
constexpr int32_t kMax = kIntervalMax;
using Pairs = std::vector<std::pair<int32_t, int32_t>>;

IntervalSetPtr Set(const Pairs& pairs) {
  IntervalSetPtr set(new NumericIntervalCollection());
  for (auto [lo, hi] : pairs) set->Append(NumericInterval(lo, hi));
  return set;
}

Pairs Of(NumericIntervalCollection& set) {
  Pairs out;
  for (uint32_t i = 0; i < set.GetCount(); ++i) {
    INumericInterval* x = set.GetAt(static_cast<int32_t>(i));
    out.emplace_back(x->GetLower(), x->GetUpper());
  }
  return out;
}

TEST(NumericIntervalCollectionTest, AccessAndReserved) {
  IntervalSetPtr set = Set({});
  EXPECT_EQ(set->GetCount(), 0u);
  EXPECT_THROW(set->GetAt(0), std::out_of_range);
  set->Append(NumericInterval(1, 5));
  set->Append(NumericInterval(3, 9));
  EXPECT_EQ(Of(*set), (Pairs{{1, 5}, {3, 9}}));  // Append does not merge
  EXPECT_THROW(set->GetAt(-1), std::out_of_range);
  EXPECT_THROW(set->GetAt(2), std::out_of_range);
  set->Reserved(17, -4);
  EXPECT_EQ(Of(*set), (Pairs{{1, 5}, {3, 9}}));
}

TEST(NumericIntervalCollectionTest, MergingPassIsOnePass) {
  struct Case {
    Pairs in, out;
  };
  const std::vector<Case> cases = {
      {{{1, 5}, {3, 9}}, {{1, 9}}},
      {{{6, kMax}, {kMin, 9}}, {{kMin, kMax}}},
      {{{1, 5}, {6, 9}}, {{1, 5}, {6, 9}}},
      {{{1, 10}, {3, 5}}, {{1, 10}, {3, 5}}},
      {{{3, 5}, {1, 10}}, {{1, 10}}},
      {{{1, 5}, {3, 7}, {4, 9}, {6, 8}}, {{1, 9}, {6, 8}}},
      {{{1, 2}, {5, 6}, {2, 5}}, {{1, 5}, {5, 6}}},
      {{{7, 5}, {1, 6}}, {{1, 6}}},
      {{{1, 6}, {7, 5}}, {{1, 6}, {7, 5}}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    IntervalSetPtr set = Set(c.in);
    set->Normalize();
    EXPECT_EQ(Of(*set), c.out);
  }
}

TEST(NumericIntervalCollectionTest, Complement) {
  struct Case {
    Pairs in, out;
  };
  const std::vector<Case> cases = {
      {{{5, 10}}, {{11, kMax}, {kMin, 4}}},
      {{{kMin, 10}}, {{11, kMax}}},
      {{{5, kMax}}, {{kMin, 4}}},
      {{{kMin, kMax}}, {}},
      {{}, {}},
      {{{1, 5}, {10, 20}}, {{kMin, kMax}, {kMin, 0}}},
      {{{7, 5}}, {{kMin, kMax}}},
  };
  for (const Case& c : cases) {
    IntervalSetPtr set = Set(c.in);
    set->Complement();
    EXPECT_EQ(Of(*set), c.out);
  }
}

TEST(NumericIntervalCollectionTest, Intersection) {
  IntervalSetPtr a = Set({{1, 5}, {10, 20}});
  a->IntersectWith(*Set({{3, 12}, {15, 30}}));
  EXPECT_EQ(Of(*a), (Pairs{{3, 5}, {15, 20}, {10, 12}}));
  IntervalSetPtr b = Set({{1, 5}});
  b->IntersectWith(*Set({{7, 9}}));
  EXPECT_EQ(Of(*b), (Pairs{{7, 5}}));
  IntervalSetPtr c = Set({{kMin, kMax}});
  c->IntersectWith(*Set({{20, 30}, {1, 5}, {3, 9}}));
  EXPECT_EQ(Of(*c), (Pairs{{20, 30}, {1, 9}}));
  IntervalSetPtr d = Set({{1, 5}});
  d->IntersectWith(*Set({}));
  EXPECT_EQ(Of(*d), Pairs{});
  IntervalSetPtr e = Set({});
  e->IntersectWith(*Set({{1, 5}}));
  EXPECT_EQ(Of(*e), Pairs{});
}

TEST(NumericIntervalCollectionTest, Union) {
  IntervalSetPtr a = Set({{1, 5}});
  a->UnionWith(*Set({{3, 9}}));
  EXPECT_EQ(Of(*a), (Pairs{{1, 9}}));
  IntervalSetPtr b = Set({{1, 5}});
  b->UnionWith(*Set({{6, 9}}));
  EXPECT_EQ(Of(*b), (Pairs{{1, 5}, {6, 9}}));
  IntervalSetPtr c = Set({{1, 5}});
  c->UnionWith(*Set({}));
  EXPECT_EQ(Of(*c), (Pairs{{1, 5}}));
  // With itself: terminates with its own content merged.
  IntervalSetPtr d = Set({{3, 5}, {1, 10}, {20, 30}});
  d->UnionWith(*d);
  EXPECT_EQ(Of(*d), (Pairs{{1, 10}, {20, 30}}));
}

}  // namespace
}  // namespace filtermodule
