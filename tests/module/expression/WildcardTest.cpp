#include <gtest/gtest.h>

#include <random>
#include <string>

#include "WildcardOracle.h"
#include "expression/Wildcard.h"

namespace filtermodule {
namespace {

struct Case {
  const char16_t* pattern;
  const char16_t* text;
  bool match;
};

void ExpectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    EXPECT_EQ(MatchWildcard(c.pattern, c.text), c.match)
        << "pattern and text differ from the table";
    // The table is also the reference's conformance corpus.
    EXPECT_EQ(oracle::MatchWildcard(c.pattern, c.text), c.match);
  }
}

TEST(WildcardTest, EmptyTextAndEmptyPattern) {
  ExpectCases({
      {u"", u"", true},
      {u"*", u"", false},
      {u"**", u"", false},
      {u"?", u"", false},
      {u"", u"a", false},
      {u"*", u"a", true},
      {u"*", u"anything at all", true},
  });
  EXPECT_TRUE(MatchWildcard(nullptr, nullptr));
  EXPECT_FALSE(MatchWildcard(nullptr, u"a"));
  EXPECT_TRUE(MatchWildcard(u"*", u"x"));
}

TEST(WildcardTest, Stars) {
  ExpectCases({
      {u"a*", u"abc", true},
      {u"abc*", u"abc", true},
      {u"*c", u"abc", true},
      {u"*b*", u"abc", true},
      {u"a*c", u"ac", true},
      {u"a*c", u"axyzc", true},
      {u"a*c", u"axyzcd", false},
      {u"a**c", u"abbc", true},
      {u"*a*a*b", u"aaab", true},
      {u"*a*a*b", u"aaac", false},
      {u"A*", u"abc", false},  // exact code units
      {u"*ab", u"aab", true},
      {u"*aab", u"aaab", true},
  });
}

TEST(WildcardTest, QuestionMarks) {
  ExpectCases({
      {u"abc?", u"abc", false},
      {u"*?", u"a", true},
      {u"*??", u"a", false},
      {u"?*", u"a", true},
      {u"a?c", u"abc", true},
      {u"???", u"ab", false},
  });
}

TEST(WildcardTest, SetsAndRanges) {
  ExpectCases({
      {u"[a-c]", u"b", true},     {u"[!a-c]", u"b", false},
      {u"a[!bc]d", u"aed", true}, {u"a[!bc]d", u"abd", false},
      {u"[]]", u"]", true},       {u"[]a]", u"a", true},
      {u"[!]a]", u"b", true},     {u"[!]a]", u"]", false},
      {u"[-a]", u"-", true},      {u"[a-]", u"-", true},
      {u"[z-a]", u"z", true},     {u"[z-a]", u"-", true},
      {u"[z-a]", u"a", true},     {u"[z-a]", u"m", false},
      {u"[a-a]", u"a", true},     {u"[a-a]", u"-", true},
      {u"[a-c-e]", u"d", true},   {u"[a-ce]", u"d", false},
      {u"*[a-c]", u"xxd", false}, {u"*[ab]", u"xxb", true},
      {u"[]-a]", u"_", true},  // "]" starts a range up to "a"
  });
}

TEST(WildcardTest, SpecialCharactersThroughSets) {
  ExpectCases({
      {u"x[*]y", u"x*y", true},
      {u"x[*]y", u"xay", false},
      {u"x[?]y", u"x?y", true},
      {u"x[?]y", u"xay", false},
      {u"[[]", u"[", true},
      {u"a]b", u"a]b", true},
      {u"!-", u"!-", true},
  });
}

TEST(WildcardTest, UnterminatedSetNeverMatches) {
  ExpectCases({
      {u"[", u"[", false},
      {u"[ab", u"a", false},
      {u"a*[b", u"ab", false},
      {u"[!", u"x", false},
      {u"[]", u"]", false},
      {u"[a-", u"a", false},
  });
}

// Random patterns over an alphabet rich in special characters, against the
// literal reference: every disagreement is a bug in one of the two.
TEST(WildcardTest, AgreesWithReferenceOnRandomInputs) {
  std::mt19937 rng(20261208);
  const std::u16string pattern_alphabet = u"*?[]!-abc";
  const std::u16string text_alphabet = u"abc[]!-*?";
  auto draw = [&rng](const std::u16string& alphabet, size_t max_len) {
    std::uniform_int_distribution<size_t> len(0, max_len);
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::u16string s(len(rng), u'a');
    for (char16_t& c : s) c = alphabet[pick(rng)];
    return s;
  };
  int matches = 0;
  for (int i = 0; i < 200000; ++i) {
    const std::u16string p = draw(pattern_alphabet, 7);
    const std::u16string t = draw(text_alphabet, 7);
    const bool expected = oracle::MatchWildcard(p.c_str(), t.c_str());
    ASSERT_EQ(MatchWildcard(p.c_str(), t.c_str()), expected)
        << "case " << i << " pattern length " << p.size();
    matches += expected;
  }
  EXPECT_GT(matches, 1000);  // the corpus exercises matches, not just misses
}

TEST(WildcardTest, StarHeavyPatternStaysCorrectOnLongText) {
  const std::u16string text(10000, u'a');
  EXPECT_FALSE(MatchWildcard(u"*a*a*a*a*a*a*a*a*a*a*a*a*b", text.c_str()));
  EXPECT_TRUE(MatchWildcard(u"*a*a*a*a*a*a*a*a*a*a*a*a*", text.c_str()));
  const std::u16string text_b = text + u"b";
  EXPECT_TRUE(MatchWildcard(u"*a*a*a*a*a*a*a*a*a*a*a*a*b", text_b.c_str()));
}

TEST(WildcardTest, HundredThousandStarsDoNotExhaustTheStack) {
  const std::u16string stars(100000, u'*');
  EXPECT_TRUE(MatchWildcard(stars.c_str(), u"abc"));
  EXPECT_FALSE(MatchWildcard(stars.c_str(), u""));
  const std::u16string stars_b = stars + u"b";
  EXPECT_FALSE(MatchWildcard(stars_b.c_str(), u"aaaa"));
}

TEST(WildcardTest, HundredThousandCharacterSet) {
  std::u16string set = u"[";
  for (int i = 0; i < 100000; ++i) set.push_back(u'a' + i % 20);
  set += u"z]";
  const std::u16string pattern = u"*" + set;
  EXPECT_TRUE(MatchWildcard(pattern.c_str(), u"xxxxz"));
  EXPECT_FALSE(MatchWildcard(pattern.c_str(), u"xxxxy"));
  const std::u16string open = u"*" + set.substr(0, set.size() - 1);
  EXPECT_FALSE(MatchWildcard(open.c_str(), u"xxxxz"));
}

}  // namespace
}  // namespace filtermodule
