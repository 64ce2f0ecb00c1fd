#include "expression/NamedPeriod.h"

#include <cstdint>
#include <ctime>

#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/Text.h"

namespace filtermodule {
namespace {

// Today's local date and the instants [start, end) during which it is today.
struct Today {
  uint32_t generation = 0;
  int64_t start = 0;
  int64_t end = 0;
  int64_t days = 0;  // since 1970-01-01
};

int64_t LocalMidnight(int64_t days) {
  int64_t year;
  int32_t month, day;
  CivilFromDays(days, &year, &month, &day);
  tm fields{};
  fields.tm_year = static_cast<int>(year - 1900);
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_isdst = -1;
  return static_cast<int64_t>(std::mktime(&fields));
}

}  // namespace

// From a per-thread cache that holds while `now` stays inside the same
// local day.
bool TodayFor(int64_t now, int64_t* days) {
  thread_local Today cache;
  const uint32_t generation = TimeZoneGeneration();
  if (cache.generation == generation && now >= cache.start && now < cache.end) {
    *days = cache.days;
    return true;
  }
  const time_t t = static_cast<time_t>(now);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) return false;
  *days = DaysFromCivil(int64_t{local.tm_year} + 1900, local.tm_mon + 1,
                        local.tm_mday);
  const int64_t start = LocalMidnight(*days);
  const int64_t end = LocalMidnight(*days + 1);
  if (start <= now && now < end) {
    cache.generation = generation;
    cache.start = start;
    cache.end = end;
    cache.days = *days;
  }
  return true;
}

NamedPeriod ParseNamedPeriod(std::u16string_view keyword) noexcept {
  if (EqualsNoCase(keyword, u"today")) return NamedPeriod::kToday;
  if (EqualsNoCase(keyword, u"yesterday")) return NamedPeriod::kYesterday;
  if (EqualsNoCase(keyword, u"last 30 days")) return NamedPeriod::kLast30Days;
  if (EqualsNoCase(keyword, u"this month")) return NamedPeriod::kThisMonth;
  if (EqualsNoCase(keyword, u"last month")) return NamedPeriod::kLastMonth;
  return NamedPeriod::kNone;
}

bool MatchNamedPeriod(std::u16string_view value, std::u16string_view row_text) {
  return MatchNamedPeriod(ParseNamedPeriod(value), row_text);
}

bool MatchNamedPeriod(NamedPeriod period, std::u16string_view row_text) {
  if (period == NamedPeriod::kNone) return false;
  int64_t today;
  return TodayFor(DateTime::Now().Seconds(), &today) &&
         MatchNamedPeriodOn(period, row_text, today);
}

bool MatchNamedPeriodDay(NamedPeriod period, int64_t row_days) {
  if (period == NamedPeriod::kNone) return false;
  int64_t today;
  return TodayFor(DateTime::Now().Seconds(), &today) &&
         MatchNamedPeriodDayOn(period, row_days, today);
}

bool MatchNamedPeriodOn(NamedPeriod period, std::u16string_view row_text,
                        int64_t today) {
  if (period == NamedPeriod::kNone) return false;
  const auto row = ParseNormalDate(row_text);
  return row && MatchNamedPeriodDayOn(period, *row, today);
}

bool MatchNamedPeriodDayOn(NamedPeriod period, int64_t row_days,
                           int64_t today) {
  const int64_t* row = &row_days;
  int64_t year;
  int32_t month, day;
  int64_t low = today, high = today;
  switch (period) {
    case NamedPeriod::kToday:
      break;
    case NamedPeriod::kYesterday:
      low = high = today - 1;
      break;
    case NamedPeriod::kLast30Days:
      low = today - 30;
      break;
    case NamedPeriod::kThisMonth:
      CivilFromDays(today, &year, &month, &day);
      low = today - (day - 1);
      break;
    case NamedPeriod::kLastMonth:
      CivilFromDays(today, &year, &month, &day);
      high = today - day;  // the last day of the previous month
      CivilFromDays(high, &year, &month, &day);
      low = high - (day - 1);
      break;
    case NamedPeriod::kNone:
      return false;
  }
  return low <= *row && *row <= high;
}

}  // namespace filtermodule
