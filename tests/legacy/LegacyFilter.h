// The module's filter object: owns the expression tree built from the
// host's condition lines, matches rows and derives interval sets.
//
// Lifecycle: created uninitialised; Init (directly or through
// InitFromDefinition) builds the tree and marks it initialised; a later Init
// replaces the tree; Release destroys it. Every step writes a line to the
// diagnostic log.
//
// Building (Init): lines are read left to right; every opening bracket on a
// line starts a nested group, every closing bracket ends one, and the
// builder writes the consumed counts back into the host's lines. A group
// takes the link operator of the line that closes it. The end of the list
// closes groups left open; a surplus closing bracket at the top level is
// reported and skipped; groups nest at most kMaxNesting deep. A line that
// fails to build (a date value that cannot be read, say) is reported and
// left out, and its level ends there.
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
  // Deepest nesting of bracketed groups below the root.
  static constexpr int kMaxNesting = 128;

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
  FilterCompoundExpression* root() const { return root_.get(); }
  const std::vector<FilterSimpleExpression*>& simple_expressions() const {
    return simple_expressions_;
  }

 private:
  struct BuildState {
    bool missing_close = false;
  };

  ~Filter();

  // Fills `parent` from the line at `start` on; returns the index of the
  // line that closed `parent`'s bracket, or the line count.
  uint32_t PopCmpdExpr(FilterCompoundExpression& parent, IFilterLineList& lines,
                       uint32_t start, int depth, BuildState& state);
  // Builds the condition of `line` into `parent` and the flat list.
  void AddCondition(FilterCompoundExpression& parent, IFilterLine& line);
  // Reads the field of `expression` from `row` into its row text.
  void LoadField(FilterSimpleExpression& expression, IDataRow& row);
  void LoadNumber(FilterSimpleExpression& expression, IDataRow& row);
  void DestroyTree();

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
