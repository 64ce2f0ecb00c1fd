// A rule's logic as a tree of AND and OR over conditions, and its writing
// as condition lines.
//
// Negation is pushed down to the conditions (De Morgan), so that only AND
// and OR links are written and every NOT is a condition's NOT flag. The
// module links its lines strictly left to right, so every group whose
// operator differs from its parent's is bracketed; groups of the same
// operator are merged into their parent.
//
// Thread safety: plain data and pure functions.

#ifndef SIGMA_RULETREE_H_
#define SIGMA_RULETREE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "query/ConditionLine.h"

namespace eventquery::sigma {

struct Node {
  enum Kind : uint8_t { kAnd, kOr, kLeaf };
  Kind kind = kLeaf;
  std::vector<Node> kids;
  ConditionLine leaf;  // kLeaf: field, op, value, type, negate, inverted
  int host = -1;       // kLeaf: the host check deciding it, or -1
};

// Throws Unsupported for no kids.
Node Group(Node::Kind kind, std::vector<Node> kids);
// NOT node, pushed down to its conditions.
Node Negated(Node node);
// The lines of `root`; sets each host check's line through `host_line`
// (host index -> line index).
std::vector<ConditionLine> WriteLines(const Node& root,
                                      std::vector<size_t>& host_line);

}  // namespace eventquery::sigma

#endif  // SIGMA_RULETREE_H_
