#include <gtest/gtest.h>

#include "expression/Decimal.h"
#include "expression/IntegerText.h"
#include "expression/SubstringSearch.h"
#include "expression/Text.h"

#include <random>

namespace filtermodule {
namespace {

TEST(TextTest, FoldsLettersOfEveryScript) {
  std::u16string text = u"ÄRGER ΣΟΦΊΑ İSTANBUL ДОМ ABCxyz Ω";
  LowerInPlace(text);
  EXPECT_EQ(text, u"ärger σοφία istanbul дом abcxyz ω");
  EXPECT_EQ(FoldCase(u'\u212A'), u'k');       // KELVIN SIGN
  EXPECT_EQ(FoldCase(u'\uA7AA'), u'\u0266');  // delta beyond 16 bits signed
  EXPECT_EQ(FoldCase(u'1'), u'1');
  EXPECT_EQ(FoldCase(u'\xD83D'), u'\xD83D');  // surrogates stay
  EXPECT_TRUE(EqualsNoCase(u"ÄRGER", u"ärger"));
  EXPECT_TRUE(EqualsNoCase(u"ΣΟΦΊΑ", u"σοφία"));
}

TEST(TextTest, CaseInsensitiveOrder) {
  EXPECT_LT(CompareNoCase(u"abc", u"ABD"), 0);
  EXPECT_LT(CompareNoCase(u"ab", u"abc"), 0);  // shorter first
  EXPECT_GT(CompareNoCase(u"abd", u"abc"), 0);
  EXPECT_EQ(CompareNoCase(u"", u""), 0);
  EXPECT_LT(CompareNoCase(u"", u"a"), 0);
  EXPECT_EQ(CompareNoCase(u"REL_EXT_TAGS", u"rel_ext_tags"), 0);
}

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
  EXPECT_FALSE(CompareDecimals(u"abc", u"1"));
  EXPECT_FALSE(CompareDecimals(u"1.", u"1"));
  EXPECT_FALSE(CompareDecimals(u".5", u"1"));
  EXPECT_FALSE(CompareDecimals(u"1 ", u"1"));
  EXPECT_FALSE(CompareDecimals(u"-", u"1"));
  EXPECT_FALSE(CompareDecimals(u"nan", u"1"));
}

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
  EXPECT_FALSE(LargestIntegerBelow(u"abc"));
  EXPECT_GT(*SmallestIntegerAbove(u"99999999999"), 2147483647);
}

}  // namespace
}  // namespace filtermodule

namespace filtermodule {
namespace {

TEST(SubstringSearchTest, AgreesWithFindOnRandomTexts) {
  std::mt19937 rng(5);
  auto draw = [&rng](size_t max) {
    std::u16string s(std::uniform_int_distribution<size_t>(0, max)(rng), u'a');
    for (char16_t& c : s)
      c = u"ab"[std::uniform_int_distribution<int>(0, 1)(rng)];
    return s;
  };
  SubstringSearch search;
  for (int i = 0; i < 20000; ++i) {
    const std::u16string needle = draw(5), text = draw(12);
    search.Prepare(needle);
    ASSERT_EQ(search.FoundIn(text), text.find(needle) != std::u16string::npos)
        << i;
  }
}

}  // namespace
}  // namespace filtermodule
