#include "expression/Decimal.h"

namespace filtermodule {
namespace {

struct Decimal {
  bool negative = false;
  std::u16string_view whole;     // without leading zeros
  std::u16string_view fraction;  // without trailing zeros
  bool IsZero() const { return whole.empty() && fraction.empty(); }
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool Parse(std::u16string_view s, Decimal* d) {
  size_t i = 0;
  while (i < s.size() && (s[i] == u' ' || s[i] == u'\t')) ++i;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
    d->negative = s[i++] == u'-';
  const size_t whole_start = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  if (i == whole_start) return false;
  d->whole = s.substr(whole_start, i - whole_start);
  if (i < s.size() && s[i] == u'.') {
    const size_t fraction_start = ++i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    if (i == fraction_start) return false;
    d->fraction = s.substr(fraction_start, i - fraction_start);
  }
  if (i != s.size()) return false;
  while (!d->whole.empty() && d->whole.front() == u'0')
    d->whole.remove_prefix(1);
  while (!d->fraction.empty() && d->fraction.back() == u'0')
    d->fraction.remove_suffix(1);
  return true;
}

// Order of the magnitudes.
int CompareMagnitude(const Decimal& a, const Decimal& b) {
  if (a.whole.size() != b.whole.size())
    return a.whole.size() < b.whole.size() ? -1 : 1;
  if (const int c = a.whole.compare(b.whole)) return c < 0 ? -1 : 1;
  if (const int c = a.fraction.compare(b.fraction)) return c < 0 ? -1 : 1;
  return 0;
}

}  // namespace

std::optional<int> CompareDecimals(std::u16string_view a,
                                   std::u16string_view b) noexcept {
  Decimal x, y;
  if (!Parse(a, &x) || !Parse(b, &y)) return std::nullopt;
  const bool x_negative = x.negative && !x.IsZero();
  const bool y_negative = y.negative && !y.IsZero();
  if (x_negative != y_negative) return x_negative ? -1 : 1;
  const int magnitude = CompareMagnitude(x, y);
  return x_negative ? -magnitude : magnitude;
}

}  // namespace filtermodule
