#include "filter/RowLoader.h"

#include <algorithm>
#include <charconv>

#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/Text.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {
namespace {

void AppendAscii(std::u16string& out, const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p)
    out.push_back(static_cast<char16_t>(*p));
}

void AppendUnsigned(std::u16string& out, uint32_t value) {
  char buffer[16];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  AppendAscii(out, buffer, r.ptr);
}

}  // namespace

FieldLoad PlanLoad(const FilterSimpleExpression& e) {
  return FieldLoad{e.GetFieldName().c_str(), e.GetFieldType(), e.IsRelExtTags(),
                   e.GetValue().size(), &e};
}

void LoadNumberSlow(const FieldLoad& load, IDataRow& row, RowSlot& slot,
                    ConditionState& state) {
  // "%f": six decimals; to_chars renders it alike in every locale.
  slot.kind = RowSlot::Kind::kReal;
  slot.real = row.GetReal(load.field);
  char buffer[400];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, slot.real,
                               std::chars_format::fixed, 6);
  slot.text.clear();
  AppendAscii(slot.text, buffer, r.ec == std::errc() ? r.ptr : buffer);
  slot.rendered_length = slot.text.size();
  // Value and row text are filled to the longest of them seen so far.
  state.text_fill =
      std::max({state.text_fill, load.value_size, slot.rendered_length});
}

void LoadDateText(const FieldLoad& load, RowDate date, RowSlot& slot) {
  // The dates the fast path does not take are read back from their text,
  // "%u/%u/%i", as a value's date is: a day past its month's end rolls over
  // (2/30/10000 is 2 March), and a month outside 1..12, a day 0 or above 31
  // or a year the calendar conversion refuses throws.
  std::u16string& text = slot.rendered;
  text.clear();
  AppendUnsigned(text, date.month);
  text.push_back(u'/');
  AppendUnsigned(text, date.day);
  text.push_back(u'/');
  char buffer[16];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer,
                               static_cast<int32_t>(date.year));
  AppendAscii(text, buffer, r.ptr);
  load.expression->SetSlotText(slot, text);
}

int64_t MonthStart(ConditionState::MonthEntry& m, uint32_t key, int32_t year,
                   int32_t month) {
  m.key = key;
  m.first = DaysFromCivil(year, month, 1);
  return m.first;
}

void LoadTimeText(const FieldLoad& load, RowTime time, RowSlot& slot) {
  // On the 12-hour text an hour of 24 would read as noon.
  if (time.hour > 23)
    throw StatusFailure(Status::kGeneralFailure, "hour out of range");
  if (time.minute > 59)
    throw StatusFailure(Status::kGeneralFailure, "minute out of range");
  if (time.second > 59)
    throw StatusFailure(Status::kGeneralFailure, "second out of range");
  uint32_t hour = time.hour;
  const bool pm = hour >= 12;
  if (pm) hour -= 12;
  if (hour == 0) hour = 12;
  std::u16string& text = slot.rendered;
  text.clear();
  AppendUnsigned(text, hour);
  text.push_back(u':');
  AppendUnsigned(text, time.minute);
  text.push_back(u':');
  AppendUnsigned(text, time.second);
  text.append(pm ? u" PM" : u" AM");
  load.expression->SetSlotText(slot, text);
}

void LoadUnknown(RowSlot& slot) {
  WriteLog(kLogError, u"FLTIsMatch - Unknown field type in expression.");
  slot.kind = RowSlot::Kind::kEmpty;
}

}  // namespace filtermodule
