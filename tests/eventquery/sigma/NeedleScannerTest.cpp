// The needle scanner against plain searching: random needles that overlap
// and nest (so that suffix links matter) in random texts with the
// characters whose folding the scanner must know.

#include "NeedleScanner.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// The text as the module folds it, characters beyond ASCII that stay so
// as "#".
std::string Folded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (text.compare(i, 2, "\xc4\xb0") == 0) {
      out += 'i';
      ++i;
    } else if (text.compare(i, 3, "\xe2\x84\xaa") == 0) {
      out += 'k';
      i += 2;
    } else if (b >= 0x80) {
      out += '#';
    } else {
      out += static_cast<char>(b >= 'A' && b <= 'Z' ? b + 32 : b);
    }
  }
  return out;
}

TEST(NeedleScannerTest, FindsWhatPlainSearchFinds) {
  std::mt19937 rng(5);
  auto pick = [&rng](int n) {
    return std::uniform_int_distribution<int>(0, n - 1)(rng);
  };
  const char* const kPieces[] = {"a",        "b",    "A",        "i",
                                 "K",        "k",    "\xc4\xb0", "\xe2\x84\xaa",
                                 "\xc2\xae", "\xff", "\0"};
  for (int round = 0; round < 300; ++round) {
    eventquery::sigma::NeedleScanner scanner;
    std::vector<std::string> needles;
    for (int n = 1 + pick(12); n > 0; --n) {
      std::string needle;
      for (int k = 1 + pick(4); k > 0; --k) needle += "abAiKk"[pick(6)];
      needles.push_back(needle);
      EXPECT_LT(scanner.Add(needle), needles.size());
    }
    scanner.Build();
    std::vector<uint32_t> seen, found;
    for (int t = 0; t < 20; ++t) {
      std::string text;
      for (int k = pick(16); k > 0; --k) {
        const int p = pick(11);
        text.append(kPieces[p], p == 10 ? 1 : std::strlen(kPieces[p]));
      }
      const uint32_t stamp = static_cast<uint32_t>(round * 20 + t + 1);
      found.clear();
      scanner.Scan(text, seen, stamp, found);
      for (uint32_t id : found) EXPECT_EQ(seen[id], stamp);
      for (size_t a = 0; a < found.size(); ++a)
        for (size_t b = a + 1; b < found.size(); ++b)
          EXPECT_NE(found[a], found[b]);  // each once
      const std::string folded = Folded(text);
      for (const std::string& needle : needles) {
        std::string lower = needle;
        for (char& c : lower) c = static_cast<char>(std::tolower(c));
        const uint32_t id = scanner.Add(needle);  // the same id again
        EXPECT_EQ(seen[id] == stamp, folded.find(lower) != std::string::npos)
            << "needle '" << needle << "' in '" << folded << "'";
      }
    }
  }
}

}  // namespace
