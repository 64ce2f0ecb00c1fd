// Named periods: calendar-day ranges relative to today in the process's
// local time zone, both ends included.
//
//   "TODAY"         today
//   "YESTERDAY"     the day before today
//   "LAST 30 DAYS"  30 days before today, to today
//   "THIS MONTH"    the first day of this month, to today
//   "LAST MONTH"    the first to the last day of the previous month
//
// Keywords are recognised without regard to case, exactly as written (no
// extra spaces). A row text matches when it is a real date in the normal
// form "dd-mm-yyyy" inside the period.
//
// Cost: O(1) per call; the bounds are computed by calendar arithmetic once
// per local day and thread, not per call. The forms that take `today` do
// not ask the clock; a caller that matches many periods against one row
// asks it once (TodayFor). Safe on any thread.

#ifndef FILTERMODULE_EXPRESSION_NAMEDPERIOD_H_
#define FILTERMODULE_EXPRESSION_NAMEDPERIOD_H_

#include <cstdint>
#include <string_view>

namespace filtermodule {

enum class NamedPeriod {
  kNone,
  kToday,
  kYesterday,
  kLast30Days,
  kThisMonth,
  kLastMonth
};

// The period that `keyword` names, or kNone.
NamedPeriod ParseNamedPeriod(std::u16string_view keyword) noexcept;

// Whether the date `row_text` lies inside the period that `value` names;
// false when `value` names none.
bool MatchNamedPeriod(std::u16string_view value, std::u16string_view row_text);
// The same for a period already parsed.
bool MatchNamedPeriod(NamedPeriod period, std::u16string_view row_text);
// The same for a row date given as days since 1970-01-01.
bool MatchNamedPeriodDay(NamedPeriod period, int64_t days);

// Today's local date, as days since 1970-01-01, for the instant `now`
// (seconds since 1970-01-01 UTC); false when the local conversion fails.
bool TodayFor(int64_t now, int64_t* days);
// MatchNamedPeriod and MatchNamedPeriodDay for the local date `today`.
bool MatchNamedPeriodOn(NamedPeriod period, std::u16string_view row_text,
                        int64_t today);
bool MatchNamedPeriodDayOn(NamedPeriod period, int64_t days, int64_t today);

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_NAMEDPERIOD_H_
