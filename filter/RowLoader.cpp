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

void LoadNumber(const FieldLoad& load, IDataRow& row, RowSlot& slot,
                ConditionState& state) {
  const char16_t* field = load.field;
  if (row.GetValueKind(field) == 1) {
    slot.kind = RowSlot::Kind::kInteger;
    const int32_t v = row.GetInteger(field);
    slot.integer = v;
    // The range, not the length: lengths are counted only when a text is
    // wanted.
    if (!state.has_integer) {
      state.has_integer = true;
      state.min_integer = state.max_integer = v;
      state.text_fill = std::max(state.text_fill, load.value_size);
    } else if (v < state.min_integer) {
      state.min_integer = v;
    } else if (v > state.max_integer) {
      state.max_integer = v;
    }
    return;
  }
  // "%f": six decimals; to_chars renders it alike in every locale.
  slot.kind = RowSlot::Kind::kReal;
  slot.real = row.GetReal(field);
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

}  // namespace

FieldLoad PlanLoad(const FilterSimpleExpression& e) {
  return FieldLoad{e.GetFieldName().c_str(), e.GetFieldType(), e.IsRelExtTags(),
                   e.GetValue().size(), &e};
}

void LoadField(const FieldLoad& load, IDataRow& row, RowSlot& slot,
               ConditionState& state) {
  slot.text_ready = false;
  slot.has_native = false;
  const char16_t* field = load.field;
  const FilterSimpleExpression& e = *load.expression;
  switch (load.type) {
    case kTypeNumeric:
      LoadNumber(load, row, slot, state);
      return;
    case kTypeText: {
      const char16_t* text = row.GetText(field);
      // The text itself is read only by a comparison that needs it.
      if (load.rel_ext_tags && (text == nullptr || *text == u'\0'))
        text = row.GetText(u"EXT_TAGS");
      slot.kind = RowSlot::Kind::kHostText;
      slot.host = text != nullptr ? text : u"";
      return;
    }
    case kTypeDate: {
      const RowDate date = row.GetDate(field);
      // Years 1971..9999 lie after 1970-01-01 UTC in every zone: a day that
      // exists is its own normal form.
      // Day numbers by month, from a small cache: rows of one source keep
      // to a few months.
      if (date.year >= 1971 && date.year <= 9999 && date.month >= 1 &&
          date.month <= 12 && date.day >= 1) {
        const uint32_t key = static_cast<uint32_t>(date.year) * 12 +
                             static_cast<uint32_t>(date.month - 1);
        ConditionState::MonthEntry& m = state.months[key & 15];
        if (m.key != key) {
          m.key = key;
          m.first = DaysFromCivil(date.year, date.month, 1);
          m.length = static_cast<uint8_t>(DaysInMonth(date.year, date.month));
        }
        if (date.day <= m.length) {
          slot.kind = RowSlot::Kind::kDays;
          slot.days = m.first + date.day - 1;
          return;
        }
      }
      // The others take the text path ("%u/%u/%i", read back) with its
      // checks and roll-over.
      std::u16string& text = slot.scratch;
      text.clear();
      AppendUnsigned(text, date.month);
      text.push_back(u'/');
      AppendUnsigned(text, date.day);
      text.push_back(u'/');
      char buffer[16];
      const auto r = std::to_chars(buffer, buffer + sizeof buffer,
                                   static_cast<int32_t>(date.year));
      AppendAscii(text, buffer, r.ptr);
      const std::u16string rendered = text;
      e.SetSlotText(slot, rendered);
      return;
    }
    case kTypeTime: {
      const RowTime time = row.GetTime(field);
      if (time.hour < 24 && time.minute < 60 && time.second < 60 &&
          TimesAreRegular()) {
        slot.kind = RowSlot::Kind::kSeconds;
        slot.seconds = time.hour * 3600 + time.minute * 60 + time.second;
        return;
      }
      uint32_t hour = time.hour;
      const bool pm = hour >= 12;
      if (pm) hour -= 12;
      if (hour == 0) hour = 12;
      std::u16string text;
      AppendUnsigned(text, hour);
      text.push_back(u':');
      AppendUnsigned(text, time.minute);
      text.push_back(u':');
      AppendUnsigned(text, time.second);
      text.append(pm ? u" PM" : u" AM");
      e.SetSlotText(slot, text);
      return;
    }
    default:
      WriteLog(kLogError, u"FLTIsMatch - Unknown field type in expression.");
      slot.kind = RowSlot::Kind::kEmpty;
      return;
  }
}

}  // namespace filtermodule
