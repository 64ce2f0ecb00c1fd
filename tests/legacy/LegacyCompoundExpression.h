// A bracketed group of expressions; the root of every filter is one.
//
// Children are combined strictly left to right, without precedence: the
// operator that combines child i with the result of children 0..i-1 is the
// link operator of child i-1 (AND before the first child). Evaluation
// short-circuits: a child whose result cannot change the outcome is not
// evaluated.
//
// Thread safety: a tree is used by one thread at a time.

#ifndef TESTS_LEGACY_LEGACYCOMPOUNDEXPRESSION_H_
#define TESTS_LEGACY_LEGACYCOMPOUNDEXPRESSION_H_

#include <memory>
#include <vector>

#include "legacy/LegacyExpression.h"

namespace legacy {
using namespace filtermodule;

class FilterCompoundExpression : public FilterExpression {
 public:
  // The children array: append, count and range-checked access.
  class Children {
   public:
    void Append(std::unique_ptr<FilterExpression> child) {
      items_.push_back(std::move(child));
    }
    size_t Count() const { return items_.size(); }
    // Throws std::invalid_argument outside 0..Count()-1.
    FilterExpression& At(size_t index) const;

   private:
    friend class FilterCompoundExpression;
    std::vector<std::unique_ptr<FilterExpression>> items_;
  };

  FilterCompoundExpression() = default;
  // Writes "Destroying compound expression", then destroys the children in
  // order (each nested group writes its own line: pre-order).
  ~FilterCompoundExpression() override;

  // Left-to-right evaluation; true without children. Catches a failing child
  // and returns the result as it stood before it.
  bool Eval() override;
  // The children's sets combined left to right by the link operators,
  // without short-circuit.
  DerivedIntervals DeriveIntervals(std::u16string_view field) override;
  // "( X ) AND ( Y ) OR ( Z )"; empty without children.
  std::u16string ToString() override;

  Children& GetChildren() { return children_; }
  const Children& GetChildren() const { return children_; }

 private:
  Children children_;
};

// The text that joins two siblings in the text form: " AND ", " OR ",
// " AND NOT ", " OR NOT ", or " <unknown link N> " for another value.
std::u16string LinkOperatorText(int32_t op);

}  // namespace legacy

#endif  // TESTS_LEGACY_LEGACYCOMPOUNDEXPRESSION_H_
