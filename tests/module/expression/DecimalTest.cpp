#include <gtest/gtest.h>

#include "expression/Decimal.h"

namespace filtermodule {
namespace {

TEST(DecimalTest, ComparesExactly) {
  EXPECT_EQ(*CompareDecimals(u"-50", u"-10"), -1);
  EXPECT_EQ(*CompareDecimals(u"12.500000", u"13"), -1);
  EXPECT_EQ(*CompareDecimals(u"5.000000", u"5"), 0);
  EXPECT_EQ(*CompareDecimals(u"005", u"5"), 0);
  EXPECT_EQ(*CompareDecimals(u"-05", u"123"), -1);
  EXPECT_EQ(*CompareDecimals(u"-0", u"0.000"), 0);
  EXPECT_EQ(*CompareDecimals(u"  +7", u"7"), 0);
  EXPECT_EQ(*CompareDecimals(u"0.1", u"0.10000000000000000001"), -1);
  EXPECT_EQ(*CompareDecimals(u"99999999999999999999", u"99999999999999999998"),
            1);
  EXPECT_EQ(*CompareDecimals(u"-1.5", u"-1.25"), -1);
  // A digit on one side of the point is enough.
  EXPECT_EQ(*CompareDecimals(u".5", u"0.5"), 0);
  EXPECT_EQ(*CompareDecimals(u"-.5", u"-0.5"), 0);
  EXPECT_EQ(*CompareDecimals(u"+.5", u"0.5"), 0);
  EXPECT_EQ(*CompareDecimals(u".5", u"0.750000"), -1);
  EXPECT_EQ(*CompareDecimals(u"1.", u"1"), 0);
  EXPECT_EQ(*CompareDecimals(u"-0.", u".0"), 0);
  EXPECT_FALSE(CompareDecimals(u"abc", u"1"));
  EXPECT_FALSE(CompareDecimals(u".", u"1"));
  EXPECT_FALSE(CompareDecimals(u"-.", u"1"));
  EXPECT_FALSE(CompareDecimals(u"", u"1"));
  EXPECT_FALSE(CompareDecimals(u"..5", u"1"));
  EXPECT_FALSE(CompareDecimals(u"1.5.", u"1"));
  EXPECT_FALSE(CompareDecimals(u"1 ", u"1"));
  EXPECT_FALSE(CompareDecimals(u"-", u"1"));
  EXPECT_FALSE(CompareDecimals(u"nan", u"1"));
}

}  // namespace
}  // namespace filtermodule
