#include "legacy/LegacyExpression.h"

namespace legacy {
using namespace filtermodule;

bool FilterExpression::Eval() { return false; }

std::u16string FilterExpression::ToString() { return std::u16string(); }

DerivedIntervals FilterExpression::DeriveIntervals(
    std::u16string_view /*field*/) {
  return {MakeIntervalSet(NumericInterval()), false};
}

}  // namespace legacy
