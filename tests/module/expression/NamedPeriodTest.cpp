#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ZoneScope.h"
#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/NamedPeriod.h"

namespace filtermodule {
namespace {

// Named periods on fixed dates through the injectable clock.
int64_t g_now = 0;
int64_t FixedClock() { return g_now; }

class NamedPeriodTest : public testing::Test {
 protected:
  void SetUp() override { SetClockForTesting(&FixedClock); }
  void TearDown() override { SetClockForTesting(nullptr); }
  // Local noon of the date, so that the day is unambiguous.
  static void SetToday(int year, int month, int day, int hour = 12) {
    g_now = DateTime(year, month, day, hour, 0, 0, -1).Seconds();
  }
  static bool In(const char16_t* keyword, const char16_t* date) {
    return MatchNamedPeriod(keyword, date);
  }
};

TEST_F(NamedPeriodTest, Today) {
  ZoneScope zone("Europe/Berlin");
  SetToday(2026, 12, 15);
  EXPECT_TRUE(In(u"today", u"15-12-2026"));
  EXPECT_TRUE(In(u"TODAY", u"15-12-2026"));
  EXPECT_TRUE(In(u"tOdAy", u"15-12-2026"));
  EXPECT_FALSE(In(u"today", u"16-01-2001"));  // not a text order
  EXPECT_FALSE(In(u"today", u"14-12-2026"));
  EXPECT_FALSE(In(u"today", u"16-12-2026"));
  EXPECT_FALSE(In(u" today", u"15-12-2026"));
  EXPECT_FALSE(In(u"today", u""));
  EXPECT_FALSE(In(u"today", u"15-12-2026x"));
  EXPECT_FALSE(In(u"tomorrow", u"15-12-2026"));
}

TEST_F(NamedPeriodTest, Yesterday) {
  ZoneScope zone("Europe/Berlin");
  SetToday(2027, 3, 1);
  EXPECT_TRUE(In(u"yesterday", u"28-02-2027"));
  EXPECT_FALSE(In(u"yesterday", u"27-02-2027"));
  EXPECT_FALSE(In(u"yesterday", u"01-03-2027"));
  SetToday(2027, 1, 1);
  EXPECT_TRUE(In(u"yesterday", u"31-12-2026"));
}

TEST_F(NamedPeriodTest, Last30Days) {
  ZoneScope zone("America/New_York");
  SetToday(2026, 12, 15);
  EXPECT_TRUE(In(u"last 30 days", u"15-11-2026"));
  EXPECT_TRUE(In(u"last 30 days", u"15-12-2026"));
  EXPECT_FALSE(In(u"last 30 days", u"14-11-2026"));
  EXPECT_FALSE(In(u"last 30 days", u"16-12-2026"));
  SetToday(2024, 3, 1);  // across 29 February
  EXPECT_TRUE(In(u"LAST 30 DAYS", u"31-01-2024"));
  EXPECT_FALSE(In(u"LAST 30 DAYS", u"30-01-2024"));
  EXPECT_FALSE(In(u"last  30 days", u"01-03-2024"));
}

TEST_F(NamedPeriodTest, ThisMonthAndLastMonth) {
  ZoneScope zone("Australia/Sydney");
  SetToday(2027, 3, 31);
  EXPECT_TRUE(In(u"this month", u"01-03-2027"));
  EXPECT_TRUE(In(u"this month", u"31-03-2027"));
  EXPECT_FALSE(In(u"this month", u"28-02-2027"));
  EXPECT_TRUE(In(u"last month", u"01-02-2027"));
  EXPECT_TRUE(In(u"last month", u"28-02-2027"));
  EXPECT_FALSE(In(u"last month", u"31-01-2027"));
  EXPECT_FALSE(In(u"last month", u"01-03-2027"));
  SetToday(2027, 1, 1);
  EXPECT_TRUE(In(u"this month", u"01-01-2027"));
  EXPECT_FALSE(In(u"this month", u"02-01-2027"));  // after today
  EXPECT_TRUE(In(u"last month", u"01-12-2026"));
  EXPECT_TRUE(In(u"last month", u"31-12-2026"));
  SetToday(2024, 3, 15);
  EXPECT_TRUE(In(u"last month", u"29-02-2024"));
}

TEST_F(NamedPeriodTest, DaylightSavingDaysKeepTheirDates) {
  ZoneScope zone("Europe/Berlin");
  // 31 March 2024: clocks go from 02:00 to 03:00. Just after midnight and
  // just before the next midnight are both that day.
  SetToday(2024, 3, 31, 0);
  EXPECT_TRUE(In(u"today", u"31-03-2024"));
  EXPECT_TRUE(In(u"yesterday", u"30-03-2024"));
  SetToday(2024, 3, 31, 23);
  EXPECT_TRUE(In(u"today", u"31-03-2024"));
  EXPECT_TRUE(In(u"yesterday", u"30-03-2024"));
  g_now += 3600;  // past midnight: the next day
  EXPECT_TRUE(In(u"today", u"01-04-2024"));
  EXPECT_TRUE(In(u"yesterday", u"31-03-2024"));
  SetToday(2024, 10, 27, 23);  // 25-hour day
  EXPECT_TRUE(In(u"today", u"27-10-2024"));
  EXPECT_TRUE(In(u"last 30 days", u"27-09-2024"));
}

}  // namespace
}  // namespace filtermodule
