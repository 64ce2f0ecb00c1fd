// Compiles a --where expression into condition lines.
//
//   expression := term (link term)*
//   link       := AND | OR | AND NOT | OR NOT
//   term       := NOT* (condition | "(" expression ")")
//   condition  := field compare
//   field      := name[@tag][:type] | `any name` (a doubled ` stands for one)
//   compare    := (= | == | != | <> | < | <= | > | >=) value
//               | [NOT] LIKE value | [NOT] CONTAINS value
//               | [NOT] MATCHES value            regular expression (RE2)
//               | [NOT] IN "(" value ("," value)* ")"
//               | [NOT] BETWEEN value AND value  inclusive
//               | [NOT] IN period | SINCE value
//   value      := bare word | 'single quoted' | "double quoted"
//                 (a quote inside is doubled)
//   period     := TODAY | YESTERDAY | LAST 30 CALENDAR DAYS | THIS MONTH
//                 | LAST MONTH
//                 (the module's own, decided as it defines them; LAST 30
//                 CALENDAR DAYS is its LAST 30 DAYS)
//               | LAST n DAYS | LAST n HOURS | LAST WEEK | THIS WEEK
//                 (n x 24 or n hours back from now for every n, fixed to
//                 dates and times when the expression is compiled; weeks
//                 run Monday to Sunday)
//
// The module compares with =, < and > only: "a >= 5" is built as the line
// NOT a < 5, "a <= 5" as NOT a > 5, "a != 5" and "a <> 5" as NOT a = 5,
// each marked `inverted` (a missing value makes the condition as written
// false). A NOT is taken into the lines: NOT before a condition flips its
// line's NOT; NOT before a group (first in an expression, where no link
// can carry it) negates each of its terms and swaps AND and OR. The
// compiler writes only lines the module knows:
//   IN (a, b)            (f = a OR f = b)
//   BETWEEN a AND b      (f >= a AND f <= b)
//   f >= '2026-12-08 22:00'  a timestamp: (date > d OR (date = d AND
//                        time >= t)) on the same field, and the mirror
//                        forms for <, <= and >; = is (date = d AND
//                        time = t)
//   SINCE v              f >= v (a date or a timestamp)
//   MATCHES 're'         a text line marked `matches`, decided by the host
//
// Terms combine strictly left to right, exactly as the module evaluates
// them: A OR B AND C means (A OR B) AND C. An expression that mixes AND and
// OR without brackets gets a note that shows the grouping. Keywords ignore
// case.
//
// A field's type comes from ":type" (numeric, text, date, time), else from
// the caller's overrides, else from the value: a number is numeric,
// something shaped like a date (digits, "/" or "-", digits) a date, like a
// time (digits, ":", digits) a time, a period keyword or IN a date; LIKE,
// CONTAINS and MATCHES compare text; anything else is text. Every value is
// then checked against its type (query/ValueForms.h): a value that does not
// fit is a syntax error at the value's column. Where no type was given, a
// bare word that would compare as text by accident is an error with a
// hint: one with a comma (a list: IN), and one after <, <=, > or >= that is
// no number, date, time or timestamp ("NOW").

#ifndef QUERY_WHERECOMPILER_H_
#define QUERY_WHERECOMPILER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
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

struct WhereOptions {
  TypeOverrides types;
  // The instant relative periods count back from, in seconds since
  // 1970-01-01T00:00:00Z; the clock when not given.
  std::optional<int64_t> now;
  // Relative periods are fixed in UTC rather than the local time zone (as
  // records are read with evfilter's --utc).
  bool utc = false;
};

struct CompiledWhere {
  std::vector<ConditionLine> lines;
  // Sentences for the user that are no errors: how an expression that
  // mixes AND and OR without brackets is grouped.
  std::vector<std::string> notes;
};

// Throws SyntaxError.
CompiledWhere CompileWhere(std::string_view expression,
                           const WhereOptions& options);
std::vector<ConditionLine> CompileWhere(std::string_view expression,
                                        const TypeOverrides& types = {});

// The language's keywords and its periods as they are written ("LIKE",
// "LAST 30 CALENDAR DAYS", "LAST n DAYS"), for help texts and the tests
// that hold them to it.
std::vector<std::string> ExpressionWords();

// The type code for a type name (numeric, text, date, time; any case), or -1.
int32_t TypeFromName(std::string_view name);

// Adds the field types an input declares (name, type name), as a record
// reader gives them, for the fields `types` does not name in any case:
// what the user chose stays first.
void AddDeclaredTypes(
    const std::vector<std::pair<std::string, std::string>>& declared,
    TypeOverrides& types);

}  // namespace eventquery

#endif  // QUERY_WHERECOMPILER_H_
