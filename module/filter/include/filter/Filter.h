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
#include <string>
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
  // What condition `i` compared for the last row, as text (for tests and
  // tools): its row text and its value, zero-filled for numbers.
  std::u16string RowTextOf(size_t i);
  std::u16string ValueOf(size_t i) const;

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
