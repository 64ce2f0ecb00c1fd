// Exact comparison of decimal number texts.
//
// A decimal text is: optional blanks, an optional "+" or "-", digits, and
// optionally "." and more digits, with at least one digit on either side of
// the point ("5", "5.", ".5", "-.5"), and nothing else. Two such texts compare
// by their exact values: leading zeros, trailing fractional zeros and the sign
// of zero do not matter, and no binary floating-point conversion is involved.
// O(n), no allocation.

#ifndef FILTERMODULE_EXPRESSION_DECIMAL_H_
#define FILTERMODULE_EXPRESSION_DECIMAL_H_

#include <optional>
#include <string_view>

namespace filtermodule {

// A parsed decimal text; its views point into the text it was read from.
struct DecimalText {
  bool negative = false;
  std::u16string_view whole;     // without leading zeros
  std::u16string_view fraction;  // without trailing zeros
};

// The decimal that `text` holds, or nothing.
std::optional<DecimalText> ParseDecimal(std::u16string_view text) noexcept;

// <0, 0 or >0 by value.
int CompareDecimals(const DecimalText& a, const DecimalText& b) noexcept;

// <0, 0 or >0 by value; nothing when either text is not a decimal text.
std::optional<int> CompareDecimals(std::u16string_view a,
                                   std::u16string_view b) noexcept;

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_DECIMAL_H_
