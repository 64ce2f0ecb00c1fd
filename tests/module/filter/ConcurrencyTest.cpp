#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "TestLog.h"
#include "filtermodule/FilterModule.h"
#include "log/DiagnosticLog.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;

// Eight threads build, match and destroy their own filters at once, the
// first messages of the process among them: the log opens once and every
// record arrives whole.
TEST(ConcurrencyTest, SeparateFiltersOnEightThreads) {
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::atomic<int> matched{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) {
      }
      memhost::MemoryFilterLineList lines(
          {LineSpec{.open = 1,
                    .field = u"Id",
                    .op = kOpEquals,
                    .value = std::u16string(1, u'0' + t),
                    .type = kTypeNumeric,
                    .link = kLinkOr},
           LineSpec{.field = u"User",
                    .op = kOpLike,
                    .value = u"adm%",
                    .close = 1,
                    .link = kLinkAnd},
           LineSpec{.field = u"Tags",
                    .op = kOpContains,
                    .value = u"x",
                    .link = kLinkAnd,
                    .has_tag = true,
                    .tag = u"Sev"}});
      memhost::MemoryFilterDefinition definition(&lines);
      for (int round = 0; round < 20; ++round) {
        lines.ResetBrackets();
        IFilter* filter = CreateFilterFromFilterDefinition(&definition);
        memhost::MemoryDataRow row;
        for (int i = 0; i < 50; ++i) {
          row.SetInteger(u"Id", i % 10);
          row.SetText(u"User", i % 2 ? u"Administrator" : u"guest");
          row.SetText(u"Tags", u"@sev@xx~sev~");
          if (filter->IsMatch(&row)) matched.fetch_add(1);
        }
        INumericIntervalCollection* set = filter->GetNumericIntervals(u"Id");
        set->Release();
        DestroyFilter(filter);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_LE(DiagnosticLogOpenAttempts(), 1);
  EXPECT_GT(matched.load(), 0);
  for (const testlog::Record& r : testlog::ReadAll()) {
    EXPECT_EQ(r.source, "FilterModule");
    EXPECT_TRUE(r.level == "TRACE" || r.level == "ERROR") << r.level;
    EXPECT_EQ(r.timestamp.size(), 23u);
  }
}

}  // namespace
}  // namespace filtermodule
