#include "expression/DateText.h"

#include <atomic>
#include <climits>
#include <ctime>

#include "expression/DateTime.h"

namespace filtermodule {
namespace {

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' ||
         c == u'\r';
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// wcstol-style reading clamped to 32 bits.
int32_t ParseField(std::u16string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
  int64_t value = 0;
  for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
    value = value * 10 + (s[i] - u'0');
    if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

struct DateFields {
  int32_t year, month, day;
};

DateFields ReadDateFields(std::u16string_view text) {
  text = Trim(text);
  DateFields f{0, 1, 1};
  int index = 0;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'/') continue;
    if (index == 0) f.month = ParseField(text.substr(start, i - start));
    if (index == 1) f.day = ParseField(text.substr(start, i - start));
    ++index;
    start = i + 1;
  }
  f.year = ParseField(text.substr(start));
  return f;
}

struct TimeFields {
  int64_t hour, minute, second;
};

bool IsMarker(std::u16string_view field, char16_t first) {
  return field.size() == 2 &&
         (field[0] == first || field[0] == first - (u'a' - u'A')) &&
         (field[1] == u'm' || field[1] == u'M');
}

// Fields are separated by ":" and blanks; an "AM" or "PM" in any field
// after the hour is the marker, and ends the numbers. Without a marker the
// hour is on a 24-hour clock; with one, 12 is hour 0 and PM adds 12.
TimeFields ReadTimeFields(std::u16string_view text) {
  text = Trim(text);
  TimeFields f{0, 0, 0};
  int index = 0;
  size_t start = 0;
  bool am = false, pm = false;
  // One ":" follows the text, so the last field is always ended and the
  // hour always read.
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != u':' && text[i] != u' ') continue;
    const std::u16string_view field = text.substr(start, i - start);
    start = i + 1;
    if (index > 0 && (IsMarker(field, u'a') || IsMarker(field, u'p'))) {
      am = IsMarker(field, u'a');
      pm = !am;
      break;
    }
    if (index == 0) f.hour = ParseField(field);
    if (index == 1) f.minute = ParseField(field);
    if (index == 2) f.second = ParseField(field);
    ++index;
  }
  if (am || pm) {
    if (f.hour == 12) f.hour = 0;
    if (pm) f.hour += 12;
  }
  return f;
}

void CheckTime(const TimeFields& f) {
  if (f.hour < 0 || f.hour > 23)
    throw StatusFailure(Status::kGeneralFailure, "hour out of range");
  if (f.minute < 0 || f.minute > 59)
    throw StatusFailure(Status::kGeneralFailure, "minute out of range");
  if (f.second < 0 || f.second > 59)
    throw StatusFailure(Status::kGeneralFailure, "second out of range");
}

void PutTwo(std::u16string& out, int64_t v) {
  out.push_back(static_cast<char16_t>(u'0' + v / 10));
  out.push_back(static_cast<char16_t>(u'0' + v % 10));
}

std::atomic<uint32_t> g_zone_generation{1};
// 1 January 1980 in the local zone: 0 not checked yet, 1 an ordinary day
// (every time of it exists once), 2 irregular. Tagged with the generation.
std::atomic<uint64_t> g_day_1980{0};

bool Is1980Regular() {
  const uint32_t generation = TimeZoneGeneration();
  const uint64_t known = g_day_1980.load(std::memory_order_relaxed);
  if ((known >> 32) == generation && (known & 3) != 0) return (known & 3) == 1;
  bool regular = false;
  try {
    const DateTime first(1980, 1, 1, 0, 0, 0, -1);
    const DateTime last(1980, 1, 1, 23, 59, 59, -1);
    regular = last.Seconds() - first.Seconds() == 86399 &&
              first.Format("%Y-%m-%d %H:%M:%S") == u"1980-01-01 00:00:00" &&
              last.Format("%Y-%m-%d %H:%M:%S") == u"1980-01-01 23:59:59";
  } catch (...) {
    regular = false;
  }
  g_day_1980.store((uint64_t{generation} << 32) | (regular ? 1u : 2u),
                   std::memory_order_relaxed);
  return regular;
}

}  // namespace

bool TryFormatNormalDate(int64_t year, int32_t month, int32_t day,
                         std::u16string& out) {
  // Years 1971..9999 lie after 1970-01-01 UTC in every zone and print with
  // four digits; a day that exists in its month converts to itself.
  if (year < 1971 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month))
    return false;
  out.clear();
  PutTwo(out, day);
  out.push_back(u'-');
  PutTwo(out, month);
  out.push_back(u'-');
  PutTwo(out, year / 100);
  PutTwo(out, year % 100);
  return true;
}

bool TryFormatNormalTime(int64_t hour, int64_t minute, int64_t second,
                         std::u16string& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 ||
      second > 59 || !Is1980Regular())
    return false;
  out.clear();
  PutTwo(out, hour);
  out.push_back(u'-');
  PutTwo(out, minute);
  out.push_back(u'-');
  PutTwo(out, second);
  return true;
}

void NormalizeDateInto(std::u16string_view text, std::u16string& out) {
  const DateFields f = ReadDateFields(text);
  if (TryFormatNormalDate(f.year, f.month, f.day, out)) return;
  const DateTime date(f.year, f.month, f.day, 0, 0, 0, -1);
  out = date.Format("%d-%m-%Y");
}

void NormalizeTimeInto(std::u16string_view text, std::u16string& out) {
  const TimeFields f = ReadTimeFields(text);
  CheckTime(f);
  if (TryFormatNormalTime(f.hour, f.minute, f.second, out)) return;
  const DateTime time(1980, 1, 1, static_cast<int32_t>(f.hour),
                      static_cast<int32_t>(f.minute),
                      static_cast<int32_t>(f.second), -1);
  out = time.Format("%H-%M-%S");
}

std::u16string NormalizeDate(std::u16string_view text) {
  std::u16string out;
  NormalizeDateInto(text, out);
  return out;
}

std::u16string NormalizeTime(std::u16string_view text) {
  std::u16string out;
  NormalizeTimeInto(text, out);
  return out;
}

std::u16string NormalizeDateByConversion(std::u16string_view text) {
  const DateFields f = ReadDateFields(text);
  return DateTime(f.year, f.month, f.day, 0, 0, 0, -1).Format("%d-%m-%Y");
}

std::u16string NormalizeTimeByConversion(std::u16string_view text) {
  const TimeFields f = ReadTimeFields(text);
  CheckTime(f);
  return DateTime(1980, 1, 1, static_cast<int32_t>(f.hour),
                  static_cast<int32_t>(f.minute),
                  static_cast<int32_t>(f.second), -1)
      .Format("%H-%M-%S");
}

std::optional<int32_t> ParseNormalTime(std::u16string_view s) noexcept {
  if (s.size() != 8 || s[2] != u'-' || s[5] != u'-') return std::nullopt;
  int32_t v[3];
  for (int i = 0; i < 3; ++i) {
    const char16_t a = s[static_cast<size_t>(i * 3)];
    const char16_t b = s[static_cast<size_t>(i * 3 + 1)];
    if (a < u'0' || a > u'9' || b < u'0' || b > u'9') return std::nullopt;
    v[i] = (a - u'0') * 10 + (b - u'0');
  }
  if (v[0] > 23 || v[1] > 59 || v[2] > 59) return std::nullopt;
  return v[0] * 3600 + v[1] * 60 + v[2];
}

std::optional<int64_t> ParseNormalDate(std::u16string_view s) noexcept {
  // Years after 9999 are written with more digits: up to ten, for the
  // 2147483647 a value's year is held to.
  if (s.size() < 10 || s.size() > 16 || s[2] != u'-' || s[5] != u'-')
    return std::nullopt;
  int32_t digits[4];
  static constexpr int kAt[4] = {0, 1, 3, 4};
  for (int i = 0; i < 4; ++i) {
    const char16_t c = s[static_cast<size_t>(kAt[i])];
    if (c < u'0' || c > u'9') return std::nullopt;
    digits[i] = c - u'0';
  }
  int64_t year = 0;
  for (size_t i = 6; i < s.size(); ++i) {
    if (s[i] < u'0' || s[i] > u'9') return std::nullopt;
    year = year * 10 + (s[i] - u'0');
  }
  const int32_t day = digits[0] * 10 + digits[1];
  const int32_t month = digits[2] * 10 + digits[3];
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return std::nullopt;
  return DaysFromCivil(year, month, day);
}

std::optional<int> CompareNormalDates(std::u16string_view a,
                                      std::u16string_view b) noexcept {
  const auto x = ParseNormalDate(a);
  const auto y = ParseNormalDate(b);
  if (!x || !y) return std::nullopt;
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}

bool TimesAreRegular() { return Is1980Regular(); }

void ResetTimeZoneCaches() noexcept {
  tzset();
  g_zone_generation.fetch_add(1, std::memory_order_relaxed);
}

uint32_t TimeZoneGeneration() noexcept {
  return g_zone_generation.load(std::memory_order_relaxed);
}

}  // namespace filtermodule
