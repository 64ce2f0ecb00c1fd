// The condition lines as one comparable text, "open field op 'value' type
// close link [NOT] [inverted]; " per line, for the tests of the compilers.

#ifndef TESTS_SUPPORT_DESCRIBELINES_H_
#define TESTS_SUPPORT_DESCRIBELINES_H_

#include <string>
#include <vector>

#include "common/Utf8.h"
#include "query/ConditionLine.h"
#include "query/Definition.h"

namespace eventquery {

inline std::string Describe(const std::vector<ConditionLine>& lines) {
  std::string out;
  for (const auto& l : lines) {
    out += std::to_string(l.open) + " " + common::ToUtf8(l.field);
    if (l.has_tag) out += "@" + common::ToUtf8(l.tag);
    out += " " + OperatorName(l.op) + " '" + common::ToUtf8(l.value) + "' " +
           TypeName(l.type) + " " + std::to_string(l.close) + " " +
           LinkName(l.link) + (l.negate ? " NOT" : "") +
           (l.inverted ? " inverted" : "") + "; ";
  }
  return out;
}

}  // namespace eventquery

#endif  // TESTS_SUPPORT_DESCRIBELINES_H_
