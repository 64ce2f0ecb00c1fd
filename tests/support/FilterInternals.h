// What tests (and the fuzzer) read of a module filter beyond its interface:
// the tree, the flat list of conditions, and what each condition compared
// for the last row.

#ifndef TESTS_SUPPORT_FILTERINTERNALS_H_
#define TESTS_SUPPORT_FILTERINTERNALS_H_

#include <string>
#include <vector>

#include "expression/FilterCompoundExpression.h"
#include "expression/FilterSimpleExpression.h"
#include "filter/Filter.h"

namespace filtermodule {

class FilterInternals {
 public:
  explicit FilterInternals(Filter* filter) : filter_(*filter) {}

  // The root group; null before the first Init.
  const FilterCompoundExpression* root() const { return filter_.root_.get(); }
  // The conditions in line order.
  const std::vector<FilterSimpleExpression*>& conditions() const {
    return filter_.simple_expressions_;
  }
  // What condition `i` compared for the last row, as text: its row text,
  // and its value, zero-filled for numbers.
  std::u16string RowTextOf(size_t i) const {
    return std::u16string(conditions().at(i)->RowText(
        filter_.row_.slots.at(i), filter_.row_.states.at(i)));
  }
  // The tree's own answer for the last row's values, without the flat
  // program.
  bool EvalTree() const {
    return filter_.root_ == nullptr || filter_.root_->Eval(filter_.row_);
  }
  std::u16string ValueOf(size_t i) const {
    return conditions().at(i)->FilledValue(filter_.row_.states.at(i));
  }

 private:
  Filter& filter_;
};

}  // namespace filtermodule

#endif  // TESTS_SUPPORT_FILTERINTERNALS_H_
