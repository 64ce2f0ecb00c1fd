#include "expression/FilterExpression.h"

namespace filtermodule {

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

}  // namespace filtermodule
