// A filter is built whole or refused, by what the module wrote while
// building it on this thread: builds on other threads at the same time, and
// whatever happens to the log file, change nothing.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "decide/BuiltFilter.h"
#include "decide/ModuleLog.h"
#include "query/ConditionLine.h"

namespace eventquery {
namespace {

// Id = 1, with the second of three lines nested deeper than the module
// builds when `deep`.
std::vector<ConditionLine> Lines(bool deep) {
  std::vector<ConditionLine> lines(3);
  for (ConditionLine& line : lines) {
    line.field = u"Id";
    line.value = u"1";
    line.type = kTypeNumeric;
  }
  if (deep) {
    lines[1].open = 200;
    lines[2].close = 200;
  }
  return lines;
}

TEST(BuiltFilterTest, EachThreadSeesOnlyItsOwnBuildErrors) {
  ModuleLog::Setup(std::getenv("KVAL_LOG_FOLDER"), false);
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < 25; ++i) {
        const bool deep = (t + i) % 2 == 0;
        try {
          BuiltFilter filter(Lines(deep));
          if (deep) ++wrong;
        } catch (const BuildError& e) {
          if (!deep ||
              std::string(e.what()).find("FLTPopCmpdExpr - unknown error.") ==
                  std::string::npos)
            ++wrong;
        }
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(BuiltFilterTest, TheInnermostCaptureTakesTheRecords) {
  ModuleLog::Setup(std::getenv("KVAL_LOG_FOLDER"), false);
  LogCapture outer;
  EXPECT_THROW(BuiltFilter filter(Lines(true)), BuildError);
  for (const LogRecord& record : outer.records())
    EXPECT_NE(record.message, "FLTPopCmpdExpr - unknown error.");
}

}  // namespace
}  // namespace eventquery
