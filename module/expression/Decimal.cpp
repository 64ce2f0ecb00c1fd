#include "expression/Decimal.h"

namespace filtermodule {
namespace {

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsZero(const DecimalText& d) {
  return d.whole.empty() && d.fraction.empty();
}

}  // namespace

std::optional<DecimalText> ParseDecimal(std::u16string_view s) noexcept {
  DecimalText d;
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
    d.negative = s[i++] == u'-';
  const size_t whole_start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  d.whole = s.substr(whole_start, i - whole_start);
  if (i < s.size() && s[i] == u'.') {
    const size_t fraction_start = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    d.fraction = s.substr(fraction_start, i - fraction_start);
  }
  // ".5" and "5." are numbers; "." and "" are not.
  if (i != s.size() || (d.whole.empty() && d.fraction.empty()))
    return std::nullopt;
  while (!d.whole.empty() && d.whole.front() == u'0') d.whole.remove_prefix(1);
  while (!d.fraction.empty() && d.fraction.back() == u'0')
    d.fraction.remove_suffix(1);
  return d;
}

int CompareDecimals(const DecimalText& a, const DecimalText& b) noexcept {
  const bool a_negative = a.negative && !IsZero(a);
  const bool b_negative = b.negative && !IsZero(b);
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  int magnitude = 0;
  if (a.whole.size() != b.whole.size()) {
    magnitude = a.whole.size() < b.whole.size() ? -1 : 1;
  } else if (const int c = a.whole.compare(b.whole)) {
    magnitude = c < 0 ? -1 : 1;
  } else if (const int f = a.fraction.compare(b.fraction)) {
    magnitude = f < 0 ? -1 : 1;
  }
  return a_negative ? -magnitude : magnitude;
}

std::optional<int> CompareDecimals(std::u16string_view a,
                                   std::u16string_view b) noexcept {
  const auto x = ParseDecimal(a);
  const auto y = ParseDecimal(b);
  if (!x || !y) return std::nullopt;
  return CompareDecimals(*x, *y);
}

}  // namespace filtermodule
