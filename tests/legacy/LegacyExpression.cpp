#include "legacy/LegacyExpression.h"

namespace legacy {
using namespace filtermodule;

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

bool FilterExpression::Eval() { return false; }

INumericIntervalCollection* FilterExpression::GetNumericIntervals(
    const char16_t* /*field*/) {
  return nullptr;
}

std::u16string FilterExpression::ToString() { return std::u16string(); }

DerivedIntervals FilterExpression::DeriveIntervals(
    std::u16string_view /*field*/) {
  return {MakeIntervalSet(NumericInterval()), false};
}

}  // namespace legacy
