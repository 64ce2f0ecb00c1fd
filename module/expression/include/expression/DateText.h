// Date and time texts: the normal forms the expressions compare, and the
// readers that bring host texts to them.
//
//   date  "dd-mm-yyyy" from month/day/year text: "12/25/2010" -> "25-12-2010",
//         "2010" -> "01-01-2010", "7/2010" -> "01-07-2010"; a day past the end
//         of its month rolls over ("2/30/2010" -> "02-03-2010").
//   time  "HH-MM-SS" from "h[:m[:s]]" and an optional AM or PM (any case,
//         in any field after the hour, after any number of blanks): with a
//         marker on a 12-hour clock ("12:30:00 AM" -> "00-30-00",
//         "9:30 PM" -> "21-30-00", "9 PM" -> "21-00-00"), without one on a
//         24-hour clock ("12:30:00" -> "12-30-00"); "13:15:00 PM" fails.
// Fields are read like wcstol: blanks skipped, an optional sign, digits up to
// the first other character; no digits gives 0, and numbers beyond 32 bits
// give the nearest limit. An invalid date or time throws StatusFailure
// (DateTime's checks and statuses); the local time zone decides which dates
// exist from 1970 on.
//
// The readers format ordinary valid input directly and fall back to the
// calendar conversion only at its edges (the years before 1971 and after
// 9999, roll-over days, a local zone whose 1 January 1980 is irregular); the
// results equal those of the conversion path, which is exposed for tests.
//
// Thread safety: safe on any thread. After changing TZ in a running process,
// call ResetTimeZoneCaches.

#ifndef FILTERMODULE_EXPRESSION_DATETEXT_H_
#define FILTERMODULE_EXPRESSION_DATETEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace filtermodule {

// The normal date form of `text`, written into `out` (its buffer reused).
void NormalizeDateInto(std::u16string_view text, std::u16string& out);
// The normal time form of `text`, written into `out` (its buffer reused).
void NormalizeTimeInto(std::u16string_view text, std::u16string& out);

// The normal forms of a calendar date and a time of day written directly,
// when that gives what the readers above give for "m/d/yyyy" and
// "h:m:s" texts of the same fields (an existing day of 1971..9999; a valid
// time on a regular zone); false, with `out` untouched, otherwise.
bool TryFormatNormalDate(int64_t year, int32_t month, int32_t day,
                         std::u16string& out);
bool TryFormatNormalTime(int64_t hour, int64_t minute, int64_t second,
                         std::u16string& out);

std::u16string NormalizeDate(std::u16string_view text);
std::u16string NormalizeTime(std::u16string_view text);

// The same results through the calendar conversion and formatting on every
// call (the reference for the fast readers).
std::u16string NormalizeDateByConversion(std::u16string_view text);
std::u16string NormalizeTimeByConversion(std::u16string_view text);

// Days since 1970-01-01 of a text in the normal date form "dd-mm-yyyy"
// (years after 9999 with more digits, up to ten: 2^31-1, the latest year
// a value can name, has ten) that names a real calendar day; nothing for
// any other text. Exact: the day count of a ten-digit year is below 2^42.
std::optional<int64_t> ParseNormalDate(std::u16string_view text) noexcept;

// Seconds of the day of a text in the normal time form "HH-MM-SS";
// nothing for any other text.
std::optional<int32_t> ParseNormalTime(std::u16string_view text) noexcept;

// Chronological order of two normal-form dates (<0, 0, >0); nothing when
// either text is not in that form.
std::optional<int> CompareNormalDates(std::u16string_view a,
                                      std::u16string_view b) noexcept;

// True when every time of 1 January 1980 exists once in the local zone, so
// that a time of day is its own normal form.
bool TimesAreRegular();

// Forgets what was learnt about the local time zone.
void ResetTimeZoneCaches() noexcept;
// A counter that ResetTimeZoneCaches moves on; caches keyed on the local
// zone compare it.
uint32_t TimeZoneGeneration() noexcept;

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_DATETEXT_H_
