// Reading integers out of condition values for the interval derivation,
// and zero-filling number texts.
// O(n) in the text; no allocation, but for a ZeroFill that grows its text.

#ifndef FILTERMODULE_EXPRESSION_INTEGERTEXT_H_
#define FILTERMODULE_EXPRESSION_INTEGERTEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace filtermodule {

// Lenient reading: blanks, an optional sign, digits up to the first other
// character (none: 0), clamped to the 32-bit range.
int32_t ReadIntegerValue(std::u16string_view text) noexcept;

// The value when the whole text is blanks, an optional sign and digits that
// fit in 32 bits (" -7", "+5", "0042"); nothing otherwise.
std::optional<int32_t> ReadExactInteger(std::u16string_view text) noexcept;

// For a decimal text d (blanks, sign, digits, optional "." and digits, with
// a digit on one side of the point at least: "5.", ".5"): the
// largest integer below d, or the smallest above it, as 64-bit values
// (saturated far outside the 32-bit range); nothing for any other text.
std::optional<int64_t> LargestIntegerBelow(std::u16string_view text) noexcept;
std::optional<int64_t> SmallestIntegerAbove(std::u16string_view text) noexcept;

// Inserts zeros after the leading blanks and sign of `text` until it is
// `length` long, so that a number keeps its value.
void ZeroFill(std::u16string& text, size_t length);

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_INTEGERTEXT_H_
