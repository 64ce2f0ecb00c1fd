// The in-memory table's cursor: columns found by name and then remembered
// by the name text's address; and the in-memory row, refilled row after
// row.

#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryDataTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace memhost {
namespace {

using Kind = MemoryDataTable::Kind;

TEST(MemoryDataTableTest, CellsReadByKindAndNothingElse) {
  MemoryDataTable table;
  const size_t id = table.AddColumn(u"EventID", Kind::kInteger);
  const size_t user = table.AddColumn(u"User", Kind::kText);
  const size_t size = table.AddColumn(u"Size", Kind::kReal);
  const size_t day = table.AddColumn(u"Day", Kind::kDate);
  const size_t time = table.AddColumn(u"Time", Kind::kTime);
  table.AddRow();
  table.SetInteger(id, 4625);
  table.SetText(user, u"alice");
  table.SetReal(size, 2.5);
  table.SetDate(day, RowDate{2026, 12, 9});
  table.SetTime(time, RowTime{23, 59, 58});
  table.AddRow();  // every cell left empty
  MemoryDataTable::Cursor row(table);
  EXPECT_EQ(row.GetInteger(u"EventID"), 4625);
  EXPECT_EQ(row.GetValueKind(u"EventID"), 1);
  EXPECT_EQ(std::u16string(row.GetText(u"User")), u"alice");
  EXPECT_EQ(row.GetValueKind(u"Size"), 0);
  EXPECT_EQ(row.GetReal(u"Size"), 2.5);
  EXPECT_EQ(row.GetDate(u"Day").day, 9);
  EXPECT_EQ(row.GetTime(u"Time").second, 58);
  // Another kind, or no such column: empty text, zero.
  EXPECT_EQ(std::u16string(row.GetText(u"EventID")), u"");
  EXPECT_EQ(row.GetInteger(u"User"), 0);
  EXPECT_EQ(row.GetInteger(u"eventid"), 0);  // names are exact
  EXPECT_EQ(std::u16string(row.GetText(nullptr)), u"");
  row.Seek(2);  // no such row
  EXPECT_EQ(row.GetInteger(u"EventID"), 0);
  EXPECT_EQ(std::u16string(row.GetText(u"User")), u"");
  row.Seek(1);
  EXPECT_EQ(row.GetInteger(u"EventID"), 0);
  EXPECT_EQ(std::u16string(row.GetText(u"User")), u"");
  EXPECT_EQ(row.GetDate(u"Day").year, 0);
}

// More name texts than the cursor remembers, many sharing slots: each
// still reads its own column, the first time and every time after.
TEST(MemoryDataTableTest, ManyNameTextsEachFindTheirColumn) {
  MemoryDataTable table;
  constexpr int kColumns = 150;
  for (int c = 0; c < kColumns; ++c) {
    const std::string name = "F" + std::to_string(c);
    table.AddColumn(std::u16string(name.begin(), name.end()), Kind::kInteger);
  }
  table.AddRow();
  for (int c = 0; c < kColumns; ++c)
    table.SetInteger(static_cast<size_t>(c), c * 10);
  // Two texts per column at distinct addresses, as two filters hold them.
  std::vector<std::unique_ptr<std::u16string>> texts;
  for (int copy = 0; copy < 2; ++copy)
    for (int c = 0; c < kColumns; ++c) {
      const std::string name = "F" + std::to_string(c);
      texts.push_back(
          std::make_unique<std::u16string>(name.begin(), name.end()));
    }
  MemoryDataTable::Cursor row(table);
  for (int pass = 0; pass < 3; ++pass)
    for (size_t t = 0; t < texts.size(); ++t)
      ASSERT_EQ(row.GetInteger(texts[t]->c_str()),
                static_cast<int32_t>(t % kColumns) * 10)
          << "pass " << pass << ", text " << t;
}

// A column added after a name was remembered moves the columns in memory;
// and a text rewritten in place, after ForgetFieldNames, names anew.
TEST(MemoryDataTableTest, RememberedNamesFollowTheTable) {
  MemoryDataTable table;
  table.AddColumn(u"A", Kind::kInteger);
  MemoryDataTable::Cursor row(table);
  EXPECT_EQ(row.GetInteger(u"A"), 0);  // no row yet: reads empty
  for (int c = 0; c < 20; ++c)
    table.AddColumn(u"B" + std::u16string(1, static_cast<char16_t>(u'a' + c)),
                    Kind::kText);
  table.AddRow();
  table.SetInteger(0, 7);
  table.SetText(5, u"five");
  EXPECT_EQ(row.GetInteger(u"A"), 7);
  EXPECT_EQ(std::u16string(row.GetText(u"Be")), u"five");

  EXPECT_THROW(table.AddColumn(u"late", Kind::kInteger), std::logic_error);

  char16_t name[] = u"A";
  EXPECT_EQ(row.GetInteger(name), 7);
  name[0] = u'Z';  // no column Z
  row.ForgetFieldNames();
  EXPECT_EQ(row.GetInteger(name), 0);
}

// A table assigned anew, with the same columns as before: what the cursor
// remembered pointed into the columns that were freed.
TEST(MemoryDataTableTest, AnAssignedTableIsFoundAnew) {
  MemoryDataTable table;
  table.AddColumn(u"A", Kind::kText);
  table.AddRow();
  table.SetText(0, u"old");
  MemoryDataTable::Cursor row(table);
  EXPECT_EQ(std::u16string(row.GetText(u"A")), u"old");
  table = MemoryDataTable();
  table.AddColumn(u"A", Kind::kText);
  table.AddRow();
  table.SetText(0, u"new");
  EXPECT_EQ(std::u16string(row.GetText(u"A")), u"new");
}

// Rows refilled in their former order, in another, with a field set
// twice, with fields of the row before left out or new ones: each read
// gives this row's value, and a field not set this row reads as unset.
TEST(MemoryDataTableTest, RowsRefilledInAnyOrderHoldTheirOwnValues) {
  MemoryDataRow row;
  const std::vector<std::vector<std::u16string>> orders = {
      {u"a", u"b", u"c"}, {u"a", u"b", u"c"},       {u"c", u"a"},
      {u"b", u"d", u"a"}, {u"a", u"b", u"c", u"d"}, {u"d"}};
  int n = 0;
  for (const auto& order : orders) {
    row.Clear();
    for (const std::u16string& name : order) {
      row.SetText(name, name + u"!");
      row.SetInteger(name, ++n);  // the same field again
    }
    for (const char16_t* name : {u"a", u"b", u"c", u"d"}) {
      const bool set =
          std::find(order.begin(), order.end(), name) != order.end();
      EXPECT_EQ(std::u16string(row.GetText(name)),
                set ? std::u16string(name) + u"!" : u"")
          << static_cast<char>(name[0]) << " in row of " << order.size();
      if (!set) {
        EXPECT_EQ(row.GetInteger(name), 0);
      }
    }
  }
  // The last one set reads its number.
  EXPECT_EQ(row.GetInteger(u"d"), n);
}

}  // namespace
}  // namespace memhost
