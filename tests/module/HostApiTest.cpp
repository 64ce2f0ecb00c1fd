// The module as a host sees it: the shared library through the public
// header alone.

#include <gtest/gtest.h>

#include <stdexcept>

#include "TestLog.h"
#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace {

using filtermodule::kLinkAnd;
using filtermodule::kLinkOr;
using filtermodule::kOpEquals;
using filtermodule::kOpLike;
using filtermodule::kTypeNumeric;
using memhost::LineSpec;

TEST(HostApiTest, FilterFromDefinitionMatchesAndDerivesIntervals) {
  memhost::MemoryFilterLineList lines(
      {LineSpec{.open = 1,
                .field = u"EventID",
                .op = kOpEquals,
                .value = u"4625",
                .type = kTypeNumeric,
                .link = kLinkOr},
       LineSpec{.field = u"EventID",
                .op = kOpEquals,
                .value = u"4771",
                .type = kTypeNumeric,
                .close = 1,
                .link = kLinkAnd},
       LineSpec{.field = u"User", .op = kOpLike, .value = u"adm%"}});
  memhost::MemoryFilterDefinition definition(&lines);
  testlog::LogMark mark;
  IFilter* filter = CreateFilterFromFilterDefinition(&definition);
  ASSERT_NE(filter, nullptr);

  memhost::MemoryDataRow row;
  row.SetInteger(u"EventID", 4771);
  row.SetText(u"User", u"Administrator");
  EXPECT_TRUE(filter->IsMatch(&row));
  row.SetText(u"User", u"guest");
  EXPECT_FALSE(filter->IsMatch(&row));
  EXPECT_THROW(filter->IsMatch(nullptr), std::invalid_argument);

  INumericIntervalCollection* set = filter->GetNumericIntervals(u"eventid");
  ASSERT_EQ(set->GetCount(), 2u);
  EXPECT_EQ(set->GetAt(0)->GetLower(), 4625);
  EXPECT_TRUE(set->GetAt(1)->Contains(4771));
  EXPECT_THROW(set->GetAt(2), std::out_of_range);
  set->Reserved(0, 0);
  DestroyFilter(filter);
  // The set outlives its filter.
  EXPECT_EQ(set->GetAt(1)->GetUpper(), 4771);
  set->Release();

  const auto messages = mark.Messages();
  ASSERT_GE(messages.size(), 5u);
  EXPECT_EQ(messages[0], "Creating filter object from filter definition ...");
  EXPECT_EQ(messages[4],
            "( ( EventID = 4625 ) OR ( EventID = 4771 ) ) AND ( User LIKE "
            "'adm%' )");
  EXPECT_EQ(messages.back(), "Destroying compound expression");
}

TEST(HostApiTest, CreateInitRelease) {
  IFilter* filter = CreateFilter();
  ASSERT_NE(filter, nullptr);
  memhost::MemoryDataRow row;
  EXPECT_TRUE(filter->IsMatch(&row));  // never initialised
  filter->Init(nullptr);
  EXPECT_TRUE(filter->IsMatch(&row));
  filter->InitFromDefinition(nullptr);
  filter->Release();
  DestroyFilter(nullptr);
}

}  // namespace
