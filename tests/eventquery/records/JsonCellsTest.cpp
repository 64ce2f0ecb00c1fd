#include <gtest/gtest.h>

#include <string>

#include "records/JsonCells.h"

namespace eventquery {
namespace {

TEST(JsonPathTest, KeysAsTheyStandComeFirst) {
  simdjson::dom::parser parser;
  const simdjson::padded_string json(std::string_view(
      R"({"a.b": 1, "a": {"b": 2, "c": [3, {"d": 4}], "x.y": {"z": 5}},)"
      R"( "e": [[6]]})"));
  simdjson::dom::element doc = parser.parse(json);
  auto at = [&](std::string_view path) {
    simdjson::dom::element found;
    return FindPath(doc, path, &found) ? simdjson::minify(found)
                                       : std::string("none");
  };
  EXPECT_EQ(at("a.b"), "1");
  EXPECT_EQ(at("a.c.0"), "3");
  EXPECT_EQ(at("a.c.1.d"), "4");
  EXPECT_EQ(at("a.x.y.z"), "5");
  EXPECT_EQ(at("e.0.0"), "6");
  EXPECT_EQ(at("a.c.2"), "none");
  EXPECT_EQ(at("a.c.01"), "none");  // no leading zeros in an index
  EXPECT_EQ(at("a.c.-1"), "none");
  EXPECT_EQ(at("a..b"), "none");
  EXPECT_EQ(at("a.b.c"), "none");
}

}  // namespace
}  // namespace eventquery
