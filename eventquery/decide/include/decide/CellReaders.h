// Reading typed values out of input cells (UTF-8 text).
//
//   number   a 32-bit integer (optional blanks and sign, digits), else a
//            decimal or scientific number read as the nearest double;
//            ReadNumber says whether the module sees that double exactly
//   date     yyyy-mm-dd, an ISO 8601 timestamp (yyyy-mm-ddThh:mm[:ss[.f]]
//            with an optional Z or +hh:mm offset), m/d/yyyy optionally
//            followed by a blank and a time ("12/8/2026 3:04:05 PM"), or
//            an epoch count; years 1970 to 9999
//   time     h:mm[:ss[.f]] on a 24-hour clock, or with AM/PM on a 12-hour
//            one, or the time part of an ISO 8601 timestamp, of m/d/yyyy
//            with a time, or of an epoch count; a fraction of the second
//            (up to nine digits; an epoch count's milli- or microseconds)
//            is kept to the nanosecond
//   epoch    digits only, counting from 1970-01-01T00:00:00Z, told apart
//            by magnitude: below 10^11 seconds (up to the year 5138),
//            from 10^11 milliseconds (1973-03-03 on), from 10^14
//            microseconds (1973-03-03 on) up to 10^17 (more digits are not
//            read); seconds may carry a fraction of up to nine digits
//            (1796767200.5, as Zeek writes time)
// A timestamp with a Z or an offset, and an epoch count, name an instant:
// its date and time are those of that instant in the process's local time
// zone (TZ), or in UTC when asked. A timestamp without one is taken as
// written.
// Each reader returns nothing for a cell it cannot read.

#ifndef DECIDE_CELLREADERS_H_
#define DECIDE_CELLREADERS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "filtermodule/FilterModule.h"

namespace eventquery {

// Where epoch counts turn from seconds to milliseconds, and from
// milliseconds to microseconds.
inline constexpr int64_t kEpochMillisecondsFrom = 100'000'000'000;
inline constexpr int64_t kEpochMicrosecondsFrom = 100'000'000'000'000;

// Where a timestamp with a zone offset is read.
enum class Zone { kLocal, kUtc };

// A number as the module is handed it: a 32-bit integer, or a real that
// the module renders with six decimals.
struct NumberCell {
  bool integer = true;
  int32_t whole = 0;
  double real = 0;
  // True when the module's rendering of the value equals the cell's
  // decimal value exactly; false for values beyond about 2^53 or with more
  // decimals than six, which only the cell itself holds exactly.
  bool exact = true;
};

std::optional<int32_t> ReadInteger(std::string_view cell);
std::optional<double> ReadReal(std::string_view cell);
// `scratch` is reused between calls (no allocation in steady state).
std::optional<NumberCell> ReadNumber(std::string_view cell,
                                     std::string& scratch);
std::optional<RowDate> ReadDate(std::string_view cell,
                                Zone zone = Zone::kLocal);
std::optional<RowTime> ReadTime(std::string_view cell,
                                Zone zone = Zone::kLocal);
// A time of day with the fraction of its second, which the module's
// RowTime cannot carry.
struct PreciseTime {
  RowTime time;
  int32_t nanoseconds = 0;  // 0 to 999,999,999
};
std::optional<PreciseTime> ReadPreciseTime(std::string_view cell,
                                           Zone zone = Zone::kLocal);

// True when the cell holds nothing but blanks.
bool IsBlankCell(std::string_view cell);

// The exact decimal value of a number text (optional sign, digits with an
// optional fraction, optional exponent) written plainly into `out`:
// "-", the whole digits without leading zeros ("0" for none), and "." with
// the fraction digits without trailing zeros when there are any. False for
// any other text, or an exponent beyond 400.
bool PlainDecimal(std::string_view text, std::string& out);
// The module's rendering of a real (six decimals) as a plain decimal.
void RenderedPlain(double value, std::string& out);
// Orders two plain decimals by value: <0, 0, >0.
int ComparePlain(std::string_view a, std::string_view b);

}  // namespace eventquery

#endif  // DECIDE_CELLREADERS_H_
