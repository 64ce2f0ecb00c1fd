// One condition line as the host handed it over: what a leaf of the
// expression tree is built from.
//
// The texts are the module's own copies, unchanged (not yet lower-cased or
// normalised); a null text of the host is empty here. The tag's name is
// read only when `has_tag` is true (the reader leaves it empty otherwise).
// Plain data: copy and compare it freely.

#ifndef FILTERMODULE_EXPRESSION_CONDITIONLINE_H_
#define FILTERMODULE_EXPRESSION_CONDITIONLINE_H_

#include <cstdint>
#include <string>

#include "filtermodule/FilterModule.h"

namespace filtermodule {

struct ConditionLine {
  int32_t field_type = kTypeText;
  std::u16string value;
  int32_t link_operator = kLinkAnd;
  bool negate = false;  // the line's NOT flag
  int32_t field_operator = kOpEquals;
  bool has_tag = false;
  std::u16string tag_name;
  std::u16string field_name;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_CONDITIONLINE_H_
