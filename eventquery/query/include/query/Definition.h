// Filter definitions as JSON files:
//
//   {"lines": [{"field": "EventID", "operator": "=", "value": "4625",
//               "type": "numeric", "open": 1, "close": 0, "not": false,
//               "tag": "Severity", "link": "OR"}, ...]}
//
// Operators by name (=, like, contains, <, >, period; any case) or code
// 0..5; "==" is "=", "matches" a regular expression the host decides (a
// CONTAINS line marked `matches`), and ">=", "<=", "!=" and "<>" are built as
// the negated lines NOT <, NOT >, NOT = marked inverted ("not" then negates the
// operator as written); DefinitionToJson writes them back by these names; types
// by name (numeric, text, date, time) or code; links by name (AND, OR, AND NOT,
// OR NOT) or code. A number is passed on as it is. Only "field" is required;
// "operator" defaults to "=", "type" to text, "link" to AND, "value" to "",
// brackets to 0, "not" to false.

#ifndef QUERY_DEFINITION_H_
#define QUERY_DEFINITION_H_

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "query/ConditionLine.h"

namespace eventquery {

class DefinitionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The lines of a definition; throws DefinitionError naming the line and the
// accepted words.
std::vector<ConditionLine> ParseDefinition(std::string_view json);

// The definition as JSON text (names where a code has one).
std::string DefinitionToJson(const std::vector<ConditionLine>& lines);

// The lines as an expression a person reads, saying what the filter does:
// each condition with its operator as written (>=, !=, MATCHES) and its
// NOT, the lines' brackets and links: (Id = 4624 OR NOT User = 'bob') AND
// T >= '12/1/2026'. Text, date and time values are quoted, numbers bare; a
// field that is no bare word is backquoted; the module's period LAST 30
// DAYS is LAST 30 CALENDAR DAYS, as expressions write it.
std::string ExpressionText(const std::vector<ConditionLine>& lines);

// Names of codes, for tables and JSON; the number for other codes.
std::string OperatorName(int32_t op);
std::string TypeName(int32_t type);
std::string LinkName(int32_t link);

}  // namespace eventquery

#endif  // QUERY_DEFINITION_H_
