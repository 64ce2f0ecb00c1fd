// The module's filter object: owns the expression tree built from the
// host's condition lines, matches rows and derives interval sets.
//
// Lifecycle: created uninitialised; Init (directly or through
// InitFromDefinition) builds the tree and marks it initialised; a later Init
// replaces the tree; Release destroys it. Every step writes a line to the
// diagnostic log.
//
// Building (Init): the lines are read into the tree by TreeBuilder, whose
// header states the rules; every condition is also kept in the flat list,
// in line order.
//
// Matching (IsMatch): every condition's field is read from the row by its
// field type, in list order, into the condition's slot (RowLoader); then
// the tree, which only reads itself, is evaluated on those slots (laid out
// flat once per Init, MatchProgram). The slots
// and what persists between rows (the zero-fill of numeric values) belong
// to the filter. No heap allocation in steady state.
//
// Thread safety: one thread at a time per filter.

#ifndef FILTERMODULE_FILTER_FILTER_H_
#define FILTERMODULE_FILTER_FILTER_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "expression/FilterCompoundExpression.h"
#include "expression/FilterSimpleExpression.h"
#include "expression/RowValues.h"
#include "filter/MatchProgram.h"
#include "filter/RowLoader.h"
#include "filtermodule/FilterModule.h"

namespace filtermodule {

class Filter final : public IFilter {
 public:
  Filter();
  Filter(const Filter&) = delete;
  Filter& operator=(const Filter&) = delete;

  void InitFromDefinition(IFilterDefinition* definition) override;
  void Init(IFilterLineList* lines) override;
  bool IsMatch(IDataRow* row) override;
  INumericIntervalCollection* GetNumericIntervals(
      const char16_t* field) override;
  void Release() override;

  bool initialised() const { return initialised_; }

 private:
  // Reads the tree, the flat list and the last row's values, for tests.
  friend class FilterInternals;

  ~Filter();

  void DestroyTree();

  bool initialised_ = false;
  // The tree's conditions in line order; the tree owns them.
  std::vector<FilterSimpleExpression*> simple_expressions_;
  std::unique_ptr<FilterCompoundExpression> root_;
  // One slot and state per condition of the list, and what loading needs.
  RowValues row_;
  std::vector<FieldLoad> loads_;
  // The tree laid out flat, when `compiled_`; else the tree is evaluated.
  MatchProgram program_;
  bool compiled_ = false;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_FILTER_FILTER_H_
