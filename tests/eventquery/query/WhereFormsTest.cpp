// The expression forms that the compiler writes as several lines (IN
// lists, BETWEEN, timestamps, relative periods, NOT before a group) and
// the regular expressions the host decides: for each form its lines, and
// its answer on a fixed set of records next to a direct evaluation of what
// the form means.

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "DescribeLines.h"
#include "decide/RecordMatcher.h"
#include "query/WhereCompiler.h"

namespace eventquery {
namespace {

struct Event {
  std::optional<std::string> id, t, user;
};

// Thursday 2026-12-10 12:00:00 UTC.
constexpr int64_t kNow = 1796904000;

const std::vector<Event>& Events() {
  static const std::vector<Event> events = {
      {"4624", "2026-12-08T21:59:59", "alice"},
      {"4625", "2026-12-08T22:00:00", "Bob"},
      {"4634", "2026-12-09T05:59:00", "carol7"},
      {"4720", "2026-12-09T06:00:00", "admin"},
      {"4740", "2026-12-09T06:00:01", "ADMIN2"},
      {std::nullopt, "2026-12-10T00:00:00", "x"},
      {"4625", std::nullopt, std::nullopt},
      {"4626", "2026-12-06T23:59:59", "bob"},
      {"4627", "2026-12-07T00:00:00", "dave"},
      {"4628", "2026-12-13T23:59:59", "eve"},
      {"4629", "2026-12-08T12:00:00", "fay"},
      {"4630", "2026-11-30T00:00:00", "gus"},
  };
  return events;
}

// The event's timestamp as yyyymmddhhmmss, for direct comparisons.
std::optional<int64_t> Stamp(const Event& e) {
  if (!e.t) return std::nullopt;
  int64_t v = 0;
  for (const char c : *e.t)
    if (std::isdigit(static_cast<unsigned char>(c))) v = v * 10 + (c - '0');
  return v;
}

std::optional<int> Id(const Event& e) {
  if (!e.id) return std::nullopt;
  return std::stoi(*e.id);
}

std::string Lower(const std::optional<std::string>& s) {
  std::string out = s.value_or("");
  for (char& c : out) c = static_cast<char>(std::tolower(c));
  return out;
}

// Whether `value` present and `holds` of it: a typed condition on a
// missing value is false as written.
template <typename T, typename F>
bool Has(const std::optional<T>& value, F holds) {
  return value && holds(*value);
}

struct Case {
  const char* where;
  const char* lines;  // "" when not checked
  std::function<bool(const Event&)> direct;
};

const std::vector<Case>& Cases() {
  static const std::vector<Case> cases = {
      {"Id IN (4624, 4625)",
       "1 Id = '4624' numeric 0 OR; 0 Id = '4625' numeric 1 AND; ",
       [](const Event& e) {
         return Has(Id(e), [](int v) { return v == 4624 || v == 4625; });
       }},
      {"Id IN (4624,4625,4720)", "",
       [](const Event& e) {
         return Has(Id(e),
                    [](int v) { return v == 4624 || v == 4625 || v == 4720; });
       }},
      {"Id NOT IN (4624, 4625)",
       "1 Id = '4624' numeric 0 AND NOT; 0 Id = '4625' numeric 1 AND NOT; ",
       [](const Event& e) {
         return !Has(Id(e), [](int v) { return v == 4624 || v == 4625; });
       }},
      {"User IN ('alice', BOB)", "",
       [](const Event& e) {
         return Lower(e.user) == "alice" || Lower(e.user) == "bob";
       }},
      {"Id IN (4720)", "0 Id = '4720' numeric 0 AND; ",
       [](const Event& e) {
         return Has(Id(e), [](int v) { return v == 4720; });
       }},
      {"Id BETWEEN 4625 AND 4720",
       "1 Id < '4625' numeric 0 AND NOT inverted; 0 Id > '4720' numeric 1 "
       "AND NOT inverted; ",
       [](const Event& e) {
         return Has(Id(e), [](int v) { return v >= 4625 && v <= 4720; });
       }},
      {"Id NOT BETWEEN 4625 AND 4720", "",
       [](const Event& e) {
         return !Has(Id(e), [](int v) { return v >= 4625 && v <= 4720; });
       }},
      {"T >= '2026-12-08 22:00'",
       "1 T > '12/8/2026' date 0 OR; 1 T = '12/8/2026' date 0 AND; 0 T < "
       "'10:00:00 PM' time 2 AND NOT inverted; ",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v >= 20261208220000; });
       }},
      {"T > '2026-12-08T22:00:00'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v > 20261208220000; });
       }},
      {"T < '12/9/2026 6:00 AM'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v < 20261209060000; });
       }},
      {"T <= '2026-12-09 06:00'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v <= 20261209060000; });
       }},
      {"T = '2026-12-09 06:00'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v == 20261209060000; });
       }},
      {"T != '2026-12-09 06:00'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v != 20261209060000; });
       }},
      {"T BETWEEN '2026-12-08 22:00' AND '2026-12-09 06:00'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) {
           return v >= 20261208220000 && v <= 20261209060000;
         });
       }},
      {"NOT T BETWEEN '2026-12-08 22:00' AND '2026-12-09 06:00'", "",
       [](const Event& e) {
         return !Has(Stamp(e), [](int64_t v) {
           return v >= 20261208220000 && v <= 20261209060000;
         });
       }},
      // A time range that wraps midnight is the night.
      {"T:time BETWEEN 22:00 AND 6:00", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) {
           return v % 1000000 >= 220000 || v % 1000000 <= 60000;
         });
       }},
      {"T:time NOT BETWEEN 22:00 AND 6:00", "",
       [](const Event& e) {
         return !Has(Stamp(e), [](int64_t v) {
           return v % 1000000 >= 220000 || v % 1000000 <= 60000;
         });
       }},
      {"T:time BETWEEN 5:59 AND 22:00", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) {
           return v % 1000000 >= 55900 && v % 1000000 <= 220000;
         });
       }},
      {"T SINCE '2026-12-09 05:59'", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v >= 20261209055900; });
       }},
      {"T SINCE 2026-12-09", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v >= 20261209000000; });
       }},
      {"T IN LAST 2 DAYS", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v >= 20261208120000; });
       }},
      {"T IN LAST 36 HOURS", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) { return v >= 20261209000000; });
       }},
      {"T IN THIS WEEK", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) {
           return v >= 20261207000000 && v <= 20261213235959;
         });
       }},
      {"T IN LAST WEEK", "",
       [](const Event& e) {
         return Has(Stamp(e), [](int64_t v) {
           return v >= 20261130000000 && v <= 20261206235959;
         });
       }},
      {"NOT (Id = 4624 OR User = bob)",
       "1 Id = '4624' numeric 0 AND NOT; 0 User = 'bob' text 1 AND NOT; ",
       [](const Event& e) {
         return !(Has(Id(e), [](int v) { return v == 4624; }) ||
                  Lower(e.user) == "bob");
       }},
      {"NOT (Id = 4624 OR NOT User = bob AND Id > 4700) OR Id = 4740", "",
       [](const Event& e) {
         const bool a = Has(Id(e), [](int v) { return v == 4624; });
         const bool b = Lower(e.user) == "bob";
         const bool c = Has(Id(e), [](int v) { return v > 4700; });
         const bool d = Has(Id(e), [](int v) { return v == 4740; });
         return !((a || !b) && c) || d;
       }},
      {"Id > 4700 AND (NOT (Id >= 4740 OR User = admin))", "",
       [](const Event& e) {
         const bool a = Has(Id(e), [](int v) { return v > 4700; });
         const bool b = Has(Id(e), [](int v) { return v >= 4740; });
         return a && !(b || Lower(e.user) == "admin");
       }},
      {"NOT NOT (Id IN (4624, 4625))", "",
       [](const Event& e) {
         return Has(Id(e), [](int v) { return v == 4624 || v == 4625; });
       }},
      {"User MATCHES '^admin[0-9]*$'", "",
       [](const Event& e) {
         return std::regex_search(Lower(e.user), std::regex("^admin[0-9]*$"));
       }},
      {"User NOT MATCHES 'o'", "",
       [](const Event& e) {
         return Lower(e.user).find('o') == std::string::npos;
       }},
      {"User MATCHES '(?-i)^[a-z]+$' AND NOT Id IN (4624)", "",
       [](const Event& e) {
         return std::regex_search(e.user.value_or(""),
                                  std::regex("^[a-z]+$")) &&
                !Has(Id(e), [](int v) { return v == 4624; });
       }},
  };
  return cases;
}

TEST(WhereFormsTest, EachFormDecidesAsItsMeaning) {
  const std::vector<std::string> columns = {"Id", "T", "User"};
  WhereOptions options;
  options.now = kNow;
  options.utc = true;
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.where);
    const CompiledWhere compiled = CompileWhere(c.where, options);
    if (*c.lines != '\0') {
      EXPECT_EQ(Describe(compiled.lines), c.lines);
    }
    RecordMatcher matcher(compiled.lines, Zone::kUtc);
    for (const Event& e : Events()) {
      Record record;
      for (const auto* cell : {&e.id, &e.t, &e.user})
        record.cells.push_back(*cell ? std::optional<std::string_view>(**cell)
                                     : std::nullopt);
      EXPECT_EQ(matcher.Match(record, columns, nullptr), c.direct(e))
          << "Id=" << e.id.value_or("-") << " T=" << e.t.value_or("-")
          << " User=" << e.user.value_or("-");
    }
  }
}

// Timestamps compare at the precision the cells and the values carry: in
// the boundary second, a fraction (the cell's or the value's) decides, as
// it does between the instants themselves, in every form a cell takes.
TEST(WhereFormsTest, TimestampsCompareBelowTheSecond) {
  // Each cell and its instant in milliseconds after 12:30:00 UTC.
  const std::pair<const char*, int> cells[] = {
      {"2026-12-09T12:30:15.000", 15000},
      {"2026-12-09T12:30:15.500", 15500},
      {"2026-12-09T12:30:16", 16000},
      {"2026-12-09T12:30:14.999", 14999},
      {"2026-12-09T12:30:15Z", 15000},
      {"2026-12-09 12:30:15.25", 15250},
      {"1796819415.5", 15500},
      {"1796819415250", 15250},
      {"1796819415250000", 15250},
      {"12/9/2026 12:30:15.75 PM", 15750},
  };
  const struct {
    const char* where;
    std::function<bool(int)> holds;
  } cases[] = {
      {"T > '2026-12-09 12:30:15'", [](int t) { return t > 15000; }},
      {"T >= '2026-12-09 12:30:15'", [](int t) { return t >= 15000; }},
      {"T < '2026-12-09 12:30:15'", [](int t) { return t < 15000; }},
      {"T <= '2026-12-09 12:30:15'", [](int t) { return t <= 15000; }},
      {"T = '2026-12-09 12:30:15'", [](int t) { return t == 15000; }},
      {"T != '2026-12-09 12:30:15'", [](int t) { return t != 15000; }},
      {"T > '2026-12-09T12:30:15.25'", [](int t) { return t > 15250; }},
      {"T <= '2026-12-09T12:30:15.250'", [](int t) { return t <= 15250; }},
      {"T = '2026-12-09T12:30:15.5'", [](int t) { return t == 15500; }},
      {"T BETWEEN '2026-12-09 12:30:15' AND '2026-12-09T12:30:15.5'",
       [](int t) { return t >= 15000 && t <= 15500; }},
      {"T SINCE '2026-12-09T12:30:15.5'", [](int t) { return t >= 15500; }},
      {"T:time > 12:30:15", [](int t) { return t > 15000; }},
      {"T:time < 12:30:15.3", [](int t) { return t < 15300; }},
  };
  WhereOptions options;
  options.utc = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.where);
    RecordMatcher matcher(CompileWhere(c.where, options).lines, Zone::kUtc);
    for (const auto& [cell, ms] : cells) {
      Record record;
      record.cells.push_back(std::string_view(cell));
      EXPECT_EQ(matcher.Match(record, {"T"}, nullptr), c.holds(ms)) << cell;
    }
  }
  // A fraction is kept where the line is written out, and refused where
  // a time's text is compared.
  EXPECT_EQ(Describe(CompileWhere("T:time > 1:02:03.5", options).lines),
            "0 T > '1:02:03 AM' time 0 AND; ");
  EXPECT_THROW(CompileWhere("T:time LIKE 1:02:03.5", options), SyntaxError);
  EXPECT_THROW(CompileWhere("T:time > 1:02:03.1234567891", options),
               SyntaxError);
}

TEST(WhereFormsTest, MixedLinksWithoutBracketsGetOneNote) {
  const CompiledWhere mixed = CompileWhere(
      "Id = 4720 OR Id = 4740 AND T IN THIS MONTH", WhereOptions{});
  ASSERT_EQ(mixed.notes.size(), 1u);
  EXPECT_EQ(mixed.notes[0],
            "evaluated left to right as ((Id = 4720 OR Id = 4740) AND T IN "
            "THIS MONTH); add brackets to silence this note");
  for (const char* clean :
       {"(Id = 4720 OR Id = 4740) AND T IN THIS MONTH",
        "Id = 4720 OR (Id = 4740 AND T IN THIS MONTH)", "a = 1 AND b = 2",
        "Id IN (1, 2) AND T BETWEEN 1 AND 2"})
    EXPECT_TRUE(CompileWhere(clean, WhereOptions{}).notes.empty()) << clean;
}

TEST(WhereFormsTest, WildcardsNextToWideCharactersGetANote) {
  // "\xf0\x9f\x98\x80" is U+1F600, two 16-bit code units.
  for (const char* wide :
       {"m LIKE 'I ?\xf0\x9f\x98\x80'", "m LIKE '\xf0\x9f\x98\x80?'",
        "m LIKE '[\xf0\x9f\x98\x80x]'", "m LIKE 'a[xy]\xf0\x9f\x98\x80'"}) {
    const CompiledWhere c = CompileWhere(wide, WhereOptions{});
    ASSERT_EQ(c.notes.size(), 1u) << wide;
    EXPECT_NE(c.notes[0].find("(U+1F600) next to one is two; write ??"),
              std::string::npos)
        << c.notes[0];
  }
  // A wide character away from the wildcards, a BMP one next to them, and
  // other operators say nothing.
  for (const char* fine :
       {"m LIKE '?x\xf0\x9f\x98\x80'", "m LIKE '\xc3\xa9?[\xe2\x82\xac]'",
        "m LIKE '*\xf0\x9f\x98\x80*'", "m CONTAINS '?\xf0\x9f\x98\x80'",
        "m LIKE '[ab'"})
    EXPECT_TRUE(CompileWhere(fine, WhereOptions{}).notes.empty()) << fine;
}

TEST(WhereFormsTest, RelativePeriodsAreFixedWhenCompiled) {
  WhereOptions options;
  options.now = kNow;
  options.utc = true;
  EXPECT_EQ(Describe(CompileWhere("T IN LAST 1 HOURS", options).lines),
            "1 T > '12/10/2026' date 0 OR; 1 T = '12/10/2026' date 0 AND; 0 T "
            "< '11:00:00 AM' time 2 AND NOT inverted; ");
  EXPECT_EQ(Describe(CompileWhere("T IN THIS WEEK", options).lines),
            "1 T < '12/7/2026' date 0 AND NOT inverted; 0 T > '12/13/2026' "
            "date 1 AND NOT inverted; ");
  // LAST n DAYS is n x 24 hours back for every n, 30 too; the module's own
  // calendar period is spelled CALENDAR DAYS.
  EXPECT_EQ(Describe(CompileWhere("T IN LAST 30 DAYS", options).lines),
            "1 T > '11/10/2026' date 0 OR; 1 T = '11/10/2026' date 0 AND; 0 T "
            "< '12:00:00 PM' time 2 AND NOT inverted; ");
  EXPECT_EQ(Describe(CompileWhere("T IN LAST 29 DAYS", options).lines),
            "1 T > '11/11/2026' date 0 OR; 1 T = '11/11/2026' date 0 AND; 0 T "
            "< '12:00:00 PM' time 2 AND NOT inverted; ");
  EXPECT_EQ(Describe(CompileWhere("T IN LAST 30 CALENDAR DAYS", options).lines),
            "0 T PERIOD 'LAST 30 DAYS' date 0 AND; ");
}

}  // namespace
}  // namespace eventquery
