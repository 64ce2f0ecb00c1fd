#include "expression/IntegerText.h"

#include <limits>

namespace filtermodule {
namespace {

constexpr int64_t kSaturated = int64_t{1} << 40;  // far outside 32 bits

bool IsBlank(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' ||
         c == u'\r';
}
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

struct Reading {
  bool negative = false;
  int64_t whole = 0;           // saturated at kSaturated
  size_t digits = 0;           // digits of the whole part
  size_t fraction_digits = 0;  // digits after a "."
  bool nonzero_fraction = false;
  size_t end = 0;  // index after what was read

  bool IsNumber(size_t size) const {
    return digits + fraction_digits > 0 && end == size;
  }
};

Reading Read(std::u16string_view s, bool with_fraction) {
  Reading r;
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
    r.negative = s[i++] == u'-';
  for (; i < s.size() && IsDigit(s[i]); ++i, ++r.digits) {
    r.whole = r.whole * 10 + (s[i] - u'0');
    if (r.whole > kSaturated) r.whole = kSaturated;
  }
  // A point needs a digit on one side at least: ".5" and "5." are numbers.
  if (with_fraction && i < s.size() && s[i] == u'.' &&
      (r.digits > 0 || (i + 1 < s.size() && IsDigit(s[i + 1])))) {
    for (++i; i < s.size() && IsDigit(s[i]); ++i, ++r.fraction_digits)
      r.nonzero_fraction = r.nonzero_fraction || s[i] != u'0';
  }
  r.end = i;
  return r;
}

int32_t Clamp(int64_t v) {
  if (v > std::numeric_limits<int32_t>::max())
    return std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min())
    return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

}  // namespace

int32_t ReadIntegerValue(std::u16string_view text) noexcept {
  const Reading r = Read(text, false);
  return Clamp(r.negative ? -r.whole : r.whole);
}

std::optional<int32_t> ReadExactInteger(std::u16string_view text) noexcept {
  const Reading r = Read(text, false);
  if (r.digits == 0 || r.end != text.size()) return std::nullopt;
  const int64_t v = r.negative ? -r.whole : r.whole;
  if (v != Clamp(v)) return std::nullopt;
  return static_cast<int32_t>(v);
}

std::optional<int64_t> LargestIntegerBelow(std::u16string_view text) noexcept {
  const Reading r = Read(text, true);
  if (!r.IsNumber(text.size())) return std::nullopt;
  if (r.negative) return -r.whole - 1;  // below -w.f is at most -w-1
  return r.nonzero_fraction ? r.whole : r.whole - 1;
}

std::optional<int64_t> SmallestIntegerAbove(std::u16string_view text) noexcept {
  const Reading r = Read(text, true);
  if (!r.IsNumber(text.size())) return std::nullopt;
  if (!r.negative) return r.whole + 1;
  return r.nonzero_fraction ? -r.whole : -r.whole + 1;
}

void ZeroFill(std::u16string& text, size_t length) {
  if (text.size() >= length) return;
  size_t at = 0;
  while (at < text.size() && (text[at] == u' ' || text[at] == u'\t')) ++at;
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) ++at;
  text.insert(at, length - text.size(), u'0');
}

}  // namespace filtermodule
