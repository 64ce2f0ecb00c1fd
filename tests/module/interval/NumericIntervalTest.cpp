#include <gtest/gtest.h>

#include "interval/NumericInterval.h"
#include "interval/NumericIntervalCollection.h"

namespace filtermodule {
namespace {

constexpr int32_t kMin = kIntervalMin;
constexpr int32_t kMax = kIntervalMax;

TEST(NumericIntervalTest, BoundsAndContains) {
  NumericInterval whole;
  EXPECT_TRUE(whole.Contains(kMin));
  EXPECT_TRUE(whole.Contains(kMax));
  NumericInterval five(5, 5);
  EXPECT_TRUE(five.Contains(5));
  EXPECT_FALSE(five.Contains(4));
  EXPECT_FALSE(five.Contains(6));
  NumericInterval empty(7, 5);
  EXPECT_FALSE(empty.Contains(5));
  EXPECT_FALSE(empty.Contains(6));
  EXPECT_FALSE(empty.Contains(7));
}

TEST(NumericIntervalTest, WidenAndNarrow) {
  NumericInterval a(1, 5);
  a.Widen(NumericInterval(7, 9));
  EXPECT_EQ(a, NumericInterval(1, 9));
  NumericInterval b(1, 5);
  b.Narrow(NumericInterval(3, 9));
  EXPECT_EQ(b, NumericInterval(3, 5));
  NumericInterval c(1, 5);
  c.Narrow(NumericInterval(7, 9));
  EXPECT_EQ(c, NumericInterval(7, 5));
  c.Narrow(NumericInterval(kMin, kMax));
  EXPECT_EQ(c, NumericInterval(7, 5));  // stays empty
}

}  // namespace
}  // namespace filtermodule
