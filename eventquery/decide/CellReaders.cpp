#include "decide/CellReaders.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <ctime>

#include "common/Ascii.h"
#include "common/CivilCalendar.h"

namespace eventquery {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads min_digits..max_digits digits at `s[*i]`.
std::optional<int> Digits(std::string_view s, size_t* i, size_t min_digits,
                          size_t max_digits) {
  int value = 0;
  size_t n = 0;
  while (*i < s.size() && IsDigit(s[*i]) && n < max_digits) {
    value = value * 10 + (s[*i] - '0');
    ++*i;
    ++n;
  }
  if (n < min_digits) return std::nullopt;
  return value;
}

// Years the module reads as dates on every time zone's calendar.
bool ValidDate(int year, int month, int day) {
  return year >= 1970 && year <= 9999 && month >= 1 && month <= 12 &&
         day >= 1 && day <= common::DaysInMonth(year, month);
}

// The digits of a fraction of a second at s[*i], as nanoseconds (digits past
// the ninth are read and dropped); -1 when there is none. Leaves *i after
// them.
int32_t Fraction(std::string_view s, size_t* i) {
  const size_t start = *i;
  int32_t ns = 0;
  for (; *i < s.size() && IsDigit(s[*i]); ++*i)
    if (*i - start < 9) ns = ns * 10 + (s[*i] - '0');
  const size_t digits = *i - start;
  if (digits == 0) return -1;
  for (size_t k = digits; k < 9; ++k) ns *= 10;
  return ns;
}

// h:mm[:ss[.f]] at s[*i]; leaves *i after it.
std::optional<PreciseTime> ClockTime(std::string_view s, size_t* i) {
  const auto h = Digits(s, i, 1, 2);
  if (!h || *i >= s.size() || s[*i] != ':') return std::nullopt;
  ++*i;
  const auto m = Digits(s, i, 2, 2);
  if (!m) return std::nullopt;
  int sec = 0;
  int32_t ns = 0;
  if (*i < s.size() && s[*i] == ':') {
    ++*i;
    const auto sv = Digits(s, i, 2, 2);
    if (!sv) return std::nullopt;
    sec = *sv;
    if (*i < s.size() && s[*i] == '.') {
      ++*i;
      ns = Fraction(s, i);
      if (ns < 0) return std::nullopt;
    }
  }
  if (*h > 23 || *m > 59 || sec > 59) return std::nullopt;
  return PreciseTime{
      RowTime{static_cast<uint16_t>(*h), static_cast<uint16_t>(*m),
              static_cast<uint16_t>(sec)},
      ns};
}

// An ISO 8601 date or timestamp, as written.
struct Stamp {
  int year = 0, month = 0, day = 0;
  bool has_time = false;
  RowTime time{0, 0, 0};
  int32_t nanoseconds = 0;  // of the time's second
  bool has_zone = false;
  int offset_seconds = 0;  // east of UTC
};

std::optional<Stamp> ParseIso(std::string_view s) {
  Stamp st;
  size_t i = 0;
  const auto y = Digits(s, &i, 4, 4);
  if (!y || i >= s.size() || s[i] != '-') return std::nullopt;
  ++i;
  const auto mo = Digits(s, &i, 2, 2);
  if (!mo || i >= s.size() || s[i] != '-') return std::nullopt;
  ++i;
  const auto d = Digits(s, &i, 2, 2);
  if (!d || !ValidDate(*y, *mo, *d)) return std::nullopt;
  st.year = *y;
  st.month = *mo;
  st.day = *d;
  if (i == s.size()) return st;
  if (s[i] != 'T' && s[i] != 't' && s[i] != ' ') return std::nullopt;
  ++i;
  const auto h = Digits(s, &i, 2, 2);
  if (!h || i >= s.size() || s[i] != ':') return std::nullopt;
  ++i;
  const auto mi = Digits(s, &i, 2, 2);
  if (!mi) return std::nullopt;
  int sec = 0;
  if (i < s.size() && s[i] == ':') {
    ++i;
    const auto sv = Digits(s, &i, 2, 2);
    if (!sv) return std::nullopt;
    sec = *sv;
    if (i < s.size() && (s[i] == '.' || s[i] == ',')) {
      ++i;
      st.nanoseconds = Fraction(s, &i);
      if (st.nanoseconds < 0) return std::nullopt;
    }
  }
  // 60 is a leap second: the instant reads as the last moment of the
  // minute's last second.
  if (*h > 23 || *mi > 59 || sec > 60) return std::nullopt;
  if (sec == 60) st.nanoseconds = 999999999;
  st.has_time = true;
  st.time = RowTime{static_cast<uint16_t>(*h), static_cast<uint16_t>(*mi),
                    static_cast<uint16_t>(sec > 59 ? 59 : sec)};
  if (i == s.size()) return st;
  if (s[i] == 'Z' || s[i] == 'z') {
    st.has_zone = true;
    return i + 1 == s.size() ? std::optional(st) : std::nullopt;
  }
  if (s[i] != '+' && s[i] != '-') return std::nullopt;
  const int sign = s[i] == '-' ? -1 : 1;
  ++i;
  const auto oh = Digits(s, &i, 2, 2);
  if (!oh) return std::nullopt;
  int om = 0;
  if (i < s.size()) {
    if (s[i] == ':') ++i;
    const auto m = Digits(s, &i, 2, 2);
    if (!m) return std::nullopt;
    om = *m;
  }
  if (i != s.size() || *oh > 23 || om > 59) return std::nullopt;
  st.has_zone = true;
  st.offset_seconds = sign * (*oh * 3600 + om * 60);
  return st;
}

// The stamp's date and time; an instant (one with a zone) is moved to the
// local zone or UTC first.
std::optional<Stamp> Resolve(Stamp st, Zone zone) {
  if (!st.has_zone) return st;
  const int64_t seconds =
      common::DaysFromCivil(st.year, st.month, st.day) * 86400 +
      st.time.hour * 3600 + st.time.minute * 60 + st.time.second -
      st.offset_seconds;
  const time_t t = static_cast<time_t>(seconds);
  tm fields{};
  if ((zone == Zone::kUtc ? gmtime_r(&t, &fields) : localtime_r(&t, &fields)) ==
      nullptr)
    return std::nullopt;
  st.year = fields.tm_year + 1900;
  st.month = fields.tm_mon + 1;
  st.day = fields.tm_mday;
  st.time =
      RowTime{static_cast<uint16_t>(fields.tm_hour),
              static_cast<uint16_t>(fields.tm_min),
              static_cast<uint16_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec)};
  if (!ValidDate(st.year, st.month, st.day)) return std::nullopt;
  return st;
}

// h:mm[:ss[.f]] on a 24-hour clock, or with AM/PM on a 12-hour one.
std::optional<PreciseTime> Clock(std::string_view cell) {
  size_t i = 0;
  auto precise = ClockTime(cell, &i);
  if (!precise) return std::nullopt;
  std::string_view rest = Trim(cell.substr(i));
  if (rest.empty()) return precise;
  const bool pm = common::EqualsNoCase(rest, "pm");
  if (!pm && !common::EqualsNoCase(rest, "am")) return std::nullopt;
  RowTime& time = precise->time;
  if (time.hour < 1 || time.hour > 12) return std::nullopt;
  time.hour = static_cast<uint16_t>(time.hour % 12 + (pm ? 12 : 0));
  return precise;
}

// An instant in seconds since 1970 (and nanoseconds) as a date and time,
// local or UTC.
std::optional<Stamp> FromEpoch(int64_t seconds, int32_t nanoseconds,
                               Zone zone) {
  const time_t t = static_cast<time_t>(seconds);
  tm fields{};
  if ((zone == Zone::kUtc ? gmtime_r(&t, &fields) : localtime_r(&t, &fields)) ==
      nullptr)
    return std::nullopt;
  Stamp st;
  st.year = fields.tm_year + 1900;
  st.month = fields.tm_mon + 1;
  st.day = fields.tm_mday;
  st.nanoseconds = nanoseconds;
  st.has_time = true;
  st.time =
      RowTime{static_cast<uint16_t>(fields.tm_hour),
              static_cast<uint16_t>(fields.tm_min),
              static_cast<uint16_t>(fields.tm_sec > 59 ? 59 : fields.tm_sec)};
  if (!ValidDate(st.year, st.month, st.day)) return std::nullopt;
  return st;
}

// An epoch count (digits only): seconds below 10^11, milliseconds below
// 10^14, microseconds below 10^17; larger counts are not read. Seconds may
// have a fraction of up to nine digits (as Zeek writes them).
std::optional<Stamp> ParseEpoch(std::string_view s, Zone zone) {
  if (const size_t point = s.find('.'); point != std::string_view::npos) {
    const std::string_view fraction = s.substr(point + 1);
    if (fraction.empty() || fraction.size() > 9) return std::nullopt;
    size_t at = point + 1;
    const int32_t ns = Fraction(s, &at);
    if (at != s.size()) return std::nullopt;
    s = s.substr(0, point);
    if (s.size() > 11) return std::nullopt;
    int64_t seconds = 0;
    for (char c : s) {
      if (!IsDigit(c)) return std::nullopt;
      seconds = seconds * 10 + (c - '0');
    }
    if (s.empty() || seconds >= kEpochMillisecondsFrom) return std::nullopt;
    return FromEpoch(seconds, ns, zone);
  }
  if (s.empty() || s.size() > 17) return std::nullopt;
  int64_t count = 0;
  for (char c : s) {
    if (!IsDigit(c)) return std::nullopt;
    count = count * 10 + (c - '0');
  }
  if (count < kEpochMillisecondsFrom) return FromEpoch(count, 0, zone);
  if (count < kEpochMicrosecondsFrom)
    return FromEpoch(count / 1000, static_cast<int32_t>(count % 1000) * 1000000,
                     zone);
  return FromEpoch(count / 1000000,
                   static_cast<int32_t>(count % 1000000) * 1000, zone);
}

// m/d/yyyy, optionally followed by a blank and a clock time (as Event
// Viewer writes "12/8/2026 3:04:05 PM").
std::optional<Stamp> ParseSlashed(std::string_view s) {
  size_t i = 0;
  const auto month = Digits(s, &i, 1, 2);
  if (!month || i >= s.size() || s[i] != '/') return std::nullopt;
  ++i;
  const auto day = Digits(s, &i, 1, 2);
  if (!day || i >= s.size() || s[i] != '/') return std::nullopt;
  ++i;
  const auto year = Digits(s, &i, 4, 4);
  if (!year || !ValidDate(*year, *month, *day)) return std::nullopt;
  Stamp st;
  st.year = *year;
  st.month = *month;
  st.day = *day;
  if (i == s.size()) return st;
  if (s[i] != ' ') return std::nullopt;
  const auto time = Clock(s.substr(i + 1));
  if (!time) return std::nullopt;
  st.has_time = true;
  st.time = time->time;
  st.nanoseconds = time->nanoseconds;
  return st;
}

}  // namespace

void RenderedPlain(double value, std::string& out) {
  char buffer[512];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value,
                               std::chars_format::fixed, 6);
  PlainDecimal(std::string_view(buffer, static_cast<size_t>(r.ptr - buffer)),
               out);
}

bool IsBlankCell(std::string_view cell) { return Trim(cell).empty(); }

std::optional<int32_t> ReadInteger(std::string_view cell) {
  cell = Trim(cell);
  if (!cell.empty() && cell.front() == '+') cell.remove_prefix(1);
  int32_t value = 0;
  const auto r = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (r.ec != std::errc() || r.ptr != cell.data() + cell.size() || cell.empty())
    return std::nullopt;
  return value;
}

std::optional<double> ReadReal(std::string_view cell) {
  cell = Trim(cell);
  if (!cell.empty() && cell.front() == '+') cell.remove_prefix(1);
  if (cell.empty() ||
      !(IsDigit(cell.front()) || cell.front() == '-' || cell.front() == '.'))
    return std::nullopt;  // no "inf", "nan" or hexadecimal forms
  double value = 0;
  const auto r = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (r.ec != std::errc() || r.ptr != cell.data() + cell.size() ||
      !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<NumberCell> ReadNumber(std::string_view cell,
                                     std::string& scratch) {
  NumberCell n;
  if (const auto i = ReadInteger(cell)) {
    n.whole = *i;
    return n;
  }
  const auto r = ReadReal(cell);
  if (!r || !PlainDecimal(Trim(cell), scratch)) return std::nullopt;
  n.integer = false;
  n.real = *r;
  // The module sees "%f" of the double: compare that with the cell.
  thread_local std::string rendered;
  RenderedPlain(*r, rendered);
  n.exact = rendered == scratch;
  return n;
}

bool PlainDecimal(std::string_view s, std::string& out) {
  out.clear();
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::string& digits = out;  // built in place, sign added at the end
  size_t whole = 0;
  while (i < s.size() && IsDigit(s[i])) {
    digits.push_back(s[i++]);
    ++whole;
  }
  size_t fraction = 0;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && IsDigit(s[i])) {
      digits.push_back(s[i++]);
      ++fraction;
    }
  }
  if (whole + fraction == 0) return false;
  int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
      exp_negative = s[i++] == '-';
    const size_t start = i;
    while (i < s.size() && IsDigit(s[i])) {
      exponent = exponent * 10 + (s[i++] - '0');
      if (exponent > 400) return false;
    }
    if (i == start) return false;
    if (exp_negative) exponent = -exponent;
  }
  if (i != s.size()) return false;
  // The point stands after `point` digits (possibly outside the digits).
  int64_t point = static_cast<int64_t>(whole) + exponent;
  if (point < 0) {
    digits.insert(0, static_cast<size_t>(-point), '0');
    point = 0;
  }
  if (point > static_cast<int64_t>(digits.size()))
    digits.append(static_cast<size_t>(point) - digits.size(), '0');
  std::string_view w(digits.data(), static_cast<size_t>(point));
  std::string_view f(digits.data() + point,
                     digits.size() - static_cast<size_t>(point));
  while (!w.empty() && w.front() == '0') w.remove_prefix(1);
  while (!f.empty() && f.back() == '0') f.remove_suffix(1);
  // Built beside `out` (which holds the digits) and swapped in: both
  // buffers keep their room, so a cell of every row allocates nothing.
  thread_local std::string result;
  result.clear();
  if (negative && !(w.empty() && f.empty())) result.push_back('-');
  if (w.empty())
    result.push_back('0');
  else
    result.append(w);
  if (!f.empty()) result.append(".").append(f);
  out.swap(result);
  return true;
}

int ComparePlain(std::string_view a, std::string_view b) {
  const bool an = !a.empty() && a.front() == '-';
  const bool bn = !b.empty() && b.front() == '-';
  if (an != bn) return an ? -1 : 1;
  if (an) {
    a.remove_prefix(1);
    b.remove_prefix(1);
  }
  const size_t ap = std::min(a.find('.'), a.size());
  const size_t bp = std::min(b.find('.'), b.size());
  int magnitude = 0;
  if (ap != bp) {
    magnitude = ap < bp ? -1 : 1;
  } else if (const int c = a.substr(0, ap).compare(b.substr(0, bp))) {
    magnitude = c < 0 ? -1 : 1;
  } else {
    const std::string_view af = ap < a.size() ? a.substr(ap + 1) : "";
    const std::string_view bf = bp < b.size() ? b.substr(bp + 1) : "";
    if (const int c = af.compare(bf)) magnitude = c < 0 ? -1 : 1;
  }
  return an ? -magnitude : magnitude;
}

std::optional<RowDate> ReadDate(std::string_view cell, Zone zone) {
  cell = Trim(cell);
  if (cell.size() >= 5 && cell[4] == '-') {
    const auto st = ParseIso(cell);
    if (!st) return std::nullopt;
    const auto local = Resolve(*st, zone);
    if (!local) return std::nullopt;
    return RowDate{static_cast<int16_t>(local->year),
                   static_cast<uint16_t>(local->month),
                   static_cast<uint16_t>(local->day)};
  }
  auto st = ParseSlashed(cell);
  if (!st) st = ParseEpoch(cell, zone);
  if (!st) return std::nullopt;
  return RowDate{static_cast<int16_t>(st->year),
                 static_cast<uint16_t>(st->month),
                 static_cast<uint16_t>(st->day)};
}

std::optional<PreciseTime> ReadPreciseTime(std::string_view cell, Zone zone) {
  cell = Trim(cell);
  if (cell.size() >= 5 && cell[4] == '-') {
    const auto st = ParseIso(cell);
    if (!st || !st->has_time) return std::nullopt;
    const auto local = Resolve(*st, zone);
    if (!local) return std::nullopt;
    return PreciseTime{local->time, local->nanoseconds};
  }
  if (cell.find('/') != std::string_view::npos) {
    const auto st = ParseSlashed(cell);
    if (!st || !st->has_time) return std::nullopt;
    return PreciseTime{st->time, st->nanoseconds};
  }
  if (const auto st = ParseEpoch(cell, zone))
    return PreciseTime{st->time, st->nanoseconds};
  return Clock(cell);
}

std::optional<RowTime> ReadTime(std::string_view cell, Zone zone) {
  const auto precise = ReadPreciseTime(cell, zone);
  if (!precise) return std::nullopt;
  return precise->time;
}

}  // namespace eventquery
