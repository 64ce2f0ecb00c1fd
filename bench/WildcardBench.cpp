// The wildcard matcher against glibc fnmatch(3) with FNM_NOESCAPE, side by
// side: a corpus of typical LIKE patterns over event texts (where the two
// agree), and adversarial patterns.
//
//   build/release/bench/wildcard_bench

#include <benchmark/benchmark.h>
#include <fnmatch.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "expression/Wildcard.h"

namespace {

struct Pair {
  std::string pattern, text;
  std::u16string wpattern, wtext;
};

std::u16string Wide(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<Pair> MakeCorpus() {
  const std::vector<std::string> patterns = {
      "adm*",    "*.exe",          "*logon*",
      "?ser*",   "[a-c]*",         "*failed*logon*",
      "svc_???", "*\\system32\\*", "dc0[1-4].corp*",
      "*[!0-9]", "an account*",    "*@severity@high~severity~*"};
  const std::vector<std::string> texts = {
      "administrator",
      "c:\\windows\\system32\\svchost.exe",
      "an account failed to log on",
      "user logon failed: unknown user name or bad password",
      "svc_sql",
      "dc03.corp.example.com",
      "bob",
      "@logon@interactive~logon~@severity@high~severity~@user@alice~user~",
      "the audit log was cleared by an administrator account from host ws0142",
  };
  std::vector<Pair> corpus;
  for (const auto& p : patterns)
    for (const auto& t : texts) corpus.push_back({p, t, Wide(p), Wide(t)});
  // Only pairs on which the two matchers agree are timed.
  std::vector<Pair> agreed;
  for (const auto& c : corpus) {
    const bool ours =
        filtermodule::MatchWildcard(c.wpattern.c_str(), c.wtext.c_str());
    const bool theirs =
        fnmatch(c.pattern.c_str(), c.text.c_str(), FNM_NOESCAPE) == 0;
    if (ours == theirs) agreed.push_back(c);
  }
  return agreed;
}

const std::vector<Pair>& Corpus() {
  static const std::vector<Pair> corpus = MakeCorpus();
  return corpus;
}

void BM_Typical_Ours(benchmark::State& state) {
  const auto& corpus = Corpus();
  size_t matches = 0;
  for (auto _ : state)
    for (const auto& c : corpus)
      matches +=
          filtermodule::MatchWildcard(c.wpattern.c_str(), c.wtext.c_str());
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(corpus.size()));
}
BENCHMARK(BM_Typical_Ours);

void BM_Typical_Fnmatch(benchmark::State& state) {
  const auto& corpus = Corpus();
  size_t matches = 0;
  for (auto _ : state)
    for (const auto& c : corpus)
      matches += fnmatch(c.pattern.c_str(), c.text.c_str(), FNM_NOESCAPE) == 0;
  benchmark::DoNotOptimize(matches);
  state.SetItemsProcessed(state.iterations() *
                          static_cast<int64_t>(corpus.size()));
}
BENCHMARK(BM_Typical_Fnmatch);

// "*a*a*...*b" (n stars) against a run of "a": exponential for naive
// backtracking.
std::string StarPattern(int stars) {
  std::string p;
  for (int i = 0; i < stars; ++i) p += "*a";
  return p + "*b";
}

void BM_Stars_Ours(benchmark::State& state) {
  const std::u16string p = Wide(StarPattern(static_cast<int>(state.range(0))));
  const std::u16string t(static_cast<size_t>(state.range(1)), u'a');
  for (auto _ : state)
    benchmark::DoNotOptimize(filtermodule::MatchWildcard(p.c_str(), t.c_str()));
}
BENCHMARK(BM_Stars_Ours)->Args({4, 100})->Args({12, 100})->Args({12, 10000});

void BM_Stars_Fnmatch(benchmark::State& state) {
  const std::string p = StarPattern(static_cast<int>(state.range(0)));
  const std::string t(static_cast<size_t>(state.range(1)), 'a');
  for (auto _ : state)
    benchmark::DoNotOptimize(fnmatch(p.c_str(), t.c_str(), FNM_NOESCAPE));
}
// fnmatch backtracks per star: beyond a few stars on long texts it does
// not finish in useful time, so only the small cases are timed.
BENCHMARK(BM_Stars_Fnmatch)->Args({4, 100})->Args({12, 100})->Args({12, 10000});

void BM_ManyStars_Ours(benchmark::State& state) {
  const std::u16string p(100000, u'*');
  const std::u16string pb = p + u"b";
  const std::u16string t(1000, u'a');
  for (auto _ : state) {
    benchmark::DoNotOptimize(filtermodule::MatchWildcard(p.c_str(), t.c_str()));
    benchmark::DoNotOptimize(
        filtermodule::MatchWildcard(pb.c_str(), t.c_str()));
  }
}
BENCHMARK(BM_ManyStars_Ours);

void BM_ManyStars_Fnmatch(benchmark::State& state) {
  const std::string p(100000, '*');
  const std::string pb = p + "b";
  const std::string t(1000, 'a');
  for (auto _ : state) {
    benchmark::DoNotOptimize(fnmatch(p.c_str(), t.c_str(), FNM_NOESCAPE));
    benchmark::DoNotOptimize(fnmatch(pb.c_str(), t.c_str(), FNM_NOESCAPE));
  }
}
BENCHMARK(BM_ManyStars_Fnmatch);

void BM_BigSet_Ours(benchmark::State& state) {
  std::u16string p = u"*[";
  for (int i = 0; i < 100000; ++i)
    p.push_back(static_cast<char16_t>(u'a' + i % 20));
  p += u"z]";
  const std::u16string t(100, u'x');
  for (auto _ : state)
    benchmark::DoNotOptimize(filtermodule::MatchWildcard(p.c_str(), t.c_str()));
}
BENCHMARK(BM_BigSet_Ours);

void BM_BigSet_Fnmatch(benchmark::State& state) {
  std::string p = "*[";
  for (int i = 0; i < 100000; ++i) p.push_back(static_cast<char>('a' + i % 20));
  p += "z]";
  const std::string t(100, 'x');
  for (auto _ : state)
    benchmark::DoNotOptimize(fnmatch(p.c_str(), t.c_str(), FNM_NOESCAPE));
}
BENCHMARK(BM_BigSet_Fnmatch);

}  // namespace

int main(int argc, char** argv) {
  std::printf("typical corpus: %zu pattern/text pairs on which both agree\n",
              Corpus().size());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
