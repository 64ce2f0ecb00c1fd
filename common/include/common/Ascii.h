// Comparisons of names and keywords that ignore ASCII case, for the tools
// around the module (field names, command names, keywords). Bytes outside
// ASCII compare as they are. Thread safety: pure functions.

#ifndef COMMON_ASCII_H_
#define COMMON_ASCII_H_

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

namespace common {

constexpr char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Equality ignoring ASCII case. Linear.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

// Levenshtein distance ignoring ASCII case (for "did you mean"). Costs
// O(|a| x |b|) time and O(|b|) memory.
inline size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const bool same = AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]);
      row[j] =
          std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace common

#endif  // COMMON_ASCII_H_
