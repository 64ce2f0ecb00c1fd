#include "expression/RowText.h"

#include <charconv>

#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/IntegerText.h"
#include "expression/Text.h"
#include "filtermodule/FilterModule.h"

namespace filtermodule {
namespace {

void PutTwo(std::u16string& out, int64_t v) {
  out.push_back(static_cast<char16_t>(u'0' + v / 10));
  out.push_back(static_cast<char16_t>(u'0' + v % 10));
}

}  // namespace

bool NormalizeForFieldType(int32_t field_type, std::u16string& text,
                           std::u16string& scratch) {
  if (field_type == kTypeDate)
    NormalizeDateInto(text, scratch);
  else if (field_type == kTypeTime)
    NormalizeTimeInto(text, scratch);
  else
    return false;
  text.swap(scratch);
  return true;
}

void SetSlotText(int32_t field_type, RowSlot& slot, std::u16string_view text) {
  slot.kind = RowSlot::Kind::kText;
  slot.text_ready = true;
  slot.has_native = false;
  AssignLowered(slot.text, text);
  NormalizeForFieldType(field_type, slot.text, slot.scratch);
  if (field_type == kTypeDate) {
    if (const auto days = ParseNormalDate(slot.text)) {
      slot.days = *days;
      slot.has_native = true;
    }
  } else if (field_type == kTypeTime) {
    if (const auto seconds = ParseNormalTime(slot.text)) {
      slot.seconds = *seconds;
      slot.has_native = true;
    }
  }
}

std::u16string_view RowTextOfSlot(RowSlot& slot, size_t fill) {
  if (slot.text_ready) return slot.text;
  switch (slot.kind) {
    case RowSlot::Kind::kInteger: {
      char buffer[16];
      const auto r =
          std::to_chars(buffer, buffer + sizeof buffer, slot.integer);
      slot.text.assign(buffer, r.ptr);
      ZeroFill(slot.text, fill);
      break;
    }
    case RowSlot::Kind::kReal:  // rendered when loaded
      ZeroFill(slot.text, fill);
      break;
    case RowSlot::Kind::kDays: {
      int64_t year;
      int32_t month, day;
      CivilFromDays(slot.days, &year, &month, &day);
      slot.text.clear();
      PutTwo(slot.text, day);
      slot.text.push_back(u'-');
      PutTwo(slot.text, month);
      slot.text.push_back(u'-');
      PutTwo(slot.text, year / 100);
      PutTwo(slot.text, year % 100);
      break;
    }
    case RowSlot::Kind::kSeconds:
      slot.text.clear();
      PutTwo(slot.text, slot.seconds / 3600);
      slot.text.push_back(u'-');
      PutTwo(slot.text, slot.seconds / 60 % 60);
      slot.text.push_back(u'-');
      PutTwo(slot.text, slot.seconds % 60);
      break;
    case RowSlot::Kind::kHostText:
      AssignLowered(slot.text, ViewOf(slot.host));
      break;
    case RowSlot::Kind::kEmpty:
    case RowSlot::Kind::kText:
      slot.text.clear();
      break;
  }
  slot.text_ready = true;
  return slot.text;
}

}  // namespace filtermodule
