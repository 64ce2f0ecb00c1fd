#include "expression/FilterExpression.h"

namespace filtermodule {

bool FilterExpression::Eval(RowValues& /*row*/) const { return false; }

std::u16string FilterExpression::ToString() const { return std::u16string(); }

DerivedIntervals FilterExpression::DeriveIntervals(
    std::u16string_view /*field*/, const RowValues* /*row*/) const {
  return {MakeIntervalSet(NumericInterval()), false};
}

}  // namespace filtermodule
