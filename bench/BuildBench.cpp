// What a filter costs before its first row: building it from n condition
// lines, and deriving the intervals of a numeric field from an OR of n
// values and from (OR of n) AND (OR of n). Both should grow linearly (or
// as n log n) with n.
//
//   build/release/bench/build_bench [google benchmark flags]
//
// The module writes the filter's text form to its log on every build; set
// KVAL_LOG_FOLDER to keep that log out of the way.

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryFilterLines.h"

namespace {

using filtermodule::kLinkOr;
using filtermodule::kOpEquals;
using filtermodule::kTypeNumeric;
using filtermodule::LineLinkOperator;
using memhost::LineSpec;

// F = 0 OR F = 7 OR ... : n numeric equals lines, values out of order.
std::vector<LineSpec> OrOfValues(int64_t n,
                                 LineLinkOperator link_after = kLinkOr) {
  std::vector<LineSpec> lines;
  lines.reserve(static_cast<size_t>(n));
  for (int64_t i = 0; i < n; ++i) {
    LineSpec line;
    line.field = u"F";
    line.op = kOpEquals;
    line.type = kTypeNumeric;
    const int64_t value = (i * 7919) % (n * 3 + 1);
    const std::string text = std::to_string(value);
    line.value.assign(text.begin(), text.end());
    line.link = i + 1 < n ? kLinkOr : link_after;
    lines.push_back(line);
  }
  return lines;
}

IFilter* Build(const std::vector<LineSpec>& lines) {
  memhost::MemoryFilterLineList list(lines);
  memhost::MemoryFilterDefinition definition(&list);
  return CreateFilterFromFilterDefinition(&definition);
}

void BM_Build(benchmark::State& state) {
  const std::vector<LineSpec> lines = OrOfValues(state.range(0));
  for (auto _ : state) {
    IFilter* filter = Build(lines);
    benchmark::DoNotOptimize(filter);
    DestroyFilter(filter);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Build)
    ->RangeMultiplier(10)
    ->Range(1000, 100000)
    ->Arg(200000)
    ->Unit(benchmark::kMillisecond);

void BM_IntervalsOfOr(benchmark::State& state) {
  IFilter* filter = Build(OrOfValues(state.range(0)));
  for (auto _ : state) {
    INumericIntervalCollection* set = filter->GetNumericIntervals(u"F");
    benchmark::DoNotOptimize(set->GetCount());
    set->Release();
  }
  DestroyFilter(filter);
}
BENCHMARK(BM_IntervalsOfOr)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Unit(benchmark::kMillisecond);

// (F = a1 OR ...) AND (F = b1 OR ...): two bracketed groups.
void BM_IntervalsOfOrAndOr(benchmark::State& state) {
  std::vector<LineSpec> lines =
      OrOfValues(state.range(0), filtermodule::kLinkAnd);
  lines.front().open = 1;
  lines.back().close = 1;
  std::vector<LineSpec> second = OrOfValues(state.range(0));
  second.front().open = 1;
  second.back().close = 1;
  lines.insert(lines.end(), second.begin(), second.end());
  IFilter* filter = Build(lines);
  for (auto _ : state) {
    INumericIntervalCollection* set = filter->GetNumericIntervals(u"F");
    state.counters["intervals"] = set->GetCount();
    set->Release();
  }
  DestroyFilter(filter);
}
BENCHMARK(BM_IntervalsOfOrAndOr)
    ->RangeMultiplier(10)
    ->Range(100, 10000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
