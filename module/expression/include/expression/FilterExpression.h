// The base of every node of a filter's expression tree.
//
// A node carries the link operator that joins it to its next sibling:
// 0 AND, 1 OR, 2 AND NOT, 3 OR NOT; any other value is stored unchanged and
// reported when its compound is evaluated.
//
// Thread safety: a tree is used by one thread at a time.

#ifndef FILTERMODULE_EXPRESSION_FILTEREXPRESSION_H_
#define FILTERMODULE_EXPRESSION_FILTEREXPRESSION_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "expression/IntervalDerivation.h"
#include "expression/RowValues.h"
#include "filtermodule/FilterModule.h"

namespace filtermodule {

class FilterExpression {
 public:
  FilterExpression() = default;
  explicit FilterExpression(int32_t link_operator)
      : link_operator_(link_operator) {}
  FilterExpression(const FilterExpression&) = delete;
  FilterExpression& operator=(const FilterExpression&) = delete;
  virtual ~FilterExpression() = default;

  // Does the row whose values `row` holds satisfy this expression. Reads
  // the tree only; what it makes (rendered texts) goes into `row`. Base:
  // false.
  virtual bool Eval(RowValues& row) const;
  // The printable form of the expression. Base: empty.
  virtual std::u16string ToString() const;
  // The interval set of `field` values at which the expression can hold,
  // and whether it is exact; `row`, when given, holds the state that
  // matching left (the zero-fill of numeric values). Base: the whole range,
  // inexact.
  virtual DerivedIntervals DeriveIntervals(std::u16string_view field,
                                           const RowValues* row) const;

  int32_t GetLinkOperator() const { return link_operator_; }

 protected:
  // A group learns its link operator only when its closing line is read.
  void SetLinkOperator(int32_t op) { link_operator_ = op; }

 private:
  int32_t link_operator_ = kLinkAnd;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_FILTEREXPRESSION_H_
