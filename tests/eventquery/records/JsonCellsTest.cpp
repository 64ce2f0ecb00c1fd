#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AllocationHooks.h"
#include "records/FieldColumns.h"
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

// Memory running out at each allocation of a parse in turn: the record is
// never passed off as invalid JSON, and the next record is read right (a
// parser reused after a failure crashed on it).
TEST(JsonCellsTest, AFailedAllocationIsNoBadRecordAndBreaksNothing) {
  if (!allochooks::Active()) GTEST_SKIP() << "allocation hooks not active";
  const std::string big =
      R"({"a": ")" + std::string(100000, 'x') + R"(", "b": [1, 2, {"c": 3}]})";
  const std::string next = R"({"a": "y", "b": 7})";
  for (uint64_t at = 1; at < 40; ++at) {
    JsonCells cells;
    Record record;
    allochooks::FailAt(at);
    bool out_of_memory = false;
    try {
      cells.Fill(big, record);
    } catch (const InputError& e) {
      out_of_memory = true;
      EXPECT_NE(std::string(e.what()).find("not enough memory"),
                std::string::npos)
          << e.what();
    } catch (const std::bad_alloc&) {
      out_of_memory = true;  // outside the parse: the caller's to report
    }
    const bool failed = allochooks::FailureHappened();
    allochooks::FailAt(0);
    if (!out_of_memory) {
      EXPECT_EQ(record.problem, "") << "allocation " << at;
    }
    cells.Fill(next, record);
    ASSERT_EQ(record.problem, "") << "allocation " << at;
    ASSERT_EQ(record.cells.size(), cells.columns().size());
    if (!failed) break;  // every allocation of the parse was tried
  }
}

// Text written as a JSON string: escapes where JSON needs them, valid
// UTF-8 as it is, a byte that starts no sequence as U+DC00 + the byte;
// before, between and after runs of plain text.
TEST(JsonCellsTest, TextIsWrittenAsAJsonString) {
  const struct {
    std::string text;
    const char* json;
  } kCases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {"\"", R"("\"")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\n\r\tx", R"("\n\r\tx")"},
      {std::string("a\0b", 3), R"("a\u0000b")"},
      {"\x1f\x7f", "\"\\u001f\x7f\""},
      {"caf\xc3\xa9!", "\"caf\xc3\xa9!\""},
      {"\xff", R"("\udcff")"},
      {"x\xc3", R"("x\udcc3")"},
      {"\xe2\x82\xac"
       "end\"",
       "\"\xe2\x82\xac"
       R"(end\"")"},
  };
  for (const auto& c : kCases) {
    std::string out = "[";
    AppendJsonString(out, c.text);
    EXPECT_EQ(out, std::string("[") + c.json) << c.text;
  }
}

TEST(JsonCellsTest, NestedValuesAreMarked) {
  JsonCells cells;
  cells.WantFields({"o.k"});
  Record record;
  cells.Fill(R"({"s": "x", "o": {"k": [1]}, "a": [], "n": null})", record);
  ASSERT_TRUE(record.problem.empty());
  std::vector<std::string> nested;
  for (uint32_t c : record.nested) nested.push_back(cells.columns()[c]);
  EXPECT_EQ(nested, (std::vector<std::string>{"o", "a", "o.k"}));
  cells.Fill(R"({"s": 1})", record);
  EXPECT_TRUE(record.nested.empty());
  // A key given twice: its last value is the cell, nested or not.
  cells.Fill(R"({"s": {"x": 1}, "s": 5, "a": 1, "a": [2]})", record);
  EXPECT_EQ(record.cells[0], "5");
  ASSERT_EQ(record.nested.size(), 1u);
  EXPECT_EQ(cells.columns()[record.nested[0]], "a");
}

// Filling only the wanted fields' cells: every field finds the cell it
// finds when every cell is filled (in another case, without spaces, by
// path, nested, repeated, null), and the object's keys stay its columns.
TEST(JsonCellsTest, WantedOnlyGivesEveryFieldItsCell) {
  const std::vector<std::string> wanted = {
      "EventID", "user", "SourceName", "Event.System.Computer",
      "Tags.1",  "o",    "gone"};
  const char* const records[] = {
      R"({"EventID": 4625, "User": "adm", "Source Name": "x", "Other": [1]})",
      R"({"Event": {"System": {"Computer": "DC01"}}, "o": {"k": [1, 2.50]}})",
      R"({"Tags": ["a", "b"], "EventID": null, "USER": "b", "user": "c"})",
      R"({"Event.System.Computer": "flat", "o": 1, "o": "last", "n": {}})",
      R"({"__CURSOR": "c", "user": [104, 105], "MESSAGE": [1, 2]})",
  };
  JsonCells all, only;
  all.WantFields(wanted);
  only.WantFields(wanted);
  only.FillWantedOnly();
  FieldColumns from_all(wanted), from_only(wanted);
  from_all.MatchWithoutSpaces();
  from_only.MatchWithoutSpaces();
  for (const char* text : records) {
    Record a, o;
    all.Fill(text, a);
    only.Fill(text, o);
    ASSERT_TRUE(a.problem.empty() && o.problem.empty()) << text;
    EXPECT_EQ(all.columns(), only.columns()) << text;
    EXPECT_EQ(a.keys, o.keys) << text;
    for (size_t i = 0; i < wanted.size(); ++i)
      EXPECT_EQ(from_all.Cell(a, all.columns(), i),
                from_only.Cell(o, only.columns(), i))
          << wanted[i] << " in " << text;
    // What no field can reach is left out.
    for (size_t c = 0; c < only.columns().size(); ++c) {
      const std::string& name = only.columns()[c];
      if (name == "Other" || name == "n" || name == "MESSAGE") {
        EXPECT_FALSE(c < o.cells.size() && o.cells[c]) << name;
      }
    }
  }
}

TEST(JsonValueReaderTest, CellsAsTheReadersMakeThem) {
  JsonValueReader values;
  EXPECT_EQ(values.Cell(R"({"a": {"b": [1, 2.50, "x"]}})", ""),
            R"({"a":{"b":[1,2.5,"x"]}})");
  EXPECT_EQ(values.Cell(R"({"a": {"b": [1, 2.50, "x"]}})", "a.b.1"), "2.5");
  EXPECT_EQ(values.Cell(R"({"a": {"b": [1, 2.50, "x"]}})", "a.b.2"), "x");
  EXPECT_EQ(values.Cell(R"({"a": true})", "a"), "true");
  bool there = false;
  EXPECT_FALSE(values.Cell(R"({"a": null})", "a", &there));
  EXPECT_TRUE(there);
  EXPECT_FALSE(values.Cell(R"({"a": 1})", "b", &there));
  EXPECT_FALSE(there);
  EXPECT_FALSE(values.Cell("null", ""));
  // Text that is no JSON is an error, and the reader goes on after it.
  EXPECT_THROW(values.Cell("{oops", ""), InputError);
  EXPECT_THROW(values.Cell("[1e999999]", ""), InputError);
  EXPECT_EQ(values.Cell("[7]", "0"), "7");
}

}  // namespace
}  // namespace eventquery
