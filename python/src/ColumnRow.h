// A data row over a frame's prepared columns (FieldColumn): Seek makes it
// the frame's row at an index, and its accessors serve that row's readings
// without computing anything.
//
// The module passes each field name as a pointer into its own copy of the
// condition line, unchanged for the filter's life (docs/HOST.md), so the
// row remembers which field a pointer named and finds it again by address;
// a pointer it has not seen is compared by text once. A field the row does
// not have reads as empty text, zero, and zero dates and times, as in the
// in-memory row. Filters that are destroyed may leave their addresses to
// new ones: after a filter it served is gone, call ForgetFieldNames.
//
// Thread safety: one thread at a time; no Python.

#ifndef FILTERMODULE_PYTHON_COLUMNROW_H_
#define FILTERMODULE_PYTHON_COLUMNROW_H_

#include <cstdint>
#include <string>
#include <vector>

#include "FieldColumn.h"
#include "filtermodule/FilterModule.h"

namespace fmpython {

class ColumnRow final : public IDataRow {
 public:
  // Serves `fields` (not owned; they must outlive the row).
  explicit ColumnRow(std::vector<FieldColumn*> fields);
  virtual ~ColumnRow() = default;

  // Makes this the frame's row `row`; true when its values force some
  // condition.
  bool Seek(size_t row) {
    uint32_t forces = 0;
    for (Field& f : fields_) {
      const uint32_t at = f.column->At(row);
      forces |= at;
      f.at = at & ~FieldColumn::kForces;
      f.forces = (at & FieldColumn::kForces) != 0;
    }
    return (forces & FieldColumn::kForces) != 0;
  }
  // The marks of every condition for the current row (see RowFeeder):
  // `forced` gets one per condition line, `lines` long.
  void Marks(size_t lines, std::string& forced) const;
  void ForgetFieldNames() {
    known_.clear();
    last_ = 0;
  }

  int32_t GetValueKind(const char16_t* field) override;
  const char16_t* GetText(const char16_t* field) override;
  RowTime GetTime(const char16_t* field) override;
  RowDate GetDate(const char16_t* field) override;
  int32_t GetInteger(const char16_t* field) override;
  double GetReal(const char16_t* field) override;

 private:
  struct Field {
    FieldColumn* column;
    FieldColumn::View view;
    uint32_t at;  // the current row's distinct value
    bool forces;  // the current row's value forces a condition
  };
  struct Known {
    const char16_t* name;
    Field* field;  // null: a name the row does not have
  };

  // The module asks for its fields in the same order row after row: the
  // name after the last one found is the likeliest.
  Field* Find(const char16_t* name) {
    const size_t n = known_.size();
    if (n != 0) {
      size_t i = last_ + 1 < n ? last_ + 1 : 0;
      if (known_[i].name == name) {
        last_ = i;
        return known_[i].field;
      }
      for (i = 0; i < n; ++i)
        if (known_[i].name == name) {
          last_ = i;
          return known_[i].field;
        }
    }
    return Learn(name);
  }
  Field* Learn(const char16_t* name);

  std::vector<Field> fields_;
  std::vector<Known> known_;
  size_t last_ = 0;  // in known_, the last name found
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_COLUMNROW_H_
