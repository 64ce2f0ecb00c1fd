// The condition of a Sigma rule: search identifiers joined by and, or,
// not, brackets, "1 of" / "any of" / "all of" a pattern or "them".
// Precedence, least binding first: or, and, not, "x of", brackets.
// Brackets and nots nest at most 64 deep; the cost is linear in the
// condition's length times the number of identifiers.
//
// Thread safety: pure.

#ifndef SIGMA_CONDITION_H_
#define SIGMA_CONDITION_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "RuleTree.h"

namespace eventquery::sigma {

// The tree of `condition`; `selection` gives a search identifier's tree.
// Throws Unsupported naming the place of a fault.
Node ParseCondition(std::string_view condition,
                    const std::vector<std::string>& identifiers,
                    const std::function<Node(const std::string&)>& selection);

}  // namespace eventquery::sigma

#endif  // SIGMA_CONDITION_H_
