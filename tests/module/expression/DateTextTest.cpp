#include <gtest/gtest.h>

#include <string>

#include "ZoneScope.h"
#include "expression/DateText.h"
#include "expression/DateTime.h"

namespace filtermodule {
namespace {

Status StatusOf(void (*fn)()) {
  try {
    fn();
  } catch (const StatusFailure& f) {
    return f.status();
  }
  return static_cast<Status>(0);
}

TEST(NormalizeDateTest, ReadsMonthDayYear) {
  ZoneScope zone("UTC");
  EXPECT_EQ(NormalizeDate(u"12/25/2010"), u"25-12-2010");
  EXPECT_EQ(NormalizeDate(u"2010"), u"01-01-2010");
  EXPECT_EQ(NormalizeDate(u"7/2010"), u"01-07-2010");
  EXPECT_EQ(NormalizeDate(u"12/25/7/2010"), u"25-12-2010");
  EXPECT_EQ(NormalizeDate(u"  12/25/2010 \t"), u"25-12-2010");
  EXPECT_EQ(NormalizeDate(u"12 / 25 / 2010"), u"25-12-2010");
  EXPECT_EQ(NormalizeDate(u"1/31/2010"), u"31-01-2010");
}

TEST(NormalizeDateTest, RollsOverDaysPastTheMonth) {
  ZoneScope zone("UTC");
  EXPECT_EQ(NormalizeDate(u"2/30/2010"), u"02-03-2010");
  EXPECT_EQ(NormalizeDate(u"2/29/2012"), u"29-02-2012");
  EXPECT_EQ(NormalizeDate(u"2/29/2100"), u"01-03-2100");
  EXPECT_EQ(NormalizeDate(u"4/31/2030"), u"01-05-2030");
}

TEST(NormalizeDateTest, RefusesInvalidDatesWithTheirStatus) {
  ZoneScope zone("UTC");
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"12/25/10"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"13/1/2010"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"0/1/2010"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"1/0/2010"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"1/32/2010"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u""); }), Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"25-12-2010"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"today"); }), Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeDate(u"1/1/1950"); }),
            Status::kInvalidArgument);
}

TEST(NormalizeDateTest, NineteenSeventyDependsOnTheZone) {
  {
    ZoneScope zone("Asia/Tokyo");  // local midnight is before the epoch
    EXPECT_EQ(StatusOf([] { NormalizeDate(u"1/1/1970"); }),
              Status::kInvalidArgument);
    EXPECT_EQ(NormalizeDate(u"1/2/1970"), u"02-01-1970");
  }
  {
    ZoneScope zone("America/New_York");
    EXPECT_EQ(NormalizeDate(u"1/1/1970"), u"01-01-1970");
    EXPECT_EQ(StatusOf([] { NormalizeDate(u"12/31/1969"); }),
              Status::kInvalidArgument);
  }
}

TEST(NormalizeTimeTest, ReadsBothClocks) {
  EXPECT_EQ(NormalizeTime(u"1:05:00 pm"), u"13-05-00");
  EXPECT_EQ(NormalizeTime(u"1:05:00 AM"), u"01-05-00");
  EXPECT_EQ(NormalizeTime(u"12:30:00 AM"), u"00-30-00");
  EXPECT_EQ(NormalizeTime(u"12:30:00 PM"), u"12-30-00");
  EXPECT_EQ(NormalizeTime(u"13:15:00"), u"13-15-00");
  // Without a marker the clock has 24 hours.
  EXPECT_EQ(NormalizeTime(u"12:30:00"), u"12-30-00");
  EXPECT_EQ(NormalizeTime(u"0:30:00"), u"00-30-00");
  EXPECT_EQ(NormalizeTime(u"9:30"), u"09-30-00");
  EXPECT_EQ(NormalizeTime(u"9"), u"09-00-00");
  EXPECT_EQ(NormalizeTime(u""), u"00-00-00");
  // The marker counts in any field after the hour, after any blanks.
  EXPECT_EQ(NormalizeTime(u"9:30 PM"), u"21-30-00");
  EXPECT_EQ(NormalizeTime(u"9:30:00  PM"), u"21-30-00");
  EXPECT_EQ(NormalizeTime(u"9 PM"), u"21-00-00");
  EXPECT_EQ(NormalizeTime(u"9:30 pM"), u"21-30-00");
  EXPECT_EQ(NormalizeTime(u"12 am"), u"00-00-00");
  EXPECT_EQ(NormalizeTime(u"9:30 PMX"), u"09-30-00");  // no marker
  EXPECT_EQ(NormalizeTime(u" 11:59:59 pm "), u"23-59-59");
}

TEST(NormalizeTimeTest, RefusesFieldsOutOfRange) {
  EXPECT_EQ(StatusOf([] { NormalizeTime(u"13:15:00 PM"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeTime(u"24:00:00"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeTime(u"9:60:00"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeTime(u"9:00:60"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeTime(u"-1:00:00"); }),
            Status::kGeneralFailure);
  EXPECT_EQ(StatusOf([] { NormalizeTime(u"99999999999 PM"); }),
            Status::kGeneralFailure);
}

// The direct formatting equals the conversion path for every day of
// several years, around 1970, for roll-over days, and in several zones.
TEST(NormalizeDateTest, FastPathEqualsConversionPath) {
  for (const char* name :
       {"UTC", "Europe/Berlin", "America/New_York", "Australia/Sydney",
        "Asia/Tokyo", "America/Sao_Paulo", "America/Havana"}) {
    ZoneScope zone(name);
    for (int year :
         {1969, 1970, 1971, 1999, 2000, 2024, 2026, 2038, 2100, 9999, 10000}) {
      for (int month = 1; month <= 12; ++month) {
        for (int day = 1; day <= 31; ++day) {
          const std::string text = std::to_string(month) + "/" +
                                   std::to_string(day) + "/" +
                                   std::to_string(year);
          const std::u16string wide(text.begin(), text.end());
          std::u16string expected, actual;
          bool expected_fails = false, actual_fails = false;
          try {
            expected = NormalizeDateByConversion(wide);
          } catch (const StatusFailure&) {
            expected_fails = true;
          }
          try {
            actual = NormalizeDate(wide);
          } catch (const StatusFailure&) {
            actual_fails = true;
          }
          ASSERT_EQ(actual_fails, expected_fails) << name << " " << text;
          ASSERT_EQ(actual, expected) << name << " " << text;
        }
      }
    }
  }
}

TEST(NormalizeTimeTest, FastPathEqualsConversionPath) {
  for (const char* name : {"UTC", "Europe/Berlin", "Australia/Sydney"}) {
    ZoneScope zone(name);
    for (int h = 0; h < 24; ++h) {
      for (int m = 0; m < 60; m += 7) {
        for (int s = 0; s < 60; s += 11) {
          const std::string text = std::to_string(h) + ":" + std::to_string(m) +
                                   ":" + std::to_string(s);
          const std::u16string wide(text.begin(), text.end());
          ASSERT_EQ(NormalizeTime(wide), NormalizeTimeByConversion(wide))
              << name << " " << text;
        }
      }
    }
  }
}

TEST(CompareNormalDatesTest, OrdersChronologically) {
  EXPECT_EQ(CompareNormalDates(u"16-01-2001", u"15-12-2026"), -1);
  EXPECT_EQ(CompareNormalDates(u"01-02-2026", u"31-01-2026"), 1);
  EXPECT_EQ(CompareNormalDates(u"05-03-2010", u"05-03-2010"), 0);
  EXPECT_FALSE(CompareNormalDates(u"5-3-2010", u"05-03-2010"));
  EXPECT_FALSE(CompareNormalDates(u"31-02-2010", u"05-03-2010"));
  EXPECT_FALSE(CompareNormalDates(u"", u"05-03-2010"));
}

}  // namespace
}  // namespace filtermodule
