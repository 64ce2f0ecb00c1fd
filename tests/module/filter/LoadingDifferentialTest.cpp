// Differential test of row matching: the filter that loads typed values and
// compares them natively against the earlier filter (kept in tests/legacy/
// as an oracle), which rendered every loaded value as text and compared
// texts. On random filters and random rows both must give the same answers,
// make the same accessor calls in the same order, write the same log lines,
// see the same row texts and zero-filled values, and derive the same
// interval sets.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "FilterInternals.h"
#include "TestLog.h"
#include "common/Utf8.h"
#include "filter/Filter.h"
#include "legacy/LegacyFilter.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;
using memhost::MemoryDataRow;

// A row that records its accessor calls and may answer any value kind.
class TracingRow : public MemoryDataRow {
 public:
  int32_t kind = 1;
  std::vector<std::string> calls;
  int32_t GetValueKind(const char16_t* f) override {
    Log("kind", f);
    return kind;
  }
  const char16_t* GetText(const char16_t* f) override {
    return Log("text", f), MemoryDataRow::GetText(f);
  }
  RowTime GetTime(const char16_t* f) override {
    return Log("time", f), MemoryDataRow::GetTime(f);
  }
  RowDate GetDate(const char16_t* f) override {
    return Log("date", f), MemoryDataRow::GetDate(f);
  }
  int32_t GetInteger(const char16_t* f) override {
    return Log("integer", f), MemoryDataRow::GetInteger(f);
  }
  double GetReal(const char16_t* f) override {
    return Log("real", f), MemoryDataRow::GetReal(f);
  }

 private:
  void Log(const char* what, const char16_t* f) {
    calls.push_back(std::string(what) + ":" + common::ToUtf8(f));
  }
};

const char16_t* const kNumbers[] = {
    u"5",    u"-5",  u"123",  u"0",     u"12.5", u"",   u"abc", u"+7",
    u"0005", u" 42", u"-0.5", u"99999", u"1e3",  u"5%", u"%1%", u"2147483647"};
const char16_t* const kTexts[] = {
    u"",    u"abc",   u"ABC",  u"a%c", u"a*",    u"[a-c]x",     u"b?", u"Ärger",
    u"xyz", u"today", u"%",    u"[",   u"@t@x",  u"last month", u"5",  u"Abc",
    u"%bc", u"%B%",   u"ab%%", u"%%",  u"ÄRGER", u"%rg%"};
const char16_t* const kDates[] = {u"1/1/2020", u"12/31/2099",   u"2/29/2024",
                                  u"today",    u"last 30 days", u"1/1/99999",
                                  u"7/4/2023", u"not a date"};
const char16_t* const kTimes[] = {u"8:00:00",  u"12:30", u"9:30 PM",
                                  u"23:59:59", u"12 am", u"0:00:00"};

struct Case {
  std::vector<LineSpec> lines;
};

LineSpec RandomLine(std::mt19937& rng) {
  LineSpec l;
  const int kind = static_cast<int>(rng() % 10);
  l.op = static_cast<FieldOperator>(rng() % 7);  // 6: unknown
  l.negate = rng() % 4 == 0;
  l.link = static_cast<LineLinkOperator>(rng() % 9 == 0 ? 5 : rng() % 4);
  if (kind < 3) {
    l.field = u"N";
    l.type = kTypeNumeric;
    l.value = kNumbers[rng() % 16];
  } else if (kind < 6) {
    l.field = rng() % 2 ? u"T" : u"REL_EXT_TAGS";
    l.type = kTypeText;
    l.value = kTexts[rng() % std::size(kTexts)];
  } else if (kind < 8) {
    l.field = u"D";
    l.type = kTypeDate;
    l.value = kDates[rng() % 8];
  } else if (kind < 9) {
    l.field = u"H";
    l.type = kTypeTime;
    l.value = kTimes[rng() % 6];
  } else {
    l.field = u"X";
    l.type = static_cast<FieldType>(7);  // unknown: nothing is loaded
    l.value = kTexts[rng() % std::size(kTexts)];
  }
  if (rng() % 6 == 0) {
    l.has_tag = true;
    l.tag = rng() % 2 ? u"t" : u"Severity";
  }
  return l;
}

void RandomRow(std::mt19937& rng, TracingRow& row) {
  row.Clear();
  row.calls.clear();
  row.kind = rng() % 4 == 0 ? 0 : 1;
  const int32_t integers[] = {5, -5, 123, 0, 7, 123456, -1, 2147483647};
  const double reals[] = {12.5, -0.5, 5.0, 0.1234567, 1e20, 7.25};
  row.SetInteger(u"N", integers[rng() % 8]);
  if (row.kind == 0) row.SetReal(u"N", reals[rng() % 6]);
  if (rng() % 5 != 0) row.SetText(u"T", kTexts[rng() % std::size(kTexts)]);
  if (rng() % 2) row.SetText(u"EXT_TAGS", u"@t@x~t~@Severity@high~Severity~");
  const RowDate dates[] = {{2026, 10, 31}, {2019, 12, 31}, {2020, 1, 2},
                           {1970, 1, 1},   {3000, 2, 29},  {32000, 1, 1},
                           {2024, 2, 29}};
  row.SetDate(u"D", dates[rng() % 7]);
  const RowTime times[] = {{0, 0, 0},    {12, 30, 0}, {21, 30, 0},
                           {23, 59, 59}, {8, 0, 1},   {25, 0, 0}};
  row.SetTime(u"H", times[rng() % 6]);
}

// Brackets: a random group around a run of lines, closed where it ends.
void Bracket(std::mt19937& rng, std::vector<LineSpec>& lines) {
  if (lines.size() < 2 || rng() % 2) return;
  const size_t first = rng() % lines.size();
  const size_t last = first + rng() % (lines.size() - first);
  lines[first].open += 1;
  lines[last].close += 1;
}

std::vector<std::string> IntervalsOf(IFilter* filter, const char16_t* field) {
  std::vector<std::string> out;
  INumericIntervalCollection* set = filter->GetNumericIntervals(field);
  for (uint32_t i = 0; i < set->GetCount(); ++i) {
    INumericInterval* x = set->GetAt(static_cast<int32_t>(i));
    out.push_back(std::to_string(x->GetLower()) + "," +
                  std::to_string(x->GetUpper()));
  }
  set->Release();
  return out;
}

// What one filter did with a sequence of rows.
struct RowsRun {
  std::vector<std::string> seen;  // results, calls, texts, intervals
  std::vector<std::string> messages;
};

template <typename F>
RowsRun RunRows(IFilter* filter, const std::vector<std::mt19937>& seeds,
                F&& texts) {
  RowsRun run;
  testlog::LogMark mark;
  for (std::mt19937 seed : seeds) {
    TracingRow row;
    RandomRow(seed, row);
    std::string outcome;
    try {
      outcome = filter->IsMatch(&row) ? "match" : "no match";
    } catch (const std::exception&) {
      outcome = "threw";
    }
    run.seen.push_back(outcome);
    for (const std::string& call : row.calls) run.seen.push_back(call);
    if (outcome == "threw") continue;
    texts(run.seen);
    for (const char16_t* field : {u"N", u"T", u"D"})
      for (const std::string& x : IntervalsOf(filter, field))
        run.seen.push_back("interval " + x);
  }
  run.messages = mark.Messages();
  return run;
}

// One random filter of 1 to `max_lines` lines with up to `groups` random
// bracketed groups (nested or side by side), run by both filters on the
// same 12 rows; results, accessor calls, texts, intervals and log lines
// must agree. Adds the number of things compared to `compared`.
void CompareOnRandomFilter(std::mt19937& rng, int max_lines, int groups,
                           size_t& compared) {
  std::vector<LineSpec> lines;
  const int count = 1 + static_cast<int>(rng() % max_lines);
  for (int i = 0; i < count; ++i) lines.push_back(RandomLine(rng));
  for (int g = 0; g < groups; ++g) Bracket(rng, lines);
  std::vector<std::mt19937> rows;
  for (int r = 0; r < 12; ++r) {
    rows.push_back(rng);
    rng.discard(50);
  }
  memhost::MemoryFilterLineList new_list(lines), old_list(lines);
  auto* current = static_cast<Filter*>(CreateFilter());
  current->Init(&new_list);
  auto* oracle = new legacy::Filter();
  static_cast<IFilter*>(oracle)->Init(&old_list);
  ASSERT_EQ(FilterInternals(current).root()->ToString(),
            oracle->root()->ToString());
  const size_t n = FilterInternals(current).conditions().size();
  ASSERT_EQ(n, oracle->simple_expressions().size());

  const RowsRun got = RunRows(current, rows, [&](std::vector<std::string>& s) {
    for (size_t i = 0; i < n; ++i) {
      s.push_back("row text " +
                  common::ToUtf8(FilterInternals(current).RowTextOf(i)));
      // The oracle rewrote "%" in the value of an evaluated LIKE.
      if (FilterInternals(current).conditions()[i]->GetFieldOperator() != 1)
        s.push_back("value " +
                    common::ToUtf8(FilterInternals(current).ValueOf(i)));
    }
  });
  const RowsRun want = RunRows(oracle, rows, [&](std::vector<std::string>& s) {
    for (size_t i = 0; i < n; ++i) {
      const auto& old = *oracle->simple_expressions()[i];
      s.push_back("row text " + common::ToUtf8(old.GetRowText()));
      if (old.GetFieldOperator() != 1)
        s.push_back("value " + common::ToUtf8(old.GetValue()));
    }
  });
  SCOPED_TRACE(common::ToUtf8(FilterInternals(current).root()->ToString()));
  EXPECT_EQ(got.seen, want.seen);
  EXPECT_EQ(got.messages, want.messages);
  compared += got.seen.size();
  DestroyFilter(current);
  static_cast<IFilter*>(oracle)->Release();
}

// Under valgrind every trial costs fifty times as much.
bool Slow() { return std::getenv("FM_UNDER_VALGRIND") != nullptr; }

TEST(LoadingDifferentialTest, NativeLoadingAgreesWithTheTextOracle) {
  std::mt19937 rng(1512);
  size_t compared = 0;
  const int trials = Slow() ? 20 : 200;
  for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    CompareOnRandomFilter(rng, 6, 1, compared);
  }
  EXPECT_GT(compared, Slow() ? 1000u : 10000u);
}

// The flat layout of the tree: groups in groups, side by side, empty ones
// (a group whose lines fail to build), every link operator.
TEST(LoadingDifferentialTest, FlatMatchingAgreesOnNestedGroups) {
  std::mt19937 rng(2718);
  size_t compared = 0;
  const int trials = Slow() ? 20 : 300;
  for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    CompareOnRandomFilter(rng, 12, 5, compared);
  }
  EXPECT_GT(compared, Slow() ? 1000u : 20000u);
}

// The tree alone (what decides when the flat layout cannot be made) on the
// row values IsMatch loaded: the same answer as the flat program, on every
// kind of slot.
TEST(LoadingDifferentialTest, TheTreeAloneAgreesWithTheFlatProgram) {
  std::mt19937 rng(4242);
  int compared = 0;
  const int trials = Slow() ? 20 : 300;
  for (int trial = 0; trial < trials && !HasFailure(); ++trial) {
    std::vector<LineSpec> lines;
    const int count = 1 + static_cast<int>(rng() % 8);
    for (int i = 0; i < count; ++i) lines.push_back(RandomLine(rng));
    for (int g = 0; g < 3; ++g) Bracket(rng, lines);
    memhost::MemoryFilterLineList list(lines);
    auto* filter = static_cast<Filter*>(CreateFilter());
    filter->Init(&list);
    const FilterInternals internals(filter);
    for (int r = 0; r < 12; ++r) {
      TracingRow row;
      RandomRow(rng, row);
      bool flat = false;
      try {
        flat = filter->IsMatch(&row);
      } catch (const std::exception&) {
        continue;  // the row could not be loaded
      }
      ASSERT_EQ(internals.EvalTree(), flat)
          << "trial " << trial << ": "
          << common::ToUtf8(internals.root()->ToString());
      ++compared;
    }
    DestroyFilter(filter);
  }
  EXPECT_GT(compared, Slow() ? 100 : 2000);
}

// One line, both filters, one text field set to each of `texts`: the
// results must agree. `what` names the line in a failure.
template <size_t N>
void ExpectSameAsOracle(const LineSpec& line, const char16_t* const (&texts)[N],
                        const std::string& what) {
  memhost::MemoryFilterLineList new_list({line}), old_list({line});
  IFilter* current = CreateFilter();
  current->Init(&new_list);
  auto* oracle = new legacy::Filter();
  static_cast<IFilter*>(oracle)->Init(&old_list);
  for (const char16_t* text : texts) {
    MemoryDataRow row;
    row.SetText(line.field.c_str(), text);
    EXPECT_EQ(current->IsMatch(&row),
              static_cast<IFilter*>(oracle)->IsMatch(&row))
        << what << " on '" << common::ToUtf8(text) << "'";
  }
  DestroyFilter(current);
  static_cast<IFilter*>(oracle)->Release();
}

// Text comparisons decided without the tree (equals, LIKE forms of one
// literal run: exact, prefix, suffix, infix; CONTAINS, short and long
// needles) against the oracle, on both
// sides of every boundary: the run at the start, at the end, the whole
// text, one unit short, case and non-ASCII folding, the empty text.
TEST(LoadingDifferentialTest, TextFastPathsAgreeWithTheOracle) {
  const char16_t* const patterns[] = {
      u"",     u"abc",  u"abc%",  u"%abc", u"%abc%", u"%",    u"%%",
      u"a%c",  u"ä%",   u"%Ä",    u"%b%",  u"b?",    u"[a]%", u"%bc%%",
      u"%%ab", u"ABC%", u"%ärg%", u"a",    u"%a",    u"a%"};
  const char16_t* const texts[] = {
      u"",     u"abc", u"ABC", u"xabc", u"abcx", u"xabcx", u"ab",
      u"bc",   u"b",   u"äbc", u"ÄBC",  u"xÄ",   u"Ärger", u"aBcBc",
      u"abab", u"a",   u"A",   u"ba",   u"cab",  u"bcab"};
  for (const FieldOperator op : {kOpEquals, kOpLike, kOpContains}) {
    for (const char16_t* pattern : patterns) {
      for (const bool negate : {false, true}) {
        LineSpec line;
        line.field = u"T";
        line.type = kTypeText;
        line.op = op;
        line.value = pattern;
        line.negate = negate;
        ExpectSameAsOracle(line, texts,
                           std::string("T ") +
                               (op == 0   ? "= '"
                                : op == 1 ? "LIKE '"
                                          : "CONTAINS '") +
                               common::ToUtf8(pattern) + "'" +
                               (negate ? " NOT" : ""));
      }
    }
  }
}

// Every tagged line of `op` with one of `values` under each of a few tags,
// on texts where the runs overlap, repeat or come in another order.
void ExpectTaggedAsOracle(FieldOperator op, const char* name,
                          std::initializer_list<const char16_t*> values) {
  const char16_t* const tags[] = {u"t", u"Severity", u"a*"};
  const char16_t* const texts[] = {u"@t@~t~",    u"@T@h~T~",
                                   u"@t@@~t~",   u"@severity@HIGH~severity~",
                                   u"~t~@t@x",   u"",
                                   u"@t@",       u"@a*@h~a*~",
                                   u"@ab@h~ab~", u"@t@t@~t~",
                                   u"@t@~t@~t~", u"@t~t~",
                                   u"@t@hh~t~",  u"@t@h~t~@t@h~t~",
                                   u"@t@h~x~t~"};
  for (const char16_t* tag : tags) {
    for (const char16_t* value : values) {
      LineSpec line;
      line.field = u"EXT_TAGS";
      line.type = kTypeText;
      line.op = op;
      line.value = value;
      line.has_tag = true;
      line.tag = tag;
      ExpectSameAsOracle(line, texts,
                         "EXT_TAGS@" + common::ToUtf8(tag) + " " + name + " '" +
                             common::ToUtf8(value) + "'");
    }
  }
}

// A tagged CONTAINS is found as its runs in order ("@t@", the value,
// "~t~"), each after the one before; tags or values with wildcard
// characters take the general matcher.
TEST(LoadingDifferentialTest, TaggedContainsAgreesWithTheOracle) {
  ExpectTaggedAsOracle(kOpContains, "CONTAINS",
                       {u"", u"@", u"h", u"t@", u"~", u"x?", u"~t"});
}

// A tagged LIKE without "?" or sets is found as its runs between "*"s, in
// order; with them it takes the general matcher.
TEST(LoadingDifferentialTest, TaggedLikeAgreesWithTheOracle) {
  ExpectTaggedAsOracle(kOpLike, "LIKE",
                       {u"", u"h*", u"*", u"h*h", u"*~", u"*@", u"?*", u"[h]*",
                        u"~t~*@t@", u"H"});
}

}  // namespace
}  // namespace filtermodule
