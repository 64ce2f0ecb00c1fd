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
  // A row is mostly filled in the order it was filled before: the field
  // after the last one set comes first, and a field set again (its text,
  // then its number) is the last one. Names are unique among all slots,
  // used or not, so a name found is the field's.
  if (next_ > 0 && fields_[next_ - 1].name == field) return fields_[next_ - 1];
  size_t at = fields_.size();
  if (next_ < fields_.size() && fields_[next_].name == field) {
    at = next_;
  } else {
    size_t spare = fields_.size();
    for (size_t i = 0; i < fields_.size(); ++i) {
      if (fields_[i].name == field) {
        at = i;
        break;
      }
      if (spare == fields_.size() && !fields_[i].used) spare = i;
    }
    if (at == fields_.size()) {
      // A new name: an unused slot takes it, or a new one.
      at = spare;
      if (at == fields_.size()) fields_.emplace_back();
      fields_[at].name.assign(field);
      fields_[at].used = false;
    }
  }
  next_ = at + 1;
  Field& f = fields_[at];
  if (!f.used) {
    f.used = true;
    f.has_text = f.has_number = f.has_date = f.has_time = false;
  }
  return f;
}

void MemoryDataRow::Clear() {
  for (Field& f : fields_) f.used = false;
  next_ = 0;
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
