// One condition line as the tools compile it from an expression or read it
// from a definition file: the fields the module reads through IFilterLine,
// and what the tools themselves need to know of how it was written.
//
// Thread safety: plain data.

#ifndef QUERY_CONDITIONLINE_H_
#define QUERY_CONDITIONLINE_H_

#include <cstdint>
#include <string>

namespace eventquery {

struct ConditionLine {
  int32_t open = 0;  // opening brackets before the condition
  std::u16string field;
  int32_t op = 0;  // field operator: 0 =, 1 LIKE, 2 CONTAINS, 3 <, 4 >,
                   // 5 named period
  std::u16string value;
  int32_t type = 1;   // field type: 0 numeric, 1 text, 2 date, 3 time
  int32_t close = 0;  // closing brackets after it
  int32_t link = 0;   // to the next line: 0 AND, 1 OR, 2 AND NOT, 3 OR NOT
  bool negate = false;
  bool has_tag = false;
  std::u16string tag;
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
};

}  // namespace eventquery

#endif  // QUERY_CONDITIONLINE_H_
