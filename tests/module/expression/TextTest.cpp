#include <gtest/gtest.h>

#include "expression/Text.h"

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

}  // namespace
}  // namespace filtermodule
