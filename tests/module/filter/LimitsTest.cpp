// Inputs at and past the sizes a host might send: each is handled in
// bounded time and memory, and answered correctly.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/Filter.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;

struct Built {
  memhost::MemoryFilterLineList lines;
  Filter* filter;
  explicit Built(const std::vector<LineSpec>& line_data) : lines(line_data) {
    filter = static_cast<Filter*>(CreateFilter());
    filter->Init(&lines);
  }
  ~Built() { filter->Release(); }
};

TEST(LimitsTest, TenThousandLines) {
  std::vector<LineSpec> line_data;
  for (int i = 0; i < 10000; ++i)
    line_data.push_back(LineSpec{.open = i % 3 == 0 ? 1 : 0,
                                 .field = u"F",
                                 .op = 0,
                                 .value = std::u16string(1, u'0' + i % 10),
                                 .type = 0,
                                 .close = i % 3 == 2 ? 1 : 0,
                                 .link = 1});
  Built b(line_data);
  EXPECT_EQ(b.filter->simple_expressions().size(), 10000u);
  memhost::MemoryDataRow row;
  row.SetInteger(u"F", 7);
  EXPECT_TRUE(b.filter->IsMatch(&row));
  row.SetInteger(u"F", 12);
  EXPECT_FALSE(b.filter->IsMatch(&row));
  INumericIntervalCollection* set = b.filter->GetNumericIntervals(u"F");
  EXPECT_GT(set->GetCount(), 0u);
  set->Release();
}

TEST(LimitsTest, HundredThousandBracketsOnEveryLine) {
  Built b({LineSpec{.open = 100000,
                    .field = u"A",
                    .value = u"x",
                    .close = 100000,
                    .link = 1},
           LineSpec{
               .open = 100000, .field = u"B", .value = u"y", .close = 100000}});
  EXPECT_TRUE(b.filter->initialised());
  memhost::MemoryDataRow row;
  row.SetText(u"B", u"y");
  b.filter->IsMatch(&row);  // no crash; the shape is what the cap left
  INumericIntervalCollection* set = b.filter->GetNumericIntervals(u"A");
  set->Release();
}

TEST(LimitsTest, TenMegabyteValuesAndRowTexts) {
  const std::u16string big(10u << 20, u'a');
  const std::u16string needle = std::u16string(5u << 20, u'a') + u"b";
  Built b({LineSpec{.field = u"T", .op = 2, .value = needle, .link = 1},
           LineSpec{.field = u"T", .op = 0, .value = big, .link = 1},
           LineSpec{.field = u"T", .op = 1, .value = u"a*c", .link = 1},
           LineSpec{.field = u"T",
                    .op = 0,
                    .value = needle,
                    .link = 0,
                    .has_tag = true,
                    .tag = u"x"}});
  memhost::MemoryDataRow row;
  row.SetText(u"T", big);
  EXPECT_TRUE(b.filter->IsMatch(&row));
  row.SetText(u"T", big + u"c");
  EXPECT_TRUE(b.filter->IsMatch(&row));  // the LIKE
  row.SetText(u"T", std::u16string(10u << 20, u'b'));
  EXPECT_FALSE(b.filter->IsMatch(&row));
}

TEST(LimitsTest, HundredThousandStarsInAValue) {
  Built b({LineSpec{
      .field = u"T", .op = 1, .value = std::u16string(100000, u'*') + u"z"}});
  memhost::MemoryDataRow row;
  row.SetText(u"T", std::u16string(100000, u'y') + u"z");
  EXPECT_TRUE(b.filter->IsMatch(&row));
  row.SetText(u"T", std::u16string(100000, u'y'));
  EXPECT_FALSE(b.filter->IsMatch(&row));
}

}  // namespace
}  // namespace filtermodule
