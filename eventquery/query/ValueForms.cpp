#include "query/ValueForms.h"

#include <re2/re2.h>

#include <charconv>

#include "common/Ascii.h"
#include "common/CivilCalendar.h"
#include "common/Utf8.h"

namespace eventquery {
namespace {

constexpr const char* kPeriods[] = {"TODAY", "YESTERDAY", "LAST 30 DAYS",
                                    "THIS MONTH", "LAST MONTH"};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t DigitRun(std::string_view s, size_t i) {
  size_t n = 0;
  while (i + n < s.size() && IsDigit(s[i + n])) ++n;
  return n;
}

int Number(std::string_view s) {
  int v = 0;
  for (char c : s) v = v * 10 + (c - '0');
  return v;
}

// The date of a value in either accepted form, or an error.
std::optional<std::string> ReadValueDate(std::string_view s, int* year,
                                         int* month, int* day) {
  const std::string bad = "'" + std::string(s) + "' is not a date; ";
  size_t a = DigitRun(s, 0);
  if (a == 4 && a < s.size() && s[a] == '-') {  // yyyy-mm-dd
    const size_t b = DigitRun(s, 5);
    if (b != 2 || 7 >= s.size() || s[7] != '-' || DigitRun(s, 8) != 2 ||
        s.size() != 10)
      return bad + kDateForms;
    *year = Number(s.substr(0, 4));
    *month = Number(s.substr(5, 2));
    *day = Number(s.substr(8, 2));
  } else if (a >= 1 && a <= 2 && a < s.size() && s[a] == '/') {  // m/d/yyyy
    const size_t b = DigitRun(s, a + 1);
    const size_t c_at = a + 1 + b + 1;
    if (b < 1 || b > 2 || a + 1 + b >= s.size() || s[a + 1 + b] != '/' ||
        DigitRun(s, c_at) != 4 || c_at + 4 != s.size())
      return bad + kDateForms;
    *month = Number(s.substr(0, a));
    *day = Number(s.substr(a + 1, b));
    *year = Number(s.substr(c_at, 4));
  } else {
    return bad + kDateForms;
  }
  if (*month < 1 || *month > 12 || *day < 1 ||
      *day > common::DaysInMonth(*year, *month))
    return "'" + std::string(s) + "' is not a day of the calendar";
  if (*year < 1970 || *year > 9999)
    return "'" + std::string(s) +
           "' is outside the years 1970 to 9999 that dates can hold";
  return std::nullopt;
}

// The time of a value, or an error; the fraction of its second (".5",
// up to nine digits) in nanoseconds.
std::optional<std::string> ReadValueTime(std::string_view s, int* hour,
                                         int* minute, int* second,
                                         int32_t* nanoseconds) {
  const std::string bad = "'" + std::string(s) + "' is not a time; ";
  const size_t h = DigitRun(s, 0);
  if (h < 1 || h > 2 || h >= s.size() || s[h] != ':' || DigitRun(s, h + 1) != 2)
    return bad + kTimeForms;
  *hour = Number(s.substr(0, h));
  *minute = Number(s.substr(h + 1, 2));
  *second = 0;
  *nanoseconds = 0;
  size_t i = h + 3;
  if (i < s.size() && s[i] == ':') {
    if (DigitRun(s, i + 1) != 2) return bad + kTimeForms;
    *second = Number(s.substr(i + 1, 2));
    i += 3;
    if (i < s.size() && s[i] == '.') {
      const size_t digits = DigitRun(s, i + 1);
      if (digits < 1 || digits > 9)
        return "'" + std::string(s) +
               "' is not a time: a fraction of a second has 1 to 9 digits";
      *nanoseconds = Number(s.substr(i + 1, digits));
      for (size_t k = digits; k < 9; ++k) *nanoseconds *= 10;
      i += 1 + digits;
    }
  }
  const std::string_view marker = Trim(s.substr(i));
  if (!marker.empty()) {
    const bool pm = common::EqualsNoCase(marker, "PM");
    if (!pm && !common::EqualsNoCase(marker, "AM")) return bad + kTimeForms;
    if (*hour < 1 || *hour > 12)
      return "'" + std::string(s) +
             "' is not a time: with AM or PM the hour is 1 to 12";
    *hour = *hour % 12 + (pm ? 12 : 0);
  }
  if (*hour > 23 || *minute > 59 || *second > 59)
    return "'" + std::string(s) + "' is not a time of day";
  return std::nullopt;
}

std::string TwoDigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10)) +
         static_cast<char>('0' + v % 10);
}

}  // namespace

bool LooksNumeric(std::string_view text) {
  text = Trim(text);
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const size_t whole = DigitRun(text, i);
  i += whole;
  size_t fraction = 0;
  if (i < text.size() && text[i] == '.') {
    fraction = DigitRun(text, i + 1);
    i += 1 + fraction;
  }
  // A digit on one side of the point is enough: "5.", ".5", "-.5".
  return whole + fraction > 0 && i == text.size();
}

bool LooksLikeDate(std::string_view text) {
  text = Trim(text);
  const size_t n = DigitRun(text, 0);
  return n > 0 && n + 1 < text.size() && (text[n] == '/' || text[n] == '-') &&
         IsDigit(text[n + 1]);
}

bool LooksLikeTime(std::string_view text) {
  text = Trim(text);
  const size_t n = DigitRun(text, 0);
  return n > 0 && n + 1 < text.size() && text[n] == ':' && IsDigit(text[n + 1]);
}

bool IsPeriodKeyword(std::string_view text) {
  for (const char* period : kPeriods)
    if (common::EqualsNoCase(text, period)) return true;
  return false;
}

bool SplitTimestamp(std::string_view text, std::string* date,
                    std::string* time) {
  text = Trim(text);
  if (!LooksLikeDate(text)) return false;
  size_t i = 0;
  while (i < text.size() &&
         (IsDigit(text[i]) || text[i] == '/' || text[i] == '-'))
    ++i;
  if (i >= text.size() || (text[i] != ' ' && text[i] != 'T' && text[i] != 't'))
    return false;
  const std::string_view rest = Trim(text.substr(i + 1));
  if (!LooksLikeTime(rest)) return false;
  *date = std::string(text.substr(0, i));
  *time = std::string(rest);
  return true;
}

std::optional<int32_t> SecondsOfDay(std::string_view value) {
  int hour = 0, minute = 0, second = 0;
  int32_t nanoseconds = 0;
  const std::string_view v = Trim(value);
  // The form PrepareValue writes, whose AM or PM the module reads alike.
  if (v.size() < 3 || (!common::EqualsNoCase(v.substr(v.size() - 2), "AM") &&
                       !common::EqualsNoCase(v.substr(v.size() - 2), "PM")))
    return std::nullopt;
  if (ReadValueTime(v, &hour, &minute, &second, &nanoseconds) ||
      nanoseconds != 0)
    return std::nullopt;
  return hour * 3600 + minute * 60 + second;
}

std::optional<int> OrderOfValues(int32_t type, std::string_view a,
                                 std::string_view b) {
  // A value as one number that orders like it: a number, days * 86400 +
  // seconds, or seconds.
  auto key = [type](std::string_view v) -> std::optional<double> {
    v = Trim(v);
    if (type == kTypeNumeric) {
      double x = 0;
      const auto r = std::from_chars(v.data() + (!v.empty() && v[0] == '+'),
                                     v.data() + v.size(), x);
      if (r.ec != std::errc() || r.ptr != v.data() + v.size())
        return std::nullopt;
      return x;
    }
    std::string date_text, time_text;
    if (type == kTypeTime)
      time_text = std::string(v);
    else if (!SplitTimestamp(v, &date_text, &time_text))
      date_text = std::string(v);
    double seconds = 0;
    if (!date_text.empty()) {
      int year = 0, month = 0, day = 0;
      if (ReadValueDate(date_text, &year, &month, &day)) return std::nullopt;
      seconds =
          static_cast<double>(common::DaysFromCivil(year, month, day)) * 86400;
    }
    if (!time_text.empty()) {
      int hour = 0, minute = 0, second = 0;
      int32_t nanoseconds = 0;
      if (ReadValueTime(time_text, &hour, &minute, &second, &nanoseconds))
        return std::nullopt;
      seconds += hour * 3600 + minute * 60 + second + nanoseconds / 1e9;
    }
    return seconds;
  };
  if (type != kTypeNumeric && type != kTypeDate && type != kTypeTime)
    return std::nullopt;
  const auto x = key(a), y = key(b);
  if (!x || !y) return std::nullopt;
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}

std::shared_ptr<const re2::RE2> CompileMatches(const std::u16string& pattern,
                                               std::string* error) {
  RE2::Options options;
  options.set_case_sensitive(false);
  options.set_log_errors(false);
  auto regex = std::make_shared<const RE2>(common::ToUtf8(pattern), options);
  if (regex->ok()) return regex;
  *error = regex->error();
  return nullptr;
}

std::optional<std::string> PrepareValue(ConditionLine& line) {
  const std::string value = common::ToUtf8(line.value);
  const std::string_view trimmed = Trim(value);
  if (line.matches) {
    if (line.type != kTypeText || line.op != kOpContains)
      return "a regular expression (MATCHES) compares text; this field is " +
             std::string(line.type == kTypeNumeric ? "numeric"
                         : line.type == kTypeDate  ? "a date"
                         : line.type == kTypeTime  ? "a time"
                                                   : "not compared as text");
    std::string error;
    if (!CompileMatches(line.value, &error))
      return "'" + value + "' is no regular expression: " + error;
    return std::nullopt;
  }
  if (line.op == kOpNamedPeriod) {
    if (line.type != kTypeDate)
      return "a period (IN) needs a date field; this one is " +
             std::string(line.type == kTypeNumeric ? "numeric"
                         : line.type == kTypeText  ? "text"
                                                   : "a time");
    if (!IsPeriodKeyword(value))
      return "'" + value +
             "' is not a period; accepted: TODAY, YESTERDAY, LAST 30 DAYS, "
             "THIS MONTH, LAST MONTH";
    return std::nullopt;
  }
  switch (line.type) {
    case 0:  // numeric
      if ((line.op == kOpEquals || line.op == kOpLess ||
           line.op == kOpGreater) &&
          !LooksNumeric(value))
        return "'" + value + "' is not a number";
      return std::nullopt;
    case 2: {  // date
      if (IsPeriodKeyword(value))
        return "'" + value + "' is a period: write IN " + value;
      int year = 0, month = 0, day = 0;
      if (auto problem = ReadValueDate(trimmed, &year, &month, &day))
        return problem;
      line.value =
          common::ToUtf16(std::to_string(month) + "/" + std::to_string(day) +
                          "/" + std::to_string(year));
      return std::nullopt;
    }
    case 3: {  // time
      int hour = 0, minute = 0, second = 0;
      if (auto problem = ReadValueTime(trimmed, &hour, &minute, &second,
                                       &line.nanoseconds))
        return problem;
      if (line.nanoseconds != 0 && line.op != kOpEquals && line.op != kOpLess &&
          line.op != kOpGreater)
        return "'" + value +
               "': LIKE and CONTAINS compare a time's text, which has no "
               "fraction of a second";
      const int twelve = hour % 12 == 0 ? 12 : hour % 12;
      line.value = common::ToUtf16(std::to_string(twelve) + ":" +
                                   TwoDigits(minute) + ":" + TwoDigits(second) +
                                   (hour < 12 ? " AM" : " PM"));
      return std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

}  // namespace eventquery
