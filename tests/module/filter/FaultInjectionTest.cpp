// Allocation failures at every step: the N-th allocation of building,
// matching, deriving intervals and logging fails, for N = 1, 2, ... until
// the scenario runs through. Each failure must end in the promised
// behaviour (a caught failure, or std::bad_alloc reaching the host from
// IsMatch or GetNumericIntervals), never in a crash, a leak (the asan build
// checks) or a half-built filter that misbehaves later.

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <set>

#include "AllocationHooks.h"
#include "FilterInternals.h"
#include "filter/Filter.h"
#include "log/DiagnosticLog.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;

// Every condition in the tree is in the flat list, once, and the reverse.
void ExpectConsistent(Filter& filter) {
  std::set<const FilterSimpleExpression*> in_tree;
  std::function<void(const FilterCompoundExpression&)> walk =
      [&](const FilterCompoundExpression& c) {
        for (size_t i = 0; i < c.GetChildren().Count(); ++i) {
          const FilterExpression& child = c.GetChildren().At(i);
          if (auto* simple =
                  dynamic_cast<const FilterSimpleExpression*>(&child))
            in_tree.insert(simple);
          else
            walk(static_cast<const FilterCompoundExpression&>(child));
        }
      };
  const FilterInternals internals(&filter);
  if (internals.root() != nullptr) walk(*internals.root());
  const auto& list = internals.conditions();
  EXPECT_EQ(std::set<const FilterSimpleExpression*>(list.begin(), list.end()),
            in_tree);
  EXPECT_EQ(list.size(), in_tree.size());
}

std::vector<LineSpec> Lines() {
  return {LineSpec{.open = 1,
                   .field = u"EventID",
                   .op = kOpEquals,
                   .value = u"4625",
                   .type = kTypeNumeric,
                   .link = kLinkOr},
          LineSpec{.field = u"User",
                   .op = kOpLike,
                   .value = u"administrator%",
                   .close = 1},
          LineSpec{.field = u"EXT_TAGS",
                   .op = kOpContains,
                   .value = u"a long value to search",
                   .has_tag = true,
                   .tag = u"SeverityOfTheEvent"},
          LineSpec{.field = u"Received",
                   .op = kOpGreater,
                   .value = u"1/1/2020",
                   .type = kTypeDate},
          LineSpec{.field = u"Time",
                   .op = kOpLess,
                   .value = u"11:00:00 PM",
                   .type = kTypeTime,
                   .negate = true}};
}

TEST(FaultInjectionTest, EveryAllocationMayFail) {
  if (!allochooks::Active()) GTEST_SKIP() << "allocation hooks replaced";
  // The log opens before: a failed open is retried only a second later,
  // which would silence the tests that follow in this process.
  WriteLog(kLogTrace, u"fault injection starts");
  uint64_t n = 1;
  int injected = 0;
  for (; n < 20000; ++n) {
    memhost::MemoryFilterLineList lines(Lines());
    memhost::MemoryFilterDefinition definition(&lines);
    memhost::MemoryDataRow row;
    row.SetInteger(u"EventID", 4625);
    row.SetText(u"User", u"Administrator of everything here");
    row.SetText(
        u"EXT_TAGS",
        u"@severityoftheevent@a long value to search~severityoftheevent~");
    row.SetDate(u"Received", RowDate{2026, 12, 8});
    row.SetTime(u"Time", RowTime{23, 30, 0});
    bool failed_to_host = false;
    allochooks::FailAt(n);
    IFilter* filter = CreateFilterFromFilterDefinition(&definition);
    if (filter != nullptr) {
      try {
        filter->IsMatch(&row);
        filter->IsMatch(&row);
      } catch (const std::bad_alloc&) {
        failed_to_host = true;
      }
      try {
        INumericIntervalCollection* set =
            filter->GetNumericIntervals(u"EventID");
        set->Release();
      } catch (const std::bad_alloc&) {
        failed_to_host = true;
      }
    }
    const bool happened = allochooks::FailureHappened();
    allochooks::FailAt(0);
    injected += happened;
    if (filter == nullptr) {
      EXPECT_TRUE(happened);  // creation failed and said so
      continue;
    }
    auto* ours = static_cast<Filter*>(filter);
    ExpectConsistent(*ours);
    // Whatever was built answers again, without failures now.
    if (ours->initialised() && FilterInternals(ours).conditions().size() == 5) {
      EXPECT_TRUE(filter->IsMatch(&row)) << "after failing allocation " << n;
    } else {
      filter->IsMatch(&row);
    }
    EXPECT_TRUE(happened || !failed_to_host);
    DestroyFilter(filter);
    if (!happened) break;  // past the scenario's last allocation
  }
  EXPECT_LT(n, 20000u);
  RecordProperty("allocations_tried", static_cast<int>(n));
  EXPECT_GT(injected, 50);
}

}  // namespace
}  // namespace filtermodule
