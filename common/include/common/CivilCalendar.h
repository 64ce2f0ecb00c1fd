// The proleptic Gregorian calendar as day counts: the arithmetic the
// module's dates and the tools' timestamp readers share.
//
// Days count from 1970-01-01 (day 0) and may be negative; every function
// is exact for any year that fits 64 bits without overflow in the day
// count (about +-2.5e16 years), costs a few integer operations and
// allocates nothing. Thread safety: pure functions.

#ifndef COMMON_CIVILCALENDAR_H_
#define COMMON_CIVILCALENDAR_H_

#include <cstdint>

namespace common {

constexpr bool IsLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of `month` (1..12) of `year`.
constexpr int32_t DaysInMonth(int64_t year, int32_t month) {
  constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30,
                                 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Days since 1970-01-01 of year-month-day (month 1..12, day 1..31; a day
// past the month's end counts on into the next).
// Howard Hinnant's days_from_civil.
constexpr int64_t DaysFromCivil(int64_t year, int32_t month, int32_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The date `days` after 1970-01-01. Howard Hinnant's civil_from_days.
constexpr void CivilFromDays(int64_t days, int64_t* year, int32_t* month,
                             int32_t* day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t doe = days - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int32_t>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int32_t>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

}  // namespace common

#endif  // COMMON_CIVILCALENDAR_H_
