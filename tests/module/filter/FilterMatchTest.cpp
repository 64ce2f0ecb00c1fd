#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "FilterInternals.h"
#include "TestLog.h"
#include "common/Utf8.h"
#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "filter/Filter.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;
using memhost::MemoryDataRow;
using memhost::MemoryFilterLineList;
using testlog::LogMark;

// Records the accessor calls the matcher makes.
class RecordingRow : public MemoryDataRow {
 public:
  int32_t GetValueKind(const char16_t* f) override {
    return Log("GetValueKind", f), MemoryDataRow::GetValueKind(f);
  }
  const char16_t* GetText(const char16_t* f) override {
    return Log("GetText", f), MemoryDataRow::GetText(f);
  }
  RowTime GetTime(const char16_t* f) override {
    return Log("GetTime", f), MemoryDataRow::GetTime(f);
  }
  RowDate GetDate(const char16_t* f) override {
    return Log("GetDate", f), MemoryDataRow::GetDate(f);
  }
  int32_t GetInteger(const char16_t* f) override {
    return Log("GetInteger", f), MemoryDataRow::GetInteger(f);
  }
  double GetReal(const char16_t* f) override {
    return Log("GetReal", f), MemoryDataRow::GetReal(f);
  }
  void SetKind(int32_t kind) { kind_ = kind; }
  std::vector<std::string> calls;
  int32_t kind_ = -100;

 private:
  void Log(const char* what, const char16_t* field) {
    calls.push_back(std::string(what) + "(" + common::ToUtf8(field) + ")");
  }
};

// A filter built from lines, released at the end.
class Built {
 public:
  explicit Built(const std::vector<LineSpec>& line_data) : lines_(line_data) {
    filter_ = static_cast<Filter*>(CreateFilter());
    filter_->Init(&lines_);
  }
  ~Built() { filter_->Release(); }
  Filter* operator->() { return filter_; }
  FilterInternals Internals() { return FilterInternals(filter_); }
  const FilterSimpleExpression& Condition(size_t i) {
    return *FilterInternals(filter_).conditions()[i];
  }
  // What condition `i` compared for the last row.
  std::u16string RowText(size_t i) {
    return FilterInternals(filter_).RowTextOf(i);
  }
  std::u16string Value(size_t i) { return FilterInternals(filter_).ValueOf(i); }

 private:
  MemoryFilterLineList lines_;
  Filter* filter_;
};

LineSpec Numeric(const char16_t* field, FieldOperator op, const char16_t* value,
                 LineLinkOperator link = kLinkAnd) {
  return LineSpec{.field = field,
                  .op = op,
                  .value = value,
                  .type = kTypeNumeric,
                  .link = link};
}

TEST(FilterMatchTest, RendersEveryFieldType) {
  Built f(
      {Numeric(u"N", kOpEquals, u"5"), LineSpec{.field = u"T", .op = kOpEquals},
       LineSpec{.field = u"D",
                .op = kOpEquals,
                .value = u"7/4/2023",
                .type = kTypeDate},
       LineSpec{
           .field = u"H", .op = kOpEquals, .value = u"1:00", .type = kTypeTime},
       LineSpec{
           .field = u"X", .op = kOpEquals, .type = static_cast<FieldType>(7)}});
  RecordingRow row;
  row.SetInteger(u"N", 123);
  row.SetText(u"T", u"Hello");
  row.SetDate(u"D", RowDate{2023, 7, 4});
  row.SetTime(u"H", RowTime{0, 5, 9});
  LogMark mark;
  f->IsMatch(&row);
  EXPECT_EQ(row.calls, (std::vector<std::string>{"GetValueKind(N)",
                                                 "GetInteger(N)", "GetText(T)",
                                                 "GetDate(D)", "GetTime(H)"}));
  EXPECT_EQ(f.RowText(0), u"123");
  EXPECT_EQ(f.Value(0), u"005");
  EXPECT_EQ(f.RowText(1), u"hello");
  EXPECT_EQ(f.RowText(2), u"04-07-2023");
  EXPECT_EQ(f.RowText(3), u"00-05-09");
  EXPECT_EQ(f.RowText(4), u"");
  EXPECT_EQ(mark.Count("FLTIsMatch - Unknown field type in expression."), 1);
}

TEST(FilterMatchTest, TimesOnATwelveHourClockRoundTrip) {
  Built f({LineSpec{.field = u"H", .op = kOpEquals, .type = kTypeTime}});
  MemoryDataRow row;
  for (uint16_t h = 0; h < 24; ++h) {
    row.SetTime(u"H", RowTime{h, 30, 0});
    f->IsMatch(&row);
    const std::u16string hh = {static_cast<char16_t>(u'0' + h / 10),
                               static_cast<char16_t>(u'0' + h % 10)};
    EXPECT_EQ(f.RowText(0), hh + u"-30-00") << h;
  }
}

TEST(FilterMatchTest, RealsUseSixDecimals) {
  Built f({Numeric(u"N", kOpLess, u"13")});
  RecordingRow row;
  row.SetReal(u"N", 12.5);
  EXPECT_TRUE(f->IsMatch(&row));  // 12.5 < 13 by value
  EXPECT_EQ(f.RowText(0), u"12.500000");
  EXPECT_EQ(f.Value(0), u"000000013");
  EXPECT_EQ(row.calls,
            (std::vector<std::string>{"GetValueKind(N)", "GetReal(N)"}));
}

// A value with no digit before its point, or none after it, is the number
// it names, against integers and reals, before and after zero-fill.
TEST(FilterMatchTest, ValuesWithADigitOnOneSideOfThePointAreNumbers) {
  struct Case {
    double row;  // an integer row when whole
    FieldOperator op;
    const char16_t* value;
    bool match;
  };
  const Case cases[] = {
      {0.75, kOpLess, u".5", false},     {0.75, kOpGreater, u".5", true},
      {0.75, kOpEquals, u".5", false},   {0.75, kOpGreater, u"0.5", true},
      {0.5, kOpEquals, u".5", true},     {0.5, kOpEquals, u"+.5", true},
      {0.25, kOpLess, u"+.5", true},     {-0.5, kOpEquals, u"-.5", true},
      {-0.5, kOpLess, u"-.5", false},    {-0.75, kOpLess, u"-.5", true},
      {0, kOpGreater, u"-.5", true},     {0, kOpLess, u"+.5", true},
      {1, kOpGreater, u".5", true},      {5, kOpEquals, u"5.", true},
      {5, kOpGreater, u"5.", false},     {6, kOpGreater, u"5.", true},
      {4.5, kOpLess, u"5.", true},       {-5, kOpLess, u"-5.", false},
      {1234.5, kOpGreater, u".5", true}, {-1234, kOpLess, u"-.5", true},
  };
  for (const Case& c : cases) {
    Built f({Numeric(u"N", c.op, c.value)});
    MemoryDataRow row;
    if (c.row == static_cast<int32_t>(c.row))
      row.SetInteger(u"N", static_cast<int32_t>(c.row));
    else
      row.SetReal(u"N", c.row);
    EXPECT_EQ(f->IsMatch(&row), c.match)
        << c.row << " op " << c.op << " " << common::ToUtf8(c.value);
    // Once a long row has filled the value with zeros, the same answer.
    MemoryDataRow wide;
    wide.SetReal(u"N", 123456789.25);
    f->IsMatch(&wide);
    EXPECT_EQ(f->IsMatch(&row), c.match)
        << c.row << " op " << c.op << " " << common::ToUtf8(c.value)
        << " filled";
  }
}

TEST(FilterMatchTest, ZeroFillKeepsTheNumbersValue) {
  Built f({Numeric(u"N", kOpEquals, u"5")});
  MemoryDataRow row;
  row.SetInteger(u"N", 123);
  EXPECT_FALSE(f->IsMatch(&row));
  EXPECT_EQ(f.Value(0), u"005");
  row.SetInteger(u"N", 7);
  EXPECT_FALSE(f->IsMatch(&row));
  EXPECT_EQ(f.RowText(0), u"007");
  row.SetInteger(u"N", 5);
  EXPECT_TRUE(f->IsMatch(&row));
  // The text form is the tree's, as logged when it was built.
  EXPECT_EQ(f.Internals().root()->ToString(), u"( N = 5 )");

  Built g({Numeric(u"N", kOpEquals, u"-5")});
  row.SetInteger(u"N", 123);
  g->IsMatch(&row);
  EXPECT_EQ(g.Value(0), u"-05");
  row.SetInteger(u"N", -5);
  EXPECT_TRUE(g->IsMatch(&row));

  Built h({Numeric(u"N", kOpLess, u"123")});
  row.SetInteger(u"N", -5);
  EXPECT_TRUE(h->IsMatch(&row));
  EXPECT_EQ(h.RowText(0), u"-05");
  row.SetInteger(u"N", -10);
  h->IsMatch(&row);
  EXPECT_EQ(h.Value(0), u"123");  // same length: unchanged
}

TEST(FilterMatchTest, DatesAfterTheYear9999CompareChronologically) {
  Built later({LineSpec{.field = u"D",
                        .op = kOpGreater,
                        .value = u"1/1/99999",
                        .type = kTypeDate}});
  Built earlier({LineSpec{
      .field = u"D", .op = kOpLess, .value = u"1/1/99999", .type = kTypeDate}});
  MemoryDataRow row;
  row.SetDate(u"D", RowDate{2026, 10, 31});
  EXPECT_FALSE(later->IsMatch(&row));
  EXPECT_TRUE(earlier->IsMatch(&row));
  row.SetDate(u"D", RowDate{32000, 1, 1});  // the text path: 5 digits
  EXPECT_FALSE(later->IsMatch(&row));
  EXPECT_TRUE(earlier->IsMatch(&row));
  EXPECT_EQ(earlier.RowText(0), u"01-01-32000");
}

// Every year a row can carry (16 bits) against condition years up to the
// largest a value can name (2^31-1): chronological on both sides of 9999.
TEST(FilterMatchTest, DatesOfAnyYearCompareChronologically) {
  struct Year {
    const char16_t* value;
    int64_t year;
  };
  const Year values[] = {{u"12/31/9999", 9999},
                         {u"1/1/10000", 10000},
                         {u"1/1/32767", 32767},
                         {u"1/1/842061986", 842061986},
                         {u"1/1/2147483647", 2147483647},
                         // Beyond 32 bits the year is held to 2^31-1, still
                         // after every year a row carries.
                         {u"1/1/99999999999", 2147483647}};
  const RowDate rows[] = {
      {2026, 12, 10}, {9999, 12, 31}, {10000, 1, 1}, {32767, 12, 31}};
  for (const Year& v : values) {
    Built before({LineSpec{
        .field = u"D", .op = kOpLess, .value = v.value, .type = kTypeDate}});
    Built after({LineSpec{
        .field = u"D", .op = kOpGreater, .value = v.value, .type = kTypeDate}});
    Built same({LineSpec{
        .field = u"D", .op = kOpEquals, .value = v.value, .type = kTypeDate}});
    for (const RowDate& r : rows) {
      MemoryDataRow row;
      row.SetDate(u"D", r);
      // Value dates are 1 January or 31 December 9999.
      const int64_t row_key = int64_t{r.year} * 10000 + r.month * 100 + r.day;
      const int64_t value_key = v.year * 10000 + (v.year == 9999 ? 1231 : 101);
      EXPECT_EQ(before->IsMatch(&row), row_key < value_key)
          << common::ToUtf8(v.value) << " vs " << r.year;
      EXPECT_EQ(after->IsMatch(&row), row_key > value_key)
          << common::ToUtf8(v.value) << " vs " << r.year;
      EXPECT_EQ(same->IsMatch(&row), row_key == value_key)
          << common::ToUtf8(v.value) << " vs " << r.year;
    }
  }
}

TEST(FilterMatchTest, ValueKindOtherThanOneReadsReal) {
  class KindRow : public MemoryDataRow {
   public:
    int32_t kind = 0;
    int32_t GetValueKind(const char16_t*) override { return kind; }
    double GetReal(const char16_t*) override { return 2.25; }
  };
  Built f({Numeric(u"N", kOpEquals, u"2.25")});
  KindRow row;
  for (int32_t kind : {0, 2, -1}) {
    row.kind = kind;
    EXPECT_TRUE(f->IsMatch(&row)) << kind;
  }
}

// A row date whose day lies past its month's end (up to 31) rolls into the
// next month, as a value's m/d/yyyy does; a month, day or year that cannot
// be read throws from IsMatch, as does a time that does not exist, on both
// sides of every limit. The native and the text path roll alike.
TEST(FilterMatchTest, RowDatesRollOverAndImpossibleDatesAndTimesThrow) {
  Built noon({LineSpec{.field = u"H",
                       .op = kOpEquals,
                       .value = u"12:00:00 PM",
                       .type = kTypeTime}});
  MemoryDataRow row;
  for (const RowTime t : {RowTime{24, 0, 0}, RowTime{23, 60, 0},
                          RowTime{23, 59, 60}, RowTime{65535, 0, 0}}) {
    row.SetTime(u"H", t);
    EXPECT_THROW(noon->IsMatch(&row), std::runtime_error) << t.hour;
  }
  row.SetTime(u"H", RowTime{23, 59, 59});
  EXPECT_FALSE(noon->IsMatch(&row));
  row.SetTime(u"H", RowTime{12, 0, 0});
  EXPECT_TRUE(noon->IsMatch(&row));

  struct Rolled {
    RowDate date;
    const char16_t* as;  // the date it is read as, m/d/yyyy
    const char16_t* row_text;
  };
  const Rolled rolled[] = {
      {{2010, 2, 30}, u"3/2/2010", u"02-03-2010"},
      {{2026, 2, 29}, u"3/1/2026", u"01-03-2026"},
      {{2024, 2, 29}, u"2/29/2024", u"29-02-2024"},  // a leap day exists
      {{2024, 2, 30}, u"3/1/2024", u"01-03-2024"},
      {{2026, 4, 30}, u"4/30/2026", u"30-04-2026"},
      {{2026, 4, 31}, u"5/1/2026", u"01-05-2026"},
      {{2026, 12, 31}, u"12/31/2026", u"31-12-2026"},
      {{9999, 11, 31}, u"12/1/9999", u"01-12-9999"},
      {{32000, 2, 30}, u"3/1/32000", u"01-03-32000"},  // the text path
      {{32001, 2, 30}, u"3/2/32001", u"02-03-32001"},
  };
  for (const Rolled& r : rolled) {
    Built same({LineSpec{
        .field = u"D", .op = kOpEquals, .value = r.as, .type = kTypeDate}});
    Built later({LineSpec{
        .field = u"D", .op = kOpGreater, .value = r.as, .type = kTypeDate}});
    row.SetDate(u"D", r.date);
    EXPECT_TRUE(same->IsMatch(&row)) << common::ToUtf8(r.as);
    EXPECT_FALSE(later->IsMatch(&row)) << common::ToUtf8(r.as);
    EXPECT_EQ(same.RowText(0), r.row_text) << common::ToUtf8(r.as);
  }

  Built march({LineSpec{.field = u"D",
                        .op = kOpEquals,
                        .value = u"3/2/2026",
                        .type = kTypeDate}});
  for (const RowDate d :
       {RowDate{2026, 13, 1}, RowDate{2026, 0, 1}, RowDate{2026, 3, 0},
        RowDate{2026, 1, 32}, RowDate{2026, 2, 65535}, RowDate{0, 0, 0},
        RowDate{1899, 3, 2}, RowDate{-2026, 3, 2}, RowDate{1950, 2, 29},
        RowDate{32000, 1, 32}}) {
    row.SetDate(u"D", d);
    EXPECT_THROW(march->IsMatch(&row), std::runtime_error)
        << d.year << "-" << d.month << "-" << d.day;
  }
}

// A real NaN is unordered: equal to nothing, neither less nor greater, and
// NOT inverts that. Infinities lie beyond every value.
TEST(FilterMatchTest, NanComparesFalseAndInfinitiesLieBeyondEveryValue) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double real;
    FieldOperator op;
    const char16_t* value;
    bool match;
  };
  const Case cases[] = {
      {nan, kOpGreater, u"5", false},
      {nan, kOpGreater, u"1000000", false},
      {nan, kOpLess, u"-1000000", false},
      {nan, kOpLess, u"5", false},
      {nan, kOpEquals, u"5", false},
      {nan, kOpEquals, u"nan", false},
      {inf, kOpGreater, u"1000000", true},
      {inf, kOpLess, u"5", false},
      {-inf, kOpLess, u"-1000000", true},
      {-inf, kOpGreater, u"-1000000", false},
      {2.5, kOpGreater, u"2", true},
      {2.5, kOpLess, u"2", false},
  };
  for (const Case& c : cases) {
    class RealRow : public MemoryDataRow {
     public:
      double real = 0;
      int32_t GetValueKind(const char16_t*) override { return 2; }
      double GetReal(const char16_t*) override { return real; }
    } row;
    row.real = c.real;
    Built plain({Numeric(u"N", c.op, c.value)});
    LineSpec negated = Numeric(u"N", c.op, c.value);
    negated.negate = true;
    Built inverted({negated});
    EXPECT_EQ(plain->IsMatch(&row), c.match) << c.real << " " << c.op;
    EXPECT_EQ(inverted->IsMatch(&row), !c.match) << c.real << " " << c.op;
  }
}

TEST(FilterMatchTest, RelExtTagsFallsBackToExtTags) {
  Built f({LineSpec{.field = u"rel_Ext_TAGS",
                    .op = kOpContains,
                    .value = u"x",
                    .has_tag = true,
                    .tag = u"t"}});
  RecordingRow row;
  row.SetText(u"EXT_TAGS", u"@t@x~t~");
  EXPECT_TRUE(f->IsMatch(&row));
  EXPECT_EQ(row.calls, (std::vector<std::string>{"GetText(rel_Ext_TAGS)",
                                                 "GetText(EXT_TAGS)"}));
  row.SetText(u"rel_Ext_TAGS", u"@t@y~t~");
  EXPECT_FALSE(f->IsMatch(&row));
  Built g({LineSpec{.field = u"OTHER", .op = kOpEquals}});
  RecordingRow other;
  other.SetText(u"EXT_TAGS", u"x");
  EXPECT_TRUE(g->IsMatch(&other));  // empty equals empty; no fallback
  EXPECT_EQ(other.calls, std::vector<std::string>{"GetText(OTHER)"});
}

TEST(FilterMatchTest, RowsThatCannotBeLoadedReachTheHost) {
  Built f({LineSpec{.field = u"T", .op = kOpEquals, .value = u"a"},
           LineSpec{.field = u"D",
                    .op = kOpEquals,
                    .value = u"1/1/2020",
                    .type = kTypeDate}});
  MemoryDataRow row;
  row.SetText(u"T", u"loaded");
  LogMark mark;
  EXPECT_ANY_THROW(f->IsMatch(&row));  // a zero date record
  EXPECT_EQ(f.RowText(0), u"loaded");
  EXPECT_EQ(mark.Count("FLTIsMatch - Row matched."), 0);

  class FailingRow : public MemoryDataRow {
    const char16_t* GetText(const char16_t*) override {
      throw std::runtime_error("row gone");
    }
  } failing;
  EXPECT_THROW(f->IsMatch(&failing), std::runtime_error);
  EXPECT_THROW(f->IsMatch(nullptr), std::invalid_argument);
}

TEST(FilterMatchTest, MatchWritesOneLine) {
  Built f({LineSpec{.field = u"T", .op = kOpEquals, .value = u"a"}});
  MemoryDataRow row;
  row.SetText(u"T", u"A");
  LogMark mark;
  EXPECT_TRUE(f->IsMatch(&row));
  row.SetText(u"T", u"b");
  EXPECT_FALSE(f->IsMatch(&row));
  EXPECT_EQ(mark.Messages(),
            std::vector<std::string>{"FLTIsMatch - Row matched."});
}

TEST(FilterMatchTest, SkippedConditionsAreStillLoaded) {
  Built f({LineSpec{
               .field = u"A", .op = kOpEquals, .value = u"x", .link = kLinkAnd},
           LineSpec{.field = u"B", .op = kOpEquals, .value = u"y"}});
  RecordingRow row;
  EXPECT_FALSE(f->IsMatch(&row));
  EXPECT_EQ(row.calls, (std::vector<std::string>{"GetText(A)", "GetText(B)"}));
}

int64_t g_now = 0;
int64_t Clock() { return g_now; }

// Filters built from lines, matched against rows, across every operator and
// field type.
TEST(FilterMatchTest, EndToEnd) {
  setenv("TZ", "UTC", 1);
  SetClockForTesting(&Clock);
  g_now = DateTime(2026, 12, 15, 10, 0, 0, -1).Seconds();
  // (EventID = 4625 OR EventID = 4771) AND User LIKE 'adm%'
  //   AND NOT Host CONTAINS 'test' AND Received IN THIS MONTH
  //   AND Time < 6:00 PM AND Tags@Severity = high AND Size > 1.5
  Built f({LineSpec{.open = 1,
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
           LineSpec{.field = u"User",
                    .op = kOpLike,
                    .value = u"ADM%",
                    .link = kLinkAndNot},
           LineSpec{.field = u"Host", .op = kOpContains, .value = u"test"},
           LineSpec{.field = u"Received",
                    .op = kOpNamedPeriod,
                    .value = u"this month",
                    .type = kTypeDate},
           LineSpec{.field = u"Time",
                    .op = kOpLess,
                    .value = u"6:00:00 PM",
                    .type = kTypeTime},
           LineSpec{.field = u"Tags",
                    .op = kOpEquals,
                    .value = u"High",
                    .has_tag = true,
                    .tag = u"Severity"},
           Numeric(u"Size", kOpGreater, u"1.5")});
  EXPECT_EQ(f.Internals().root()->ToString(),
            u"( ( EventID = 4625 ) OR ( EventID = 4771 ) ) AND ( User LIKE "
            u"'adm%' ) AND NOT ( Host CONTAINS 'test' ) AND ( Received IN THIS "
            u"MONTH ) AND ( Time < 18-00-00 ) AND ( Tags = high ) AND ( Size > "
            u"1.5 )");
  MemoryDataRow row;
  auto reset = [&row] {
    row.SetInteger(u"EventID", 4771);
    row.SetText(u"User", u"Administrator");
    row.SetText(u"Host", u"DC01");
    row.SetDate(u"Received", RowDate{2026, 12, 3});
    row.SetTime(u"Time", RowTime{17, 59, 59});
    row.SetText(u"Tags", u"@Severity@HIGH~Severity~");
    row.SetReal(u"Size", 1.75);
  };
  reset();
  EXPECT_TRUE(f->IsMatch(&row));
  row.SetInteger(u"EventID", 4624);
  EXPECT_FALSE(f->IsMatch(&row));
  reset();
  row.SetText(u"User", u"guest");
  EXPECT_FALSE(f->IsMatch(&row));
  reset();
  row.SetText(u"Host", u"TESTBOX");
  EXPECT_FALSE(f->IsMatch(&row));
  reset();
  row.SetDate(u"Received", RowDate{2026, 11, 30});
  EXPECT_FALSE(f->IsMatch(&row));
  reset();
  row.SetTime(u"Time", RowTime{18, 0, 0});
  EXPECT_FALSE(f->IsMatch(&row));
  reset();
  row.SetText(u"Tags", u"@Severity@low~Severity~");
  EXPECT_FALSE(f->IsMatch(&row));
  reset();
  row.SetInteger(u"Size", 1);
  EXPECT_FALSE(f->IsMatch(&row));
  row.SetInteger(u"Size", 2);
  EXPECT_TRUE(f->IsMatch(&row));
  SetClockForTesting(nullptr);
}

int g_clock_reads = 0;
int64_t CountingClock() {
  ++g_clock_reads;
  return g_now;
}

// Named periods ask the clock once per row, however many there are, and
// not at all for a row that decides before them; the date the row reads
// is then that of its own instant.
TEST(FilterMatchTest, PeriodsAskTheClockOncePerRow) {
  setenv("TZ", "UTC", 1);
  ResetTimeZoneCaches();
  SetClockForTesting(&CountingClock);
  g_now = DateTime(2026, 12, 15, 23, 59, 59, -1).Seconds();
  Built f({LineSpec{.field = u"A",
                    .op = kOpNamedPeriod,
                    .value = u"TODAY",
                    .type = kTypeDate,
                    .link = kLinkOr},
           LineSpec{.field = u"B",
                    .op = kOpNamedPeriod,
                    .value = u"this month",
                    .type = kTypeDate,
                    .link = kLinkOr},
           LineSpec{.field = u"C",
                    .op = kOpNamedPeriod,
                    .value = u"LAST MONTH",
                    .type = kTypeDate}});
  MemoryDataRow row;
  row.SetDate(u"A", RowDate{2026, 12, 1});
  row.SetDate(u"B", RowDate{2026, 11, 30});
  row.SetDate(u"C", RowDate{2026, 11, 30});
  g_clock_reads = 0;
  EXPECT_TRUE(f->IsMatch(&row));
  EXPECT_TRUE(f->IsMatch(&row));
  EXPECT_EQ(g_clock_reads, 2);
  // A second later it is the 16th: the next row sees the new day.
  g_now += 1;
  row.SetDate(u"A", RowDate{2026, 12, 16});
  EXPECT_TRUE(f->IsMatch(&row));
  EXPECT_EQ(g_clock_reads, 3);
  SetClockForTesting(nullptr);
}

// After the first rows, matching allocates nothing: row texts reuse their
// buffers and numbers, dates and times are rendered into fixed buffers.
TEST(FilterMatchTest, SteadyStateMatchingDoesNotAllocate) {
  if (!allochooks::Active()) GTEST_SKIP() << "allocation hooks replaced";
  Built f(
      {LineSpec{.open = 1,
                .field = u"EventID",
                .op = kOpEquals,
                .value = u"4625",
                .type = kTypeNumeric,
                .link = kLinkOr},
       Numeric(u"Size", kOpLess, u"1000"),
       LineSpec{.field = u"User", .op = kOpLike, .value = u"adm%", .close = 1},
       LineSpec{.field = u"Host", .op = kOpContains, .value = u"dc"},
       LineSpec{.field = u"Received",
                .op = kOpGreater,
                .value = u"1/1/2020",
                .type = kTypeDate},
       LineSpec{.field = u"Time",
                .op = kOpLess,
                .value = u"6:00 PM",
                .type = kTypeTime},
       LineSpec{.field = u"EXT_TAGS",
                .op = kOpContains,
                .value = u"high",
                .has_tag = true,
                .tag = u"Severity"},
       LineSpec{.field = u"Received",
                .op = kOpNamedPeriod,
                .value = u"LAST 30 DAYS",
                .type = kTypeDate}});
  std::vector<MemoryDataRow> rows(64);
  for (size_t i = 0; i < rows.size(); ++i) {
    rows[i].SetInteger(u"EventID", 4620 + static_cast<int32_t>(i % 8));
    rows[i].SetReal(u"Size", 10.0 * static_cast<double>(i));
    rows[i].SetText(u"User", i % 3 ? u"Administrator account of the domain"
                                   : u"guest user with a long name");
    rows[i].SetText(u"Host", u"DC01.corp.example.com");
    rows[i].SetDate(u"Received",
                    RowDate{2026, 11, static_cast<uint16_t>(1 + i % 28)});
    rows[i].SetTime(u"Time", RowTime{static_cast<uint16_t>(i % 24), 30, 15});
    rows[i].SetText(u"EXT_TAGS",
                    u"@Severity@High~Severity~@Logon@Interactive~Logon~");
  }
  for (auto& row : rows) f->IsMatch(&row);  // warm up
  const uint64_t before = allochooks::Count();
  int matched = 0;
  for (int round = 0; round < 10; ++round)
    for (auto& row : rows) matched += f->IsMatch(&row);
  EXPECT_EQ(allochooks::Count() - before, 0u);
  EXPECT_GT(matched, 0);
}

}  // namespace
}  // namespace filtermodule
