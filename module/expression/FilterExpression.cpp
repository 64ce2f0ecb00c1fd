#include "expression/FilterExpression.h"

namespace filtermodule {

void NegateDerived(DerivedIntervals& derived) {
  const uint32_t count = derived.set->GetCount();
  if (!derived.exact || count == 0) {
    // Inexact stays inexact; the complement of an exact nothing is exactly
    // everything.
    derived.set = MakeIntervalSet(NumericInterval());
    return;
  }
  derived.set->Complement();
  derived.exact = count == 1;
}

bool FilterExpression::Eval(RowValues& /*row*/) const { return false; }

std::u16string FilterExpression::ToString() const { return std::u16string(); }

DerivedIntervals FilterExpression::DeriveIntervals(
    std::u16string_view /*field*/, const RowValues* /*row*/) const {
  return {MakeIntervalSet(NumericInterval()), false};
}

}  // namespace filtermodule
