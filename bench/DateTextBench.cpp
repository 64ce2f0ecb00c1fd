// Per-call cost of the date and time readers: the direct path against the
// calendar conversion and formatting path that it replaces.
//
//   build/release/bench/datetext_bench

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "expression/DateText.h"

namespace {

std::vector<std::u16string> Dates() {
  std::vector<std::u16string> dates;
  for (int m = 1; m <= 12; ++m)
    for (int d = 1; d <= 28; d += 3) {
      const std::string s =
          std::to_string(m) + "/" + std::to_string(d) + "/2026";
      dates.emplace_back(s.begin(), s.end());
    }
  return dates;
}

void BM_NormalizeDate_Direct(benchmark::State& state) {
  const auto dates = Dates();
  std::u16string out;
  for (auto _ : state)
    for (const auto& d : dates) {
      filtermodule::NormalizeDateInto(d, out);
      benchmark::DoNotOptimize(out.data());
    }
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(dates.size()));
}
BENCHMARK(BM_NormalizeDate_Direct);

void BM_NormalizeDate_Conversion(benchmark::State& state) {
  const auto dates = Dates();
  for (auto _ : state)
    for (const auto& d : dates)
      benchmark::DoNotOptimize(filtermodule::NormalizeDateByConversion(d));
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(dates.size()));
}
BENCHMARK(BM_NormalizeDate_Conversion);

void BM_NormalizeTime_Direct(benchmark::State& state) {
  const std::u16string time = u"11:59:59 pm";
  std::u16string out;
  for (auto _ : state) {
    filtermodule::NormalizeTimeInto(time, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NormalizeTime_Direct);

void BM_NormalizeTime_Conversion(benchmark::State& state) {
  const std::u16string time = u"11:59:59 pm";
  for (auto _ : state)
    benchmark::DoNotOptimize(filtermodule::NormalizeTimeByConversion(time));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NormalizeTime_Conversion);

}  // namespace

BENCHMARK_MAIN();
