#include "memory_host/MemoryDataRow.h"

namespace memhost {

MemoryDataRow::Field* MemoryDataRow::Find(const char16_t* field) {
  const std::u16string_view name =
      field == nullptr ? std::u16string_view() : std::u16string_view(field);
  for (Field& f : fields_)
    if (f.kind != Kind::kNone && f.name == name) return &f;
  return nullptr;
}

MemoryDataRow::Field& MemoryDataRow::Slot(std::u16string_view field) {
  Field* spare = nullptr;
  for (Field& f : fields_) {
    if (f.name == field) return f;
    if (spare == nullptr && f.kind == Kind::kNone) spare = &f;
  }
  if (spare == nullptr) spare = &fields_.emplace_back();
  spare->name.assign(field);
  return *spare;
}

void MemoryDataRow::Clear() {
  for (Field& f : fields_) f.kind = Kind::kNone;
}

int32_t MemoryDataRow::GetValueKind(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->kind == Kind::kReal ? 0 : 1;
}

const char16_t* MemoryDataRow::GetText(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->kind == Kind::kText ? f->text.c_str() : u"";
}

RowTime MemoryDataRow::GetTime(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->kind == Kind::kTime ? f->time : RowTime{0, 0, 0};
}

RowDate MemoryDataRow::GetDate(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->kind == Kind::kDate ? f->date : RowDate{0, 0, 0};
}

int32_t MemoryDataRow::GetInteger(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr && f->kind == Kind::kInteger ? f->integer : 0;
}

double MemoryDataRow::GetReal(const char16_t* field) {
  const Field* f = Find(field);
  if (f == nullptr) return 0;
  if (f->kind == Kind::kReal) return f->real;
  return f->kind == Kind::kInteger ? f->integer : 0;
}

void MemoryDataRow::SetText(std::u16string_view field,
                            std::u16string_view text) {
  Field& f = Slot(field);
  f.kind = Kind::kText;
  f.text.assign(text);
}

void MemoryDataRow::SetInteger(std::u16string_view field, int32_t value) {
  Field& f = Slot(field);
  f.kind = Kind::kInteger;
  f.integer = value;
}

void MemoryDataRow::SetReal(std::u16string_view field, double value) {
  Field& f = Slot(field);
  f.kind = Kind::kReal;
  f.real = value;
}

void MemoryDataRow::SetDate(std::u16string_view field, RowDate date) {
  Field& f = Slot(field);
  f.kind = Kind::kDate;
  f.date = date;
}

void MemoryDataRow::SetTime(std::u16string_view field, RowTime time) {
  Field& f = Slot(field);
  f.kind = Kind::kTime;
  f.time = time;
}

}  // namespace memhost
