#include "evfilter/CellReaders.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace evfilter {
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

// Reads 1..max_digits digits at `s[*i]`.
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

bool ValidDate(int year, int month, int day) {
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 32767 || month < 1 || month > 12 || day < 1)
    return false;
  if (day > kDays[month - 1]) return false;
  if (month == 2 && day == 29) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (!leap) return false;
  }
  return true;
}

RowDate MakeDate(int year, int month, int day) {
  return RowDate{static_cast<int16_t>(year), static_cast<uint16_t>(month),
                 static_cast<uint16_t>(day)};
}

// hh:mm[:ss] at s[*i]; leaves *i after it.
std::optional<RowTime> ClockTime(std::string_view s, size_t* i) {
  const auto h = Digits(s, i, 1, 2);
  if (!h || *i >= s.size() || s[*i] != ':') return std::nullopt;
  ++*i;
  const auto m = Digits(s, i, 2, 2);
  if (!m) return std::nullopt;
  int sec = 0;
  if (*i < s.size() && s[*i] == ':') {
    ++*i;
    const auto sv = Digits(s, i, 2, 2);
    if (!sv) return std::nullopt;
    sec = *sv;
  }
  if (*h > 23 || *m > 59 || sec > 59) return std::nullopt;
  return RowTime{static_cast<uint16_t>(*h), static_cast<uint16_t>(*m),
                 static_cast<uint16_t>(sec)};
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

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
  double value = 0;
  const auto r = std::from_chars(cell.data(), cell.data() + cell.size(), value);
  if (r.ec != std::errc() || r.ptr != cell.data() + cell.size() ||
      cell.empty() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<RowDate> ReadDate(std::string_view cell) {
  cell = Trim(cell);
  size_t i = 0;
  const auto first = Digits(cell, &i, 1, 4);
  if (!first || i >= cell.size()) return std::nullopt;
  if (cell[i] == '-' && i == 4) {  // yyyy-mm-dd[Thh:mm...]
    ++i;
    const auto month = Digits(cell, &i, 2, 2);
    if (!month || i >= cell.size() || cell[i] != '-') return std::nullopt;
    ++i;
    const auto day = Digits(cell, &i, 2, 2);
    if (!day || !ValidDate(*first, *month, *day)) return std::nullopt;
    if (i != cell.size() && cell[i] != 'T' && cell[i] != 't' && cell[i] != ' ')
      return std::nullopt;
    return MakeDate(*first, *month, *day);
  }
  if (cell[i] == '/') {  // m/d/yyyy
    ++i;
    const auto day = Digits(cell, &i, 1, 2);
    if (!day || i >= cell.size() || cell[i] != '/') return std::nullopt;
    ++i;
    const auto year = Digits(cell, &i, 4, 5);
    if (!year || i != cell.size() || !ValidDate(*year, *first, *day))
      return std::nullopt;
    return MakeDate(*year, *first, *day);
  }
  return std::nullopt;
}

std::optional<RowTime> ReadTime(std::string_view cell) {
  cell = Trim(cell);
  size_t i = 0;
  // The time part of an ISO timestamp.
  if (cell.size() > 10 && cell[4] == '-' &&
      (cell[10] == 'T' || cell[10] == 't' || cell[10] == ' ')) {
    if (!ReadDate(cell.substr(0, 10))) return std::nullopt;
    i = 11;
    return ClockTime(cell, &i);  // seconds fraction and zone are ignored
  }
  auto time = ClockTime(cell, &i);
  if (!time) return std::nullopt;
  std::string_view rest = Trim(cell.substr(i));
  if (rest.empty()) return time;
  const bool pm = EqualsNoCase(rest, "pm");
  if (!pm && !EqualsNoCase(rest, "am")) return std::nullopt;
  if (time->hour < 1 || time->hour > 12) return std::nullopt;
  time->hour = static_cast<uint16_t>(time->hour % 12 + (pm ? 12 : 0));
  return time;
}

bool LooksNumeric(std::string_view text) {
  text = Trim(text);
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  const size_t start = i;
  while (i < text.size() && IsDigit(text[i])) ++i;
  if (i == start) return false;
  if (i < text.size() && text[i] == '.') {
    const size_t fraction = ++i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    if (i == fraction) return false;
  }
  return i == text.size();
}

bool LooksDate(std::string_view text) {
  text = Trim(text);
  size_t i = 0;
  if (!Digits(text, &i, 1, 2) || i >= text.size() || text[i++] != '/')
    return false;
  if (!Digits(text, &i, 1, 2) || i >= text.size() || text[i++] != '/')
    return false;
  return Digits(text, &i, 4, 4) && i == text.size();
}

bool LooksTime(std::string_view text) {
  text = Trim(text);
  size_t i = 0;
  if (!Digits(text, &i, 1, 2) || i >= text.size() || text[i++] != ':')
    return false;
  if (!Digits(text, &i, 2, 2)) return false;
  if (i < text.size() && text[i] == ':') {
    ++i;
    if (!Digits(text, &i, 2, 2)) return false;
  }
  std::string_view rest = Trim(text.substr(i));
  return rest.empty() || EqualsNoCase(rest, "am") || EqualsNoCase(rest, "pm");
}

}  // namespace evfilter
