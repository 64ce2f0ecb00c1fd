// An in-memory data row: values by field name.
//
// A field may hold a text, a number (integer or real), a date and a time at
// once, each set on its own; an accessor reads its own kind and gives empty
// text, zero, or a zero date/time record when that kind was not set (a
// number read as a real gives its integer too). Field names are matched
// exactly. Setting fields in the order the row was filled before costs
// O(1) each, otherwise a scan of the row's fields; lookups allocate
// nothing, and Clear keeps the storage for the next row.
// Thread safety: none; one thread at a time.

#ifndef MEMORY_HOST_MEMORYDATAROW_H_
#define MEMORY_HOST_MEMORYDATAROW_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filtermodule/FilterModule.h"

namespace memhost {

class MemoryDataRow : public IDataRow {
 public:
  MemoryDataRow() = default;
  virtual ~MemoryDataRow() = default;

  // 1 for an integer (or a field without a number), 0 for a real.
  int32_t GetValueKind(const char16_t* field) override;
  const char16_t* GetText(const char16_t* field) override;
  RowTime GetTime(const char16_t* field) override;
  RowDate GetDate(const char16_t* field) override;
  int32_t GetInteger(const char16_t* field) override;
  double GetReal(const char16_t* field) override;

  void SetText(std::u16string_view field, std::u16string_view text);
  void SetInteger(std::u16string_view field, int32_t value);
  void SetReal(std::u16string_view field, double value);
  void SetDate(std::u16string_view field, RowDate date);
  void SetTime(std::u16string_view field, RowTime time);
  // Forgets every value but keeps the fields' storage for reuse.
  void Clear();

 private:
  struct Field {
    std::u16string name;
    bool used = false;
    bool has_text = false;
    bool has_number = false;
    bool is_integer = true;
    bool has_date = false;
    bool has_time = false;
    std::u16string text;
    int32_t integer = 0;
    double real = 0;
    RowDate date{0, 0, 0};
    RowTime time{0, 0, 0};
  };

  Field* Find(const char16_t* field);
  Field& Slot(std::u16string_view field);

  std::vector<Field> fields_;
  size_t next_ = 0;  // the slot after the one set last
};

}  // namespace memhost

#endif  // MEMORY_HOST_MEMORYDATAROW_H_
