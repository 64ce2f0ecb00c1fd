#include <gtest/gtest.h>

#include <random>
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

TEST(NumericIntervalCollectionTest, NormalizeSortsDropsEmptiesAndMerges) {
  struct Case {
    Pairs in, out;
  };
  const std::vector<Case> cases = {
      {{{1, 5}, {3, 9}}, {{1, 9}}},
      {{{6, kMax}, {kMin, 9}}, {{kMin, kMax}}},
      {{{1, 5}, {6, 9}}, {{1, 5}, {6, 9}}},  // touching intervals stay apart
      {{{6, 9}, {1, 5}}, {{1, 5}, {6, 9}}},
      {{{1, 10}, {3, 5}}, {{1, 10}}},
      {{{3, 5}, {1, 10}}, {{1, 10}}},
      {{{1, 5}, {3, 7}, {4, 9}, {6, 8}}, {{1, 9}}},
      {{{1, 2}, {5, 6}, {2, 5}}, {{1, 6}}},
      {{{7, 5}, {1, 6}}, {{1, 6}}},
      {{{1, 6}, {7, 5}}, {{1, 6}}},
      {{{7, 5}}, {}},
      {{{kMax, kMax}, {kMin, kMin}, {0, 0}},
       {{kMin, kMin}, {0, 0}, {kMax, kMax}}},
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
      {{{5, 10}}, {{kMin, 4}, {11, kMax}}},
      {{{kMin, 10}}, {{11, kMax}}},
      {{{5, kMax}}, {{kMin, 4}}},
      {{{kMin, kMax}}, {}},
      {{}, {}},
      // The values outside at least one interval.
      {{{1, 5}, {10, 20}}, {{kMin, kMax}}},
      {{{7, 5}}, {{kMin, kMax}}},
      {{{1, 10}, {3, 5}}, {{kMin, 0}, {11, kMax}}},  // merged first
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
  EXPECT_EQ(Of(*a), (Pairs{{3, 5}, {10, 12}, {15, 20}}));
  IntervalSetPtr b = Set({{1, 5}});
  b->IntersectWith(*Set({{7, 9}}));
  EXPECT_EQ(Of(*b), Pairs{});
  IntervalSetPtr c = Set({{kMin, kMax}});
  c->IntersectWith(*Set({{20, 30}, {1, 5}, {3, 9}}));
  EXPECT_EQ(Of(*c), (Pairs{{1, 9}, {20, 30}}));
  IntervalSetPtr d = Set({{1, 5}});
  d->IntersectWith(*Set({}));
  EXPECT_EQ(Of(*d), Pairs{});
  IntervalSetPtr e = Set({});
  e->IntersectWith(*Set({{1, 5}}));
  EXPECT_EQ(Of(*e), Pairs{});
  IntervalSetPtr f = Set({{kMin, kMin}, {kMax, kMax}});
  f->IntersectWith(*Set({{kMin, kMax}}));
  EXPECT_EQ(Of(*f), (Pairs{{kMin, kMin}, {kMax, kMax}}));
}

TEST(NumericIntervalCollectionTest, Union) {
  IntervalSetPtr a = Set({{1, 5}});
  a->UnionWith(*Set({{3, 9}}));
  EXPECT_EQ(Of(*a), (Pairs{{1, 9}}));
  IntervalSetPtr b = Set({{6, 9}});
  b->UnionWith(*Set({{1, 5}}));
  EXPECT_EQ(Of(*b), (Pairs{{1, 5}, {6, 9}}));
  IntervalSetPtr c = Set({{1, 5}});
  c->UnionWith(*Set({}));
  EXPECT_EQ(Of(*c), (Pairs{{1, 5}}));
  // With itself: terminates with its own content merged.
  IntervalSetPtr d = Set({{3, 5}, {1, 10}, {20, 30}});
  d->UnionWith(*d);
  EXPECT_EQ(Of(*d), (Pairs{{1, 10}, {20, 30}}));
}

// Against the plain definition on a small range: membership of every value
// from -12 to 12 (and both ends of the 32-bit range) after each operation
// on random sets, and the normal form after every operation but Append.
TEST(NumericIntervalCollectionTest, OperationsAgreeWithMembership) {
  std::mt19937 random(7);
  std::vector<int32_t> probes = {kMin, kMin + 1, kMax - 1, kMax};
  for (int32_t v = -12; v <= 12; ++v) probes.push_back(v);
  const int32_t ends[] = {kMin, -10, -7, -3, -1, 0, 1, 2, 4, 6, 9, kMax};
  auto random_pairs = [&] {
    Pairs pairs(random() % 5);
    for (auto& [lo, hi] : pairs) {
      lo = ends[random() % 12];
      hi = ends[random() % 12];  // sometimes empty
    }
    return pairs;
  };
  auto in = [](const Pairs& pairs, int32_t v) {
    for (auto [lo, hi] : pairs)
      if (lo <= v && v <= hi) return true;
    return false;
  };
  auto expect_normal = [](const Pairs& pairs) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      EXPECT_LE(pairs[i].first, pairs[i].second);
      if (i > 0) {
        EXPECT_GT(pairs[i].first, pairs[i - 1].second);
      }
    }
  };
  for (int round = 0; round < 3000; ++round) {
    const Pairs a = random_pairs(), b = random_pairs();
    IntervalSetPtr u = Set(a), x = Set(a), c = Set(a);
    u->UnionWith(*Set(b));
    x->IntersectWith(*Set(b));
    c->Complement();
    // The complement's reference: outside at least one merged interval.
    IntervalSetPtr merged = Set(a);
    merged->Normalize();
    const Pairs m = Of(*merged);
    for (const int32_t v : probes) {
      ASSERT_EQ(in(Of(*u), v), in(a, v) || in(b, v)) << round << " " << v;
      ASSERT_EQ(in(Of(*x), v), in(a, v) && in(b, v)) << round << " " << v;
      ASSERT_EQ(in(Of(*merged), v), in(a, v));
      // Empty intervals alone: the whole range; no interval: nothing.
      bool outside_one = m.empty() && !a.empty();
      for (auto [lo, hi] : m) outside_one = outside_one || v < lo || v > hi;
      ASSERT_EQ(in(Of(*c), v), outside_one) << round << " " << v;
    }
    expect_normal(Of(*u));
    expect_normal(Of(*x));
    expect_normal(Of(*c));
  }
}

}  // namespace
}  // namespace filtermodule
