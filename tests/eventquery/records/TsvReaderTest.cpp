#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/TsvReader.h"

namespace eventquery {
namespace {

TEST(TsvTest, SplitsAndEscapes) {
  std::string arena;
  std::vector<std::optional<std::string_view>> cells;
  SplitTsv("a\\tb\t\t\\\\n\\x\\", arena, cells);
  ASSERT_EQ(cells.size(), 3u);
  EXPECT_EQ(*cells[0], "a\tb");
  EXPECT_EQ(*cells[1], "");
  // "\\" is one backslash, so the "n" after it is a letter; an unknown
  // escape and a backslash at the end stay as they are.
  EXPECT_EQ(*cells[2], "\\n\\x\\");
  for (const std::string text : {"plain", "a\tb\nc\rd\\e", "\\t", ""}) {
    const std::string escaped = TsvField(text);  // cells may view into it
    SplitTsv(escaped, arena, cells);
    ASSERT_EQ(cells.size(), 1u) << text;
    EXPECT_EQ(*cells[0], text);
  }
}

}  // namespace
}  // namespace eventquery
