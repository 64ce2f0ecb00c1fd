#include "ColumnRow.h"

namespace fmpython {

namespace {

// Remembered name pointers: a filter and its few variants name a handful
// of fields each; past this the row starts again rather than grow.
constexpr size_t kMaxKnownNames = 256;

bool SameName(const std::u16string& name, const char16_t* field) {
  const size_t n = name.size();
  for (size_t i = 0; i < n; ++i)
    if (field[i] != name[i]) return false;
  return field[n] == u'\0';
}

// {0, 0, 0} as a date or a time (FieldColumn's Pack).
const uint64_t kZero = 0;

}  // namespace

ColumnRow::ColumnRow(std::vector<FieldColumn*> fields) {
  for (FieldColumn* c : fields) fields_.push_back({c, c->view(), 0, false});
  known_.reserve(kMaxKnownNames);
}

void ColumnRow::Marks(size_t lines, std::string& forced) const {
  forced.assign(lines, eventquery::kLoaded);
  for (const Field& f : fields_) {
    if (!f.forces) continue;
    const char* marks = f.view.mark + f.view.marks[f.at];
    const std::vector<uint32_t>& conditions = f.column->conditions();
    for (size_t k = 0; k < conditions.size(); ++k)
      forced[conditions[k]] = marks[k];
  }
}

ColumnRow::Field* ColumnRow::Learn(const char16_t* name) {
  Field* found = nullptr;
  if (name != nullptr)
    for (Field& f : fields_)
      if (SameName(f.column->wide(), name)) {
        found = &f;
        break;
      }
  if (known_.size() == kMaxKnownNames) known_.clear();
  known_.push_back({name, found});
  last_ = known_.size() - 1;
  return found;
}

int32_t ColumnRow::GetValueKind(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr ? f->view.kinds[f->at] : 1;
}

const char16_t* ColumnRow::GetText(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr ? f->view.text + f->view.texts[f->at] : u"";
}

RowTime ColumnRow::GetTime(const char16_t* field) {
  const Field* f = Find(field);
  return Unpack<RowTime>(f != nullptr ? f->view.times + f->at : &kZero);
}

RowDate ColumnRow::GetDate(const char16_t* field) {
  const Field* f = Find(field);
  return Unpack<RowDate>(f != nullptr ? f->view.dates + f->at : &kZero);
}

int32_t ColumnRow::GetInteger(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr ? f->view.integers[f->at] : 0;
}

double ColumnRow::GetReal(const char16_t* field) {
  const Field* f = Find(field);
  return f != nullptr ? f->view.reals[f->at] : 0;
}

}  // namespace fmpython
