// The filter variants decide a forced condition as its mark says, before
// its NOT and inside its brackets and links, and are built once each, up
// to their bound.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "decide/FilterVariants.h"
#include "decide/ModuleLog.h"
#include "memory_host/MemoryDataRow.h"
#include "query/ConditionLine.h"

namespace eventquery {
namespace {

class FilterVariantsTest : public testing::Test {
 protected:
  void SetUp() override {
    ModuleLog::Setup(std::getenv("KVAL_LOG_FOLDER"), false);
  }

  // (a = 1 OR b = 2) AND NOT c > 5 AND t@T LIKE 'x*'
  static std::vector<ConditionLine> Lines() {
    return {
        {{.open = 1,
          .field = u"a",
          .op = eventquery::kOpEquals,
          .value = u"1",
          .type = eventquery::kTypeNumeric,
          .link = eventquery::kLinkOr}},
        {{.field = u"b",
          .op = eventquery::kOpEquals,
          .value = u"2",
          .type = eventquery::kTypeNumeric,
          .close = 1}},
        {{.field = u"c",
          .op = eventquery::kOpGreater,
          .value = u"5",
          .type = eventquery::kTypeNumeric,
          .negate = true}},
        {{.field = u"t",
          .op = eventquery::kOpLike,
          .value = u"x*",
          .has_tag = true,
          .tag = u"T"}},
    };
  }

  static bool Match(IFilter* filter, int a, int b, int c,
                    const char16_t* tags) {
    memhost::MemoryDataRow row;
    row.SetInteger(u"a", a);
    row.SetInteger(u"b", b);
    row.SetInteger(u"c", c);
    row.SetText(u"t", tags);
    return filter->IsMatch(&row);
  }
};

TEST_F(FilterVariantsTest, NothingForcedIsTheFilterItself) {
  FilterVariants variants(Lines());
  EXPECT_EQ(variants.For("...."), variants.base());
  EXPECT_EQ(variants.variants_built(), 0u);
  EXPECT_TRUE(Match(variants.base(), 1, 0, 0, u"@T@xyz~T~"));
  EXPECT_FALSE(Match(variants.base(), 1, 0, 9, u"@T@xyz~T~"));
  EXPECT_FALSE(Match(variants.base(), 0, 0, 0, u"@T@xyz~T~"));
}

TEST_F(FilterVariantsTest, ForcedFalseIsFalseBeforeItsNot) {
  FilterVariants variants(Lines());
  // a = 1 forced false: the group needs b = 2 now.
  EXPECT_FALSE(Match(variants.For("F..."), 1, 0, 0, u"@T@xyz~T~"));
  EXPECT_TRUE(Match(variants.For("F..."), 1, 2, 0, u"@T@xyz~T~"));
  // NOT c > 5 with c > 5 forced false is true, whatever c holds.
  EXPECT_TRUE(Match(variants.For("..F."), 1, 0, 9, u"@T@xyz~T~"));
  // The tagged LIKE forced false: no tag text makes it match.
  EXPECT_FALSE(Match(variants.For("...F"), 1, 0, 0, u"@T@xyz~T~"));
  EXPECT_FALSE(Match(variants.For("...F"), 1, 0, 0, u"["));
}

TEST_F(FilterVariantsTest, ForcedTrueIsTrueBeforeItsNot) {
  FilterVariants variants(Lines());
  EXPECT_TRUE(Match(variants.For(".T.."), 0, 0, 0, u"@T@xyz~T~"));
  // NOT c > 5 with c > 5 forced true is false, whatever c holds.
  EXPECT_FALSE(Match(variants.For("..T."), 1, 0, 0, u"@T@xyz~T~"));
  // The tagged LIKE forced true matches a row without the tag at all.
  EXPECT_TRUE(Match(variants.For("...T"), 1, 0, 0, u""));
  // Several marks at once.
  EXPECT_TRUE(Match(variants.For("FTFT"), 0, 0, 9, u""));
}

TEST_F(FilterVariantsTest, EachVariantIsBuiltOnce) {
  FilterVariants variants(Lines());
  IFilter* first = variants.For("F..T");
  EXPECT_EQ(variants.For("F..T"), first);
  EXPECT_EQ(variants.variants_built(), 1u);
  EXPECT_NE(variants.For("T..F"), first);
  EXPECT_EQ(variants.variants_built(), 2u);
}

// The cache holds 4096 variants; the next one clears it and answers stay
// right on both sides of the bound.
TEST_F(FilterVariantsTest, ManyPatternsStayRightPastTheBound) {
  // x0 = 1 AND x1 = 1 AND ... x7 = 1: 3^8 patterns of marks.
  std::vector<ConditionLine> lines;
  for (int i = 0; i < 8; ++i)
    lines.push_back({{.field = u"x" + std::u16string(1, u'0' + i),
                      .op = eventquery::kOpEquals,
                      .value = u"1",
                      .type = eventquery::kTypeNumeric}});
  FilterVariants variants(lines);
  memhost::MemoryDataRow row;
  for (int i = 0; i < 8; ++i)
    row.SetInteger(u"x" + std::u16string(1, u'0' + i), 1);
  const int patterns = 4096 + 4;
  for (int p = 1; p <= patterns; ++p) {
    std::string marks;
    for (int i = 0, v = p; i < 8; ++i, v /= 3) marks.push_back(".FT"[v % 3]);
    const bool any_false = marks.find('F') != std::string::npos;
    ASSERT_EQ(variants.For(marks)->IsMatch(&row), !any_false) << marks;
  }
  EXPECT_EQ(variants.variants_built(), static_cast<size_t>(patterns));
}

}  // namespace
}  // namespace eventquery
