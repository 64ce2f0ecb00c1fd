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
// (a date of all zeros, say); the failure reaches IsMatch's caller.
//
// Cost: O(1) for numbers, dates and times, plus the host's accessors; no
// allocation in steady state.
// Thread safety: as the filter's.

#ifndef FILTERMODULE_FILTER_ROWLOADER_H_
#define FILTERMODULE_FILTER_ROWLOADER_H_

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

void LoadField(const FieldLoad& load, IDataRow& row, RowSlot& slot,
               ConditionState& state);

}  // namespace filtermodule

#endif  // FILTERMODULE_FILTER_ROWLOADER_H_
