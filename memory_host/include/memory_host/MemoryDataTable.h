// An in-memory table of rows, stored by column, with a cursor that presents
// one row at a time as an IDataRow.
//
// Columns have one kind each (text, integer, real, date, time); a cell of
// another kind reads as empty text, zero, or a zero date/time record, and a
// missing column likewise, and so does every cell of a row the table does
// not have. Texts of a column live in one buffer, so that a scan over the
// rows reads memory in order. The cursor finds a column by name once per
// name text and then remembers it by the text's address, as a careful host
// may: the module passes the same field-name texts, unchanged, for the
// whole life of a filter. A cursor that is to serve another filter (or
// other name texts at reused addresses) calls ForgetFieldNames first.
// Thread safety: a table may be read by several cursors at once once it is
// filled; each cursor is used by one thread.

#ifndef MEMORY_HOST_MEMORYDATATABLE_H_
#define MEMORY_HOST_MEMORYDATATABLE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filtermodule/FilterModule.h"

namespace memhost {

class MemoryDataTable {
 public:
  enum class Kind { kText, kInteger, kReal, kDate, kTime };

  // Adds a column; returns its index. Every column comes before the rows:
  // throws std::logic_error once a row was added.
  size_t AddColumn(std::u16string name, Kind kind);
  // Appends a row whose cells are all empty / zero; returns its index.
  size_t AddRow();
  void SetText(size_t column, std::u16string_view text);
  void SetInteger(size_t column, int32_t value);
  void SetReal(size_t column, double value);
  void SetDate(size_t column, RowDate date);
  void SetTime(size_t column, RowTime time);
  size_t rows() const { return rows_; }

  // Presents one row of the table.
  class Cursor final : public IDataRow {
   public:
    explicit Cursor(const MemoryDataTable& table) : table_(&table) {}
    void Seek(size_t row) { row_ = row; }
    // Forgets the name texts remembered so far.
    void ForgetFieldNames() {
      for (Hint& h : hints_) h = Hint();
    }

    int32_t GetValueKind(const char16_t* field) override;
    const char16_t* GetText(const char16_t* field) override;
    RowTime GetTime(const char16_t* field) override;
    RowDate GetDate(const char16_t* field) override;
    int32_t GetInteger(const char16_t* field) override;
    double GetReal(const char16_t* field) override;

   private:
    // The column named `field` when it is of `kind`, or null.
    const void* FindColumn(const char16_t* field, Kind kind);
    // The same for a text not remembered yet (or no more): by name.
    const void* FindColumnByName(const char16_t* field, Kind kind);
    // What a name text found, while the table's columns stay as they were.
    struct Hint {
      const char16_t* field = nullptr;
      uint64_t layout = 0;
      const void* column = nullptr;  // null: no column of that name
    };
    static constexpr unsigned kHintBits = 6;
    static constexpr size_t kHints = size_t{1} << kHintBits;
    static constexpr size_t kProbes = 4;
    const MemoryDataTable* table_;
    size_t row_ = 0;
    Hint hints_[kHints];
  };

 private:
  struct Column {
    std::u16string name;
    Kind kind;
    std::vector<int32_t> integers;
    std::vector<double> reals;
    std::vector<RowDate> dates;
    std::vector<RowTime> times;
    std::vector<uint64_t> text_offsets;  // into `texts`, one per row
    std::u16string texts;                // null-terminated texts
  };
  std::vector<Column> columns_;
  size_t rows_ = 0;
  // Names the table's columns as they are: cursors' hints point into
  // columns_ and hold while it is the same. A new value (unique in the
  // process) for every column added, and for a table copied or assigned.
  struct Layout {
    Layout() : value(Next()) {}
    Layout(const Layout&) : value(Next()) {}
    Layout& operator=(const Layout&) {
      value = Next();
      return *this;
    }
    static uint64_t Next();
    uint64_t value;
  };
  Layout layout_;
};

}  // namespace memhost

#endif  // MEMORY_HOST_MEMORYDATATABLE_H_
