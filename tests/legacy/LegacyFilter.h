// The earlier row matching, kept as the oracle of the differential tests:
// it loads every field as text and compares texts.
//
// Building (Init): the module's TreeBuilder with this filter's conditions;
// a later Init replaces the tree. Release destroys the filter. Apart from
// the builder's and the evaluation's, it writes no messages.
//
// Matching (IsMatch): every condition's field is read from the row by its
// field type, rendered as text and stored in the condition; then the tree is
// evaluated. No heap allocation in steady state.
//
// Thread safety: one thread at a time per filter.

#ifndef TESTS_LEGACY_LEGACYFILTER_H_
#define TESTS_LEGACY_LEGACYFILTER_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filtermodule/FilterModule.h"
#include "legacy/LegacyCompoundExpression.h"
#include "legacy/LegacySimpleExpression.h"

namespace legacy {

class Filter final : public IFilter {
 public:
  Filter();

  void InitFromDefinition(IFilterDefinition* definition) override;
  void Init(IFilterLineList* lines) override;
  bool IsMatch(IDataRow* row) override;
  INumericIntervalCollection* GetNumericIntervals(
      const char16_t* field) override;
  void Release() override;

  FilterCompoundExpression* root() const { return root_.get(); }
  const std::vector<FilterSimpleExpression*>& simple_expressions() const {
    return simple_expressions_;
  }

 private:
  // The flat list as the tree builder fills it.
  class FlatList;

  ~Filter();

  // Reads the field of `expression` from `row` into its row text.
  void LoadField(FilterSimpleExpression& expression, IDataRow& row);
  void LoadNumber(FilterSimpleExpression& expression, IDataRow& row);

  bool initialised_ = false;
  // The tree's conditions in line order; the tree owns them.
  std::vector<FilterSimpleExpression*> simple_expressions_;
  std::unique_ptr<FilterCompoundExpression> root_;
  // Buffers reused for every row.
  std::u16string row_buffer_;
  std::u16string value_buffer_;
};

}  // namespace legacy

#endif  // TESTS_LEGACY_LEGACYFILTER_H_
