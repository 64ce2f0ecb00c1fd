// Text helpers of the expressions: case folding and the case-insensitive
// order, on 16-bit code units.
//
// Folding is the Unicode simple lowercase mapping of every code unit of the
// Basic Multilingual Plane ("Ä" -> "ä", "Σ" -> "σ"); surrogates and code
// units without a mapping stay as they are. Every function here is O(n) in
// the length of its texts, allocates nothing and is safe on any thread.

#ifndef FILTERMODULE_EXPRESSION_TEXT_H_
#define FILTERMODULE_EXPRESSION_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace filtermodule {

// The simple lowercase mapping of `c`.
char16_t FoldCase(char16_t c) noexcept;

// FoldCase, with ASCII, the usual case, without the table.
inline char16_t Lowered(char16_t c) noexcept {
  if (c < 0x80)
    return static_cast<char16_t>(
        c + (static_cast<unsigned>(c - u'A') < 26u ? 32 : 0));
  return FoldCase(c);
}

// Lower-cases `text` in place.
void LowerInPlace(std::u16string& text) noexcept;
// Makes `out` the lower-cased `in`, reusing its buffer.
void AssignLowered(std::u16string& out, std::u16string_view in);

// Case-insensitive order: the first differing pair of folded code units
// decides by value; a text that ends first sorts first. <0, 0 or >0.
int CompareNoCase(std::u16string_view a, std::u16string_view b) noexcept;

inline bool EqualsNoCase(std::u16string_view a,
                         std::u16string_view b) noexcept {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

// The same with `a` a null-terminated text (null: empty), read once.
int CompareNoCase(const char16_t* a, std::u16string_view b) noexcept;
bool EqualsNoCase(const char16_t* a, std::u16string_view b) noexcept;

// `text` as a view; null counts as empty.
inline std::u16string_view ViewOf(const char16_t* text) noexcept {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

// Ordinal order of code units as unsigned numbers. <0, 0 or >0.
inline int CompareOrdinal(std::u16string_view a,
                          std::u16string_view b) noexcept {
  return a.compare(b);
}

// Widens an ASCII text.
std::u16string WidenAscii(std::string_view text);

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_TEXT_H_
