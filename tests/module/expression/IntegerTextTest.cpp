#include <gtest/gtest.h>

#include "expression/IntegerText.h"

namespace filtermodule {
namespace {

TEST(IntegerTextTest, LenientReading) {
  EXPECT_EQ(ReadIntegerValue(u"42"), 42);
  EXPECT_EQ(ReadIntegerValue(u" -7"), -7);
  EXPECT_EQ(ReadIntegerValue(u"0042"), 42);
  EXPECT_EQ(ReadIntegerValue(u"12.5"), 12);
  EXPECT_EQ(ReadIntegerValue(u"abc"), 0);
  EXPECT_EQ(ReadIntegerValue(u""), 0);
  EXPECT_EQ(ReadIntegerValue(u"99999999999"), 2147483647);
  EXPECT_EQ(ReadIntegerValue(u"-99999999999"), -2147483647 - 1);
}

TEST(IntegerTextTest, ExactReading) {
  EXPECT_EQ(ReadExactInteger(u" -7"), -7);
  EXPECT_EQ(ReadExactInteger(u"+5"), 5);
  EXPECT_EQ(ReadExactInteger(u"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ReadExactInteger(u"2147483647"), 2147483647);
  EXPECT_FALSE(ReadExactInteger(u"2147483648"));
  EXPECT_FALSE(ReadExactInteger(u"12.5"));
  EXPECT_FALSE(ReadExactInteger(u"5 "));
  EXPECT_FALSE(ReadExactInteger(u""));
  EXPECT_FALSE(ReadExactInteger(u"-"));
}

TEST(IntegerTextTest, BoundsOfDecimals) {
  EXPECT_EQ(LargestIntegerBelow(u"12.5"), 12);
  EXPECT_EQ(LargestIntegerBelow(u"12.0"), 11);
  EXPECT_EQ(LargestIntegerBelow(u"-12.5"), -13);
  EXPECT_EQ(LargestIntegerBelow(u"-12"), -13);
  EXPECT_EQ(SmallestIntegerAbove(u"12.5"), 13);
  EXPECT_EQ(SmallestIntegerAbove(u"-12.5"), -12);
  EXPECT_EQ(SmallestIntegerAbove(u"-12.0"), -11);
  EXPECT_EQ(LargestIntegerBelow(u".5"), 0);
  EXPECT_EQ(LargestIntegerBelow(u"-.5"), -1);
  EXPECT_EQ(LargestIntegerBelow(u"5."), 4);
  EXPECT_EQ(SmallestIntegerAbove(u"+.5"), 1);
  EXPECT_EQ(SmallestIntegerAbove(u"-.5"), 0);
  EXPECT_EQ(SmallestIntegerAbove(u"5."), 6);
  EXPECT_FALSE(LargestIntegerBelow(u"abc"));
  EXPECT_FALSE(LargestIntegerBelow(u"."));
  EXPECT_FALSE(SmallestIntegerAbove(u"-."));
  EXPECT_FALSE(SmallestIntegerAbove(u"5.x"));
  EXPECT_GT(*SmallestIntegerAbove(u"99999999999"), 2147483647);
}

}  // namespace
}  // namespace filtermodule
