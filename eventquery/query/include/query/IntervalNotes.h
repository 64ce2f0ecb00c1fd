// What `evfilter intervals` says beside a field's interval set, so that a
// set is never read as more than it is.
//
// Thread safety: a pure function.

#ifndef QUERY_INTERVALNOTES_H_
#define QUERY_INTERVALNOTES_H_

#include <string>
#include <vector>

#include "query/ConditionLine.h"

namespace eventquery {

// Notes on the set derived for `field` (any case) from `lines`:
//  - that no value is allowed, when `any_value` is false;
//  - that the set is the whole range because no condition compares the
//    field as a number (and how the filter does compare it, if at all);
//  - that the set covers 32-bit values only, naming each numeric value of
//    the filter on that field that lies outside 32 bits.
std::vector<std::string> IntervalNotes(const std::vector<ConditionLine>& lines,
                                       const std::string& field,
                                       bool any_value);

}  // namespace eventquery

#endif  // QUERY_INTERVALNOTES_H_
