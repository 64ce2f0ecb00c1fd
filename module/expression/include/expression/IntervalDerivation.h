// Deriving integer interval sets from conditions: the set of a field's
// values at which an expression can hold.
//
// A condition on the field narrows it by its value: equals to [v, v],
// less to everything below v, greater to everything above; a value that is
// no exact integer bounds it by the integers around a decimal, or not at
// all. A condition on another field leaves the whole range. A group
// combines its members' sets left to right by their link operators, like
// evaluation but without short-circuit.
//
// Each set comes with whether it is exact (it holds precisely the values at
// which the expression can be true, so its complement is sound) or only
// covers them; NOT and the negated links complement only what is exact.
//
// Cost: a condition is O(value); a group O(n log n) in its members' sets.
// Thread safety: pure functions.

#ifndef FILTERMODULE_EXPRESSION_INTERVALDERIVATION_H_
#define FILTERMODULE_EXPRESSION_INTERVALDERIVATION_H_

#include <cstdint>
#include <string_view>

#include "expression/ConditionLine.h"
#include "filtermodule/FilterModule.h"
#include "interval/NumericIntervalCollection.h"

namespace filtermodule {

// A derived interval set and whether it is exact.
struct DerivedIntervals {
  IntervalSetPtr set;
  bool exact = false;
};

// Negates a derived set soundly: an exact set of one interval is
// complemented exactly; an exact set of several intervals is complemented
// interval by interval, which covers the true complement but is no longer
// exact; an exact empty set becomes the whole range; an inexact set becomes
// the whole range, since its complement could leave out matching values.
void NegateDerived(DerivedIntervals& derived);

// The set of `field` values at which `condition` can hold, its NOT flag
// applied, with `value` read as its value (the condition's own value is
// not read: matching may have zero-filled it).
DerivedIntervals DeriveConditionIntervals(std::u16string_view field,
                                          const ConditionLine& condition,
                                          std::u16string_view value);

// The sets of a group's `members` (pointers to expressions with
// GetLinkOperator()) combined left to right; `derive(member)` gives a
// member's set. After a link operator outside AND, OR, AND NOT and OR NOT
// the group is false for every row, so its set so far is exactly empty.
template <typename Members, typename Derive>
DerivedIntervals CombineDerived(const Members& members, Derive&& derive) {
  // Starts as the whole range: true for every row, so exact.
  DerivedIntervals result{MakeIntervalSet(NumericInterval()), true};
  int32_t pending = kLinkAnd;
  for (const auto& member : members) {
    if (pending < kLinkAnd || pending > kLinkOrNot) {
      result.set = IntervalSetPtr(new NumericIntervalCollection());
      result.exact = true;
      pending = member->GetLinkOperator();
      continue;
    }
    DerivedIntervals part = derive(*member);
    if (pending == kLinkAndNot || pending == kLinkOrNot) NegateDerived(part);
    // A run of ORs is gathered and sorted once, at the next AND or the end:
    // merging after every member would make an OR of n values quadratic.
    if (pending == kLinkAnd || pending == kLinkAndNot)
      result.set->IntersectWith(*part.set);
    else
      result.set->AppendAll(*part.set);
    result.exact = result.exact && part.exact;
    pending = member->GetLinkOperator();
  }
  result.set->Normalize();
  return result;
}

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_INTERVALDERIVATION_H_
