#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/CsvCells.h"

namespace eventquery {
namespace {

TEST(CsvTest, SplitsQuotedCells) {
  std::string arena;
  std::vector<std::optional<std::string_view>> cells;
  SplitCsv("a,\"b,c\",\"d\"\"e\",,\"\"", arena, cells);
  ASSERT_EQ(cells.size(), 5u);
  EXPECT_EQ(*cells[0], "a");
  EXPECT_EQ(*cells[1], "b,c");
  EXPECT_EQ(*cells[2], "d\"e");
  EXPECT_EQ(*cells[3], "");
  EXPECT_EQ(*cells[4], "");
  // The edges of quoted and unquoted runs.
  const struct {
    const char* raw;
    std::vector<std::string> want;
  } cases[] = {
      {"", {""}},
      {",", {"", ""}},
      {"a,", {"a", ""}},
      {"\"", {""}},                       // opened, never closed
      {"\"ab", {"ab"}},                   // likewise, with text
      {"\"a,b", {"a,b"}},                 // the rest of the record
      {"\"\"\"\"", {"\""}},               // one doubled quote
      {"\"a\"\"", {"a\""}},               // doubled at the end
      {"\"a\"x,y", {"ax", "y"}},          // text after the closing quote
      {"\"a\"\"x\"z,\"", {"a\"xz", ""}},  // both, then an open cell
      {"a\"b,c", {"a\"b", "c"}},          // a quote inside is literal
      {"x,\"\",\"\"", {"x", "", ""}},
  };
  for (const auto& c : cases) {
    SplitCsv(c.raw, arena, cells);
    std::vector<std::string> got;
    for (const auto& cell : cells) got.emplace_back(*cell);
    EXPECT_EQ(got, c.want) << "record: " << c.raw;
  }
  EXPECT_EQ(CsvField("plain"), "plain");
  EXPECT_EQ(CsvField("a,\"b\""), "\"a,\"\"b\"\"\"");
}

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
