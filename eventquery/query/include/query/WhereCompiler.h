// Compiles a --where expression into condition lines.
//
//   expression := term (link term)*
//   link       := AND | OR | AND NOT | OR NOT
//   term       := [NOT] condition | "(" expression ")"
//   condition  := field[@tag][:type] operator value
//               | `any name` operator value   (a doubled ` stands for one)
//   operator   := = | == | != | <> | < | <= | > | >= | LIKE | CONTAINS | IN
//   value      := bare word | 'single quoted' | "double quoted"
//                 (a quote inside is doubled); after IN a period:
//                 TODAY, YESTERDAY, LAST 30 DAYS, THIS MONTH, LAST MONTH
//
// The module compares with =, < and > only: "a >= 5" is built as the line
// NOT a < 5, "a <= 5" as NOT a > 5, "a != 5" and "a <> 5" as NOT a = 5,
// each marked `inverted` (a missing value makes the condition as written
// false). NOT before such a condition takes the line's NOT away again.
//
// Terms combine strictly left to right, exactly as the module evaluates
// them: A OR B AND C means (A OR B) AND C. Keywords ignore case. NOT negates
// one condition; to negate a group write AND NOT / OR NOT before it.
//
// A field's type comes from ":type" (numeric, text, date, time), else from
// the caller's overrides, else from the value: a number is numeric,
// something shaped like a date (digits, "/" or "-", digits) a date, like a
// time (digits, ":", digits) a time, a period keyword or IN a date; LIKE
// and CONTAINS compare text; anything else is text. Every value is then
// checked against its type (evfilter/ValueForms.h): a value that does not
// fit is a syntax error at the value's column.

#ifndef QUERY_WHERECOMPILER_H_
#define QUERY_WHERECOMPILER_H_

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "query/ConditionLine.h"

namespace eventquery {

class SyntaxError : public std::runtime_error {
 public:
  SyntaxError(size_t column, const std::string& message)
      : std::runtime_error(message), column_(column) {}
  // 1-based column (in bytes) of the offending place.
  size_t column() const { return column_; }

 private:
  size_t column_;
};

// Field name (as written, any case) -> field type code.
using TypeOverrides = std::map<std::string, int32_t>;

// Throws SyntaxError.
std::vector<ConditionLine> CompileWhere(std::string_view expression,
                                        const TypeOverrides& types = {});

// The type code for a type name (numeric, text, date, time; any case), or -1.
int32_t TypeFromName(std::string_view name);

}  // namespace eventquery

#endif  // QUERY_WHERECOMPILER_H_
