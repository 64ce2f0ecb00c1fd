#include <gtest/gtest.h>

#include <string>

#include "decide/CellReaders.h"

namespace eventquery {
namespace {

TEST(CellReadersTest, Numbers) {
  EXPECT_EQ(ReadInteger("4625"), 4625);
  EXPECT_EQ(ReadInteger(" -7 "), -7);
  EXPECT_EQ(ReadInteger("+5"), 5);
  EXPECT_FALSE(ReadInteger("2147483648"));
  EXPECT_FALSE(ReadInteger("12.5"));
  EXPECT_FALSE(ReadInteger(""));
  EXPECT_EQ(ReadReal("12.5"), 12.5);
  EXPECT_EQ(ReadReal("1e3"), 1000.0);
  EXPECT_FALSE(ReadReal("abc"));
  EXPECT_FALSE(ReadReal("inf"));
}

TEST(CellReadersTest, DatesAndTimes) {
  auto date = [](const char* s) {
    const auto d = ReadDate(s);
    return d ? std::to_string(d->year) + "-" + std::to_string(d->month) + "-" +
                   std::to_string(d->day)
             : std::string("none");
  };
  EXPECT_EQ(date("2026-12-08"), "2026-12-8");
  EXPECT_EQ(date("2026-12-08T19:40:00Z"), "2026-12-8");
  EXPECT_EQ(date("2026-12-08 19:40:00"), "2026-12-8");
  EXPECT_EQ(date("12/8/2026"), "2026-12-8");
  EXPECT_EQ(date("2/29/2024"), "2024-2-29");
  EXPECT_EQ(date("2/29/2023"), "none");
  EXPECT_EQ(date("2026-13-01"), "none");
  EXPECT_EQ(date("8.12.2026"), "none");
  EXPECT_EQ(date(""), "none");
  auto time = [](const char* s) {
    const auto t = ReadTime(s);
    return t ? std::to_string(t->hour) + ":" + std::to_string(t->minute) + ":" +
                   std::to_string(t->second)
             : std::string("none");
  };
  EXPECT_EQ(time("19:40"), "19:40:0");
  EXPECT_EQ(time("07:05:09"), "7:5:9");
  EXPECT_EQ(time("12:30 AM"), "0:30:0");
  EXPECT_EQ(time("1:05:00 pm"), "13:5:0");
  EXPECT_EQ(time("2026-12-08T19:40:12.5"), "19:40:12");
  EXPECT_EQ(time("24:00"), "none");
  EXPECT_EQ(time("13:00 PM"), "none");
  EXPECT_EQ(time("noon"), "none");
  // The fraction of a second, to the nanosecond, in every form that has
  // one.
  auto nanos = [](const char* s, Zone zone = Zone::kUtc) {
    const auto t = ReadPreciseTime(s, zone);
    return t ? int64_t{t->time.second} * 1000000000 + t->nanoseconds : -1;
  };
  EXPECT_EQ(nanos("2026-12-08T19:40:12.5"), 12500000000);
  EXPECT_EQ(nanos("2026-12-08T19:40:12.1234567Z"), 12123456700);
  EXPECT_EQ(nanos("2026-12-08 19:40:12,000000001"), 12000000001);
  EXPECT_EQ(nanos("2026-12-08T19:40:12.1234567891"), 12123456789);
  EXPECT_EQ(nanos("2026-12-08T19:40:60.5Z"), 59999999999);  // a leap second
  EXPECT_EQ(nanos("2026-12-08T19:40:12"), 12000000000);
  EXPECT_EQ(nanos("19:40:12.25"), 12250000000);
  EXPECT_EQ(nanos("7:40:12.25 PM"), 12250000000);
  EXPECT_EQ(nanos("12/8/2026 3:04:05.5 PM"), 5500000000);
  EXPECT_EQ(nanos("1796742245.5"), 5500000000);
  EXPECT_EQ(nanos("1796742245123"), 5123000000);
  EXPECT_EQ(nanos("1796742245123456"), 5123456000);
  EXPECT_EQ(nanos("19:40:12."), -1);
  EXPECT_EQ(nanos("2026-12-08T19:40:12.Z"), -1);
}

TEST(CellReadersTest, EventViewerDatesAreDatesAndTimes) {
  const auto d = ReadDate("12/8/2026 3:04:05 PM");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->year, 2026);
  EXPECT_EQ(d->month, 12);
  EXPECT_EQ(d->day, 8);
  const auto t = ReadTime("12/8/2026 3:04:05 PM");
  ASSERT_TRUE(t);
  EXPECT_EQ(t->hour, 15);
  EXPECT_EQ(t->minute, 4);
  EXPECT_EQ(t->second, 5);
  EXPECT_EQ(ReadTime("1/2/2026 12:00:00 AM")->hour, 0);
  EXPECT_EQ(ReadTime("1/2/2026 23:10")->hour, 23);
  EXPECT_FALSE(ReadDate("12/8/2026 25:00:00"));
  EXPECT_FALSE(ReadDate("12/8/2026 3:04:05 XM"));
  EXPECT_FALSE(ReadDate("12/8/2026 x"));
  EXPECT_FALSE(ReadTime("12/8/2026"));  // a date alone has no time
  EXPECT_FALSE(ReadTime("13/8/2026 3:04:05 PM"));
  EXPECT_FALSE(ReadDate("12/8/2026 1765206245"));
}

TEST(CellReadersTest, EpochCountsByMagnitude) {
  // 2026-12-08T15:04:05Z in seconds, milliseconds and microseconds.
  for (const char* cell : {"1796742245", "1796742245123", "1796742245123456"}) {
    const auto d = ReadDate(cell, Zone::kUtc);
    const auto t = ReadTime(cell, Zone::kUtc);
    ASSERT_TRUE(d && t) << cell;
    EXPECT_EQ(d->year * 10000 + d->month * 100 + d->day, 20261208) << cell;
    EXPECT_EQ(t->hour * 10000 + t->minute * 100 + t->second, 150405) << cell;
  }
  // The edges: the last count read as seconds, the first as milliseconds.
  EXPECT_EQ(ReadDate("99999999999", Zone::kUtc)->year, 5138);
  EXPECT_EQ(ReadDate("100000000000", Zone::kUtc)->year, 1973);
  EXPECT_EQ(ReadDate("0", Zone::kUtc)->year, 1970);
  EXPECT_EQ(ReadDate("99999999999999999", Zone::kUtc)->year, 5138);
  EXPECT_FALSE(ReadDate("100000000000000000"));  // 10^17: beyond the ranges
  EXPECT_FALSE(ReadDate("-5"));
  EXPECT_FALSE(ReadTime("17967 42245"));
  // Seconds with a fraction, as Zeek writes time; only seconds have one.
  EXPECT_EQ(ReadTime("1796742245.999999", Zone::kUtc)->second, 5);
  EXPECT_EQ(ReadPreciseTime("1796742245.999999", Zone::kUtc)->nanoseconds,
            999999000);
  EXPECT_EQ(ReadDate("99999999999.5", Zone::kUtc)->year, 5138);
  EXPECT_EQ(ReadDate("0.123456789", Zone::kUtc)->year, 1970);
  EXPECT_FALSE(ReadDate("100000000000.5"));  // milliseconds have none
  EXPECT_FALSE(ReadDate("1796742245."));
  EXPECT_FALSE(ReadDate(".5"));
  EXPECT_FALSE(ReadDate("1796742245.1234567890"));
  EXPECT_FALSE(ReadDate("1796742245.5.5"));
  EXPECT_FALSE(ReadDate("17967-42245.5"));
}

}  // namespace
}  // namespace eventquery
