#include "expression/IntervalDerivation.h"

#include <optional>

#include "expression/IntegerText.h"
#include "expression/Text.h"

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

DerivedIntervals DeriveConditionIntervals(std::u16string_view field,
                                          const ConditionLine& condition,
                                          std::u16string_view value) {
  NumericInterval interval;  // the whole range
  bool exact = false;
  const int32_t op = condition.field_operator;
  if (EqualsNoCase(condition.field_name, field)) {
    const int32_t v = ReadIntegerValue(value);
    // v - 1 and v + 1 wrap to the whole range at the ends, where the
    // condition matches no integer at all.
    const auto below = static_cast<int32_t>(static_cast<uint32_t>(v) - 1u);
    const auto above = static_cast<int32_t>(static_cast<uint32_t>(v) + 1u);
    const std::optional<int32_t> whole = ReadExactInteger(value);
    if (condition.has_tag || condition.field_type != kTypeNumeric) {
      // Not compared as a number: the lenient reading, never exact.
      if (op == kOpEquals) interval = NumericInterval(v, v);
      if (op == kOpLess) interval.SetUpper(below);
      if (op == kOpGreater) interval.SetLower(above);
    } else if (op == kOpEquals) {
      // A value that is no integer matches none; [v, v] covers that too.
      interval = NumericInterval(v, v);
      exact = whole.has_value();
    } else if (op == kOpLess) {
      if (whole) {
        interval.SetUpper(below);
        exact = v != kIntervalMin;
      } else if (const auto bound = LargestIntegerBelow(value)) {
        // Only the integers below a decimal value can match it; other texts
        // compare as text, where any integer may match.
        if (*bound >= kIntervalMin && *bound < kIntervalMax)
          interval.SetUpper(static_cast<int32_t>(*bound));
      }
    } else if (op == kOpGreater) {
      if (whole) {
        interval.SetLower(above);
        exact = v != kIntervalMax;
      } else if (const auto bound = SmallestIntegerAbove(value)) {
        if (*bound > kIntervalMin && *bound <= kIntervalMax)
          interval.SetLower(static_cast<int32_t>(*bound));
      }
    }
  }
  DerivedIntervals result{MakeIntervalSet(interval), exact};
  if (condition.negate) NegateDerived(result);
  return result;
}

}  // namespace filtermodule
