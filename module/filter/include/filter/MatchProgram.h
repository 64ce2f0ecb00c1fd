// The expression tree laid out flat for matching: one node per condition
// and per bracketed group, in the tree's pre-order, each group followed by
// its members. Matching walks the array with the tree's rules (left to
// right, no precedence, AND before the first member, short-circuit) and
// decides the common comparisons inline (integers, days, seconds, a host's
// text by equals, LIKE or CONTAINS); every other condition, and a slot of
// another kind, goes to the condition's own Eval, so results, log lines
// and failures are the tree's.
//
// A tree with a link operator outside AND, OR, AND NOT and OR NOT is not
// laid out (Compile returns false): its groups write an error line on
// every evaluation, which the tree does itself.
//
// Cost: Run is O(conditions evaluated) plus the comparisons; recursion
// only per bracketed group; no allocation. The program points into the
// tree it was compiled from and must not outlive it or see it change.
//
// Thread safety: Run only reads the program; one RowValues per thread.

#ifndef FILTERMODULE_FILTER_MATCHPROGRAM_H_
#define FILTERMODULE_FILTER_MATCHPROGRAM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "expression/FilterCompoundExpression.h"
#include "expression/FilterSimpleExpression.h"
#include "expression/RowValues.h"

namespace filtermodule {

class MatchProgram {
 public:
  // Lays out `root`; false (and empty) when the tree cannot be laid out.
  // May throw std::bad_alloc.
  bool Compile(const FilterCompoundExpression& root);
  void Clear() {
    nodes_.clear();
    folded_.clear();
  }
  bool empty() const { return nodes_.empty(); }

  // The tree's answer for the row in `row`.
  bool Run(RowValues& row) const {
    return nodes_.empty() ? true : Group(nodes_.data(), row);
  }

 private:
  struct Node {
    enum class Kind : uint8_t {
      kGroup,
      kCondition,  // the condition's own Eval
      kInteger,
      kDays,
      kSeconds,
      kTextEquals,
      kTextLike,
      // LIKE patterns of one literal run: "abc", "abc*", "*abc", "*abc*".
      kLikeExact,
      kLikePrefix,
      kLikeSuffix,
      kLikeInfix,
      kTextContains,
    };
    Kind kind = Kind::kCondition;
    // The link operator that joins this node to what precedes it: the
    // previous member's (AND for the first).
    uint8_t link = kLinkAnd;
    // Integers, days and seconds: bit (order + 1) is the answer, NOT
    // applied, for order -1, 0, 1 of the row against the value.
    uint8_t answers = 0;
    bool negate = false;
    // Nodes in this subtree, itself included.
    uint32_t size = 1;
    // The member of the same group evaluated next when this member leaves
    // the group's result true (the next one joined by AND or AND NOT) or
    // false (by OR or OR NOT); members between cannot change it. An index
    // into the program; the group's end when there is none.
    uint32_t on_true = 0;
    uint32_t on_false = 0;
    // The group's end, in a group's first member.
    uint32_t end = 0;
    uint32_t slot = 0;
    int64_t number = 0;
    // The folded value, the LIKE pattern or its literal run.
    const char16_t* text = nullptr;
    // Where `text` starts in folded_, until Compile makes it a pointer.
    size_t text_offset = 0;
    size_t text_size = 0;
    const SubstringSearch* search = nullptr;
    const FilterSimpleExpression* expression = nullptr;
  };

  // Appends nodes for the members of `group`; false for an unknown link.
  bool AddMembers(const FilterCompoundExpression& group);
  void AddCondition(const FilterSimpleExpression& condition, int32_t link);
  // The members of a group from its first member, `first`.
  bool Group(const Node* first, RowValues& row) const;
  bool Condition(const Node& node, RowValues& row) const;

  // CONTAINS of at most this many units is a scan, O(text x needle).
  static constexpr size_t kShortNeedle = 4;

  std::vector<Node> nodes_;
  // Makes `node` a LIKE of one literal run when `pattern` is one.
  void ClassifyLike(const std::u16string& pattern, Node& node);

  // Texts the nodes compare with, one after another; nodes point into it.
  std::u16string folded_;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_FILTER_MATCHPROGRAM_H_
