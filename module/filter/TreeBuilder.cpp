#include "filter/TreeBuilder.h"

#include "expression/Text.h"

namespace filtermodule {

ConditionLine ReadConditionLine(IFilterLine& line) {
  ConditionLine c;
  c.field_type = line.GetFieldType();
  c.value.assign(ViewOf(line.GetValue()));
  c.link_operator = line.GetLinkOperator();
  c.negate = line.GetNot();
  c.field_operator = line.GetFieldOperator();
  c.has_tag = line.HasExtendedTag();
  if (c.has_tag) c.tag_name.assign(ViewOf(line.GetTagName()));
  c.field_name.assign(ViewOf(line.GetFieldName()));
  return c;
}

}  // namespace filtermodule
