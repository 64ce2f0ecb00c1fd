#include <gtest/gtest.h>

#include <random>
#include <string>

#include "expression/SubstringSearch.h"

namespace filtermodule {
namespace {

TEST(SubstringSearchTest, AgreesWithFindOnRandomTexts) {
  std::mt19937 rng(5);
  auto draw = [&rng](size_t max) {
    std::u16string s(std::uniform_int_distribution<size_t>(0, max)(rng), u'a');
    for (char16_t& c : s)
      c = u"ab"[std::uniform_int_distribution<int>(0, 1)(rng)];
    return s;
  };
  SubstringSearch search;
  for (int i = 0; i < 20000; ++i) {
    const std::u16string needle = draw(5), text = draw(12);
    search.Prepare(needle);
    ASSERT_EQ(search.FoundIn(text), text.find(needle) != std::u16string::npos)
        << i;
  }
}

}  // namespace
}  // namespace filtermodule
