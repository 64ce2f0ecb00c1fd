// One condition line as the tools compile it from an expression or read it
// from a definition file: the in-memory host's line (the fields the module
// reads through IFilterLine) and what the tools themselves need to know of
// how it was written.
//
// Thread safety: plain data.

#ifndef QUERY_CONDITIONLINE_H_
#define QUERY_CONDITIONLINE_H_

#include <cstdint>
#include <string>
#include <tuple>

#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryFilterLines.h"

namespace eventquery {

using filtermodule::FieldOperator;
using filtermodule::FieldType;
using filtermodule::kLinkAnd;
using filtermodule::kLinkAndNot;
using filtermodule::kLinkOr;
using filtermodule::kLinkOrNot;
using filtermodule::kOpContains;
using filtermodule::kOpEquals;
using filtermodule::kOpGreater;
using filtermodule::kOpLess;
using filtermodule::kOpLike;
using filtermodule::kOpNamedPeriod;
using filtermodule::kTypeDate;
using filtermodule::kTypeNumeric;
using filtermodule::kTypeText;
using filtermodule::kTypeTime;
using filtermodule::LineLinkOperator;

// The module's fields are the in-memory host's line, which the decide part
// hands the module as it is; the rest is the tools' own.
struct ConditionLine : memhost::LineSpec {
  // The operator was written negated (">=" built as NOT "<"): a tool that
  // decides the line itself for a missing value decides it as the written
  // operator would (false), so the line before its NOT is true. The module
  // never sees this.
  bool inverted = false;
  // The value is a regular expression (RE2 syntax, ignoring case unless it
  // says otherwise) that the host decides per record on the field's text
  // and hands over as a forced answer; the module's line is the text
  // CONTAINS of the pattern, which no record is decided by.
  bool matches = false;
  // A time line's value below the second (0 to 999,999,999 ns), which the
  // module's times cannot carry: where a record's time falls in the value's
  // second, the host decides the line at the precision both carry.
  int32_t nanoseconds = 0;

  bool operator==(const ConditionLine&) const = default;

  // Every field in one order: what a copy of a line elsewhere (the Python
  // package's tuple) is made from and read back into.
  auto Fields() {
    return std::tie(open, field, op, value, type, close, link, negate, has_tag,
                    tag, inverted, matches, nanoseconds);
  }
  auto Fields() const {
    return std::tie(open, field, op, value, type, close, link, negate, has_tag,
                    tag, inverted, matches, nanoseconds);
  }
};

}  // namespace eventquery

#endif  // QUERY_CONDITIONLINE_H_
