// Reading a condition's field from a host row by the condition's field
// type: the one place that knows which accessor a type calls.
//
//   numeric  GetValueKind, then GetInteger (kind 1) or GetReal
//   text     GetText; an empty "REL_EXT_TAGS" (any case) reads "EXT_TAGS"
//   date     GetDate
//   time     GetTime
//   other    nothing ("FLTIsMatch - Unknown field type in expression.")
//
// The value goes into the condition's slot as the accessor returned it
// (a view for a text: the host's text must stay as it is until IsMatch
// returns). A numeric condition's zero-fill grows to the length of the
// number's rendering. Dates and times outside what is stored natively take
// the text path, which throws StatusFailure for one that cannot be read
// (a date of all zeros, say); the failure reaches IsMatch's caller. A date
// whose day lies past its month's end (at most 31) rolls over into the next
// month, natively or through its text.
//
// Cost: O(1) for integers, dates and times, O(digits) for a real (it is
// rendered), plus the host's accessors; no allocation in steady state.
// Thread safety: as the filter's.

#ifndef FILTERMODULE_FILTER_ROWLOADER_H_
#define FILTERMODULE_FILTER_ROWLOADER_H_

#include <algorithm>
#include <cstdint>

#include "expression/DateText.h"
#include "expression/FilterSimpleExpression.h"
#include "expression/RowValues.h"
#include "filtermodule/FilterModule.h"

namespace filtermodule {

// What loading needs of a condition, kept together so that loading a row
// reads one small array.
struct FieldLoad {
  const char16_t* field;  // the condition's field name, alive with it
  int32_t type;
  bool rel_ext_tags;
  size_t value_size;
  const FilterSimpleExpression* expression;
};

FieldLoad PlanLoad(const FilterSimpleExpression& expression);

// The rare paths, out of line. A real (the kind was asked already):
void LoadNumberSlow(const FieldLoad& load, IDataRow& row, RowSlot& slot,
                    ConditionState& state);
void LoadDateText(const FieldLoad& load, RowDate date, RowSlot& slot);
int64_t MonthStart(ConditionState::MonthEntry& m, uint32_t key, int32_t year,
                   int32_t month);
void LoadTimeText(const FieldLoad& load, RowTime time, RowSlot& slot);
void LoadUnknown(RowSlot& slot);

// Reads the field of `load`'s condition from `row` into `slot`.
inline void LoadField(const FieldLoad& load, IDataRow& row, RowSlot& slot,
                      ConditionState& state) {
  slot.text_ready = false;
  slot.has_native = false;
  const char16_t* field = load.field;
  switch (load.type) {
    case kTypeNumeric: {
      if (row.GetValueKind(field) != 1) {
        LoadNumberSlow(load, row, slot, state);  // a real
        return;
      }
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
      // exists is its own normal form, and a day past its month's end (up
      // to 31) rolls into the next month as the calendar conversion rolls
      // it: {2010, 2, 30} is 2 March. Day numbers by month, from a small
      // cache: rows of one source keep to a few months.
      if (date.year >= 1971 && date.year <= 9999 && date.month >= 1 &&
          date.month <= 12 && date.day >= 1 && date.day <= 31) {
        const uint32_t key = static_cast<uint32_t>(date.year) * 12 +
                             static_cast<uint32_t>(date.month - 1);
        ConditionState::MonthEntry& m = state.months[key & 15];
        const int64_t first =
            m.key == key ? m.first : MonthStart(m, key, date.year, date.month);
        slot.kind = RowSlot::Kind::kDays;
        slot.days = first + date.day - 1;
        return;
      }
      LoadDateText(load, date, slot);
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
      LoadTimeText(load, time, slot);
      return;
    }
    default:
      LoadUnknown(slot);
      return;
  }
}

}  // namespace filtermodule

#endif  // FILTERMODULE_FILTER_ROWLOADER_H_
