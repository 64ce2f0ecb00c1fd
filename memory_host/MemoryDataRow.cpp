#include "memory_host/MemoryDataRow.h"
#include "NameMatch.h"

#include <cstdint>

namespace memhost {

namespace {

// Rows of one source usually hold their fields in the same order, and a
// caller asks by the same name texts row after row: remember where each
// name text was found last (per thread), and check that place first.
struct Hint {
  const char16_t* field;
  size_t index;
};
thread_local Hint t_hints[64];

Hint& HintFor(const char16_t* field) { return t_hints[NameSlot<6>(field)]; }

}  // namespace

MemoryDataRow::Field* MemoryDataRow::Find(const char16_t* field) {
  if (field == nullptr) field = u"";
  Hint& hint = HintFor(field);
  if (hint.field == field && hint.index < fields_.size()) {
    Field& f = fields_[hint.index];
    if (f.used && SameName(f.name, field)) return &f;
  }
  for (size_t i = 0; i < fields_.size(); ++i) {
    Field& f = fields_[i];
    if (f.used && SameName(f.name, field)) {
      hint = Hint{field, i};
      return &f;
    }
  }
  return nullptr;
}

MemoryDataRow::Field& MemoryDataRow::Slot(std::u16string_view field) {
  Field* spare = nullptr;
  for (Field& f : fields_) {
    if (f.used && f.name == field) return f;
    if (spare == nullptr && !f.used) spare = &f;
  }
  if (spare == nullptr) spare = &fields_.emplace_back();
  spare->name.assign(field);
  spare->used = true;
  spare->has_text = spare->has_number = spare->has_date = spare->has_time =
      false;
  return *spare;
}

void MemoryDataRow::Clear() {
  for (Field& f : fields_) f.used = false;
}

int32_t MemoryDataRow::GetValueKind(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->has_number && !f->is_integer ? 0 : 1;
}

const char16_t* MemoryDataRow::GetText(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->has_text ? f->text.c_str() : u"";
}

RowTime MemoryDataRow::GetTime(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->has_time ? f->time : RowTime{0, 0, 0};
}

RowDate MemoryDataRow::GetDate(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->has_date ? f->date : RowDate{0, 0, 0};
}

int32_t MemoryDataRow::GetInteger(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->has_number && f->is_integer ? f->integer : 0;
}

double MemoryDataRow::GetReal(const char16_t* field) {
  const Field* f = Find(field);
  if (f == nullptr || !f->has_number) return 0;
  return f->is_integer ? f->integer : f->real;
}

void MemoryDataRow::SetText(std::u16string_view field,
                            std::u16string_view text) {
  Field& f = Slot(field);
  f.has_text = true;
  f.text.assign(text);
}

void MemoryDataRow::SetInteger(std::u16string_view field, int32_t value) {
  Field& f = Slot(field);
  f.has_number = true;
  f.is_integer = true;
  f.integer = value;
}

void MemoryDataRow::SetReal(std::u16string_view field, double value) {
  Field& f = Slot(field);
  f.has_number = true;
  f.is_integer = false;
  f.real = value;
}

void MemoryDataRow::SetDate(std::u16string_view field, RowDate date) {
  Field& f = Slot(field);
  f.has_date = true;
  f.date = date;
}

void MemoryDataRow::SetTime(std::u16string_view field, RowTime time) {
  Field& f = Slot(field);
  f.has_time = true;
  f.time = time;
}

}  // namespace memhost
