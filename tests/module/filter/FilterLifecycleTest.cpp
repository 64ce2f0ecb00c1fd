#include <gtest/gtest.h>

#include "FilterInternals.h"
#include "TestLog.h"
#include "filter/Filter.h"
#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;
using memhost::MemoryDataRow;
using memhost::MemoryFilterDefinition;
using memhost::MemoryFilterLineList;
using testlog::LogMark;
using Messages = std::vector<std::string>;

class ThrowingDefinition : public IFilterDefinition {
 public:
  IFilterLineList* GetLineList() override { throw std::runtime_error("no"); }
};

TEST(FilterLifecycleTest, CreateInitAndDestroyWriteTheirLines) {
  LogMark mark;
  MemoryFilterDefinition definition(nullptr);
  IFilter* filter = CreateFilterFromFilterDefinition(&definition);
  ASSERT_NE(filter, nullptr);
  DestroyFilter(filter);
  EXPECT_EQ(mark.Messages(),
            (Messages{"Creating filter object from filter definition ...",
                      "Initializing filter object ...",
                      "Initializing filter ...", "Initializing filter ...",
                      "Filter initialized ...", "Destroying filter object ...",
                      "Destroying compound expression"}));
}

TEST(FilterLifecycleTest, NullDefinitionLeavesTheFilterUninitialised) {
  IFilter* filter = CreateFilterFromFilterDefinition(nullptr);
  ASSERT_NE(filter, nullptr);
  LogMark mark;
  MemoryDataRow row;
  EXPECT_TRUE(filter->IsMatch(&row));
  EXPECT_EQ(mark.Messages(), (Messages{"FLTIsMatch - Filter not initialized.",
                                       "FLTIsMatch - Row matched."}));
  EXPECT_EQ(mark.Records()[0].level, "ERROR");
  filter->Release();
}

TEST(FilterLifecycleTest, CreateThenDestroyHasNoTree) {
  LogMark mark;
  DestroyFilter(CreateFilter());
  DestroyFilter(nullptr);
  EXPECT_EQ(mark.Messages(), (Messages{"Initializing filter object ...",
                                       "Destroying filter object ..."}));
}

TEST(FilterLifecycleTest, FailingDefinitionIsCaught) {
  ThrowingDefinition definition;
  LogMark mark;
  IFilter* filter = CreateFilterFromFilterDefinition(&definition);
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(
      mark.Count("Unexpected exception on init filter from filter def ..."), 1);
  EXPECT_FALSE(static_cast<Filter*>(filter)->initialised());
  DestroyFilter(filter);
}

TEST(FilterLifecycleTest, NullLineListGivesAnEmptyRootMatchingEverything) {
  IFilter* filter = CreateFilter();
  LogMark mark;
  filter->Init(nullptr);
  EXPECT_EQ(mark.Messages(), Messages{"Initializing filter ..."});
  auto* ours = static_cast<Filter*>(filter);
  EXPECT_TRUE(ours->initialised());
  ASSERT_NE(FilterInternals(ours).root(), nullptr);
  EXPECT_EQ(FilterInternals(ours).root()->GetChildren().Count(), 0u);
  EXPECT_TRUE(filter->IsMatch(nullptr));  // nothing to load
  filter->Release();
}

TEST(FilterLifecycleTest, DestroyingAGroupedTreeWritesPreOrder) {
  MemoryFilterLineList lines({LineSpec{.open = 1, .field = u"A", .close = 1}});
  IFilter* filter = CreateFilter();
  filter->Init(&lines);
  LogMark mark;
  DestroyFilter(filter);
  EXPECT_EQ(mark.Messages(), (Messages{"Destroying filter object ...",
                                       "Destroying compound expression",
                                       "Destroying compound expression"}));
}

TEST(FilterLifecycleTest, ForeignFilterIsNotDestroyed) {
  class Foreign : public IFilter {
   public:
    void InitFromDefinition(IFilterDefinition*) override {}
    void Init(IFilterLineList*) override {}
    bool IsMatch(IDataRow*) override { return false; }
    INumericIntervalCollection* GetNumericIntervals(const char16_t*) override {
      return nullptr;
    }
    void Release() override { released = true; }
    bool released = false;
  } foreign;
  LogMark mark;
  DestroyFilter(&foreign);
  EXPECT_FALSE(foreign.released);
  EXPECT_EQ(mark.Count("Unexpected exception when destroying filter"), 1);
}

TEST(FilterLifecycleTest, IntervalsWithoutATreeAreTheWholeRange) {
  IFilter* filter = CreateFilter();
  INumericIntervalCollection* set = filter->GetNumericIntervals(u"F");
  ASSERT_NE(set, nullptr);
  ASSERT_EQ(set->GetCount(), 1u);
  EXPECT_EQ(set->GetAt(0)->GetLower(), -2147483647 - 1);
  EXPECT_EQ(set->GetAt(0)->GetUpper(), 2147483647);
  set->Release();
  set = filter->GetNumericIntervals(nullptr);
  EXPECT_EQ(set->GetCount(), 1u);
  set->Release();
  filter->Release();
}

}  // namespace
}  // namespace filtermodule
