// The base of every node of a filter's expression tree.
//
// A node carries the link operator that joins it to its next sibling:
// 0 AND, 1 OR, 2 AND NOT, 3 OR NOT; any other value is stored unchanged and
// reported when its compound is evaluated.
//
// Thread safety: a tree is used by one thread at a time.

#ifndef TESTS_LEGACY_LEGACYEXPRESSION_H_
#define TESTS_LEGACY_LEGACYEXPRESSION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expression/IntervalDerivation.h"
#include "filtermodule/FilterModule.h"

namespace legacy {
using namespace filtermodule;

class FilterExpression {
 public:
  FilterExpression() = default;
  FilterExpression(const FilterExpression&) = delete;
  FilterExpression& operator=(const FilterExpression&) = delete;
  virtual ~FilterExpression() = default;

  // Does the current row satisfy this expression. Base: false.
  virtual bool Eval();
  // The printable form of the expression. Base: empty.
  virtual std::u16string ToString();
  // The interval set of `field` values at which the expression can hold,
  // and whether it is exact. Base: the whole range, inexact.
  virtual DerivedIntervals DeriveIntervals(std::u16string_view field);

  int32_t GetLinkOperator() const { return link_operator_; }
  void SetLinkOperator(int32_t op) { link_operator_ = op; }

 private:
  int32_t link_operator_ = kLinkAnd;
};

}  // namespace legacy

#endif  // TESTS_LEGACY_LEGACYEXPRESSION_H_
