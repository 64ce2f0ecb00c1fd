// One field comparison: a leaf of the expression tree.
//
// The expression compares the row text (the current row's field, stored by
// the row loader before each evaluation) with the condition's value by the
// field operator, optionally inside one extended tag of the row text, and
// optionally negated. Value and row text are stored lower-cased; date and
// time texts are stored in their normal forms ("dd-mm-yyyy", "HH-MM-SS").
//
//   operator  plain                          with an extended tag T
//   0 equals  same text (numbers: same       "@t@" value "~t~" occurs in
//             value; see below)              the row text
//   1 LIKE    wildcard match, "%" read as    "*@t@" value "~t~*" matches
//             "*" (rewritten in the value)   ("%" is literal)
//   2 CONTAINS value occurs in the row text  "*@t@*" value "*~t~*" matches
//   3 less    row text sorts before value    (unknown operator: false)
//   4 greater row text sorts after value     (unknown operator: false)
//   5 period  row date inside the named      (unknown operator: false)
//             period
// Numeric fields compare exactly as decimal numbers when both texts read as
// such; date fields order less/greater chronologically; otherwise texts
// order case-insensitively by code unit, the shorter first.
//
// Eval catches every failure inside it ("FSEEval - unknown exception.") and
// then returns the result formed so far, without the NOT flag; false when
// none was formed.
//
// Cost: Eval allocates nothing once its tagged patterns are built (when the
// tag or value changes); LIKE and tagged comparisons are O(pattern x text),
// the others O(text).
//
// Thread safety: one thread at a time (the row loader writes into it, and a
// plain LIKE evaluation rewrites the value).

#ifndef TESTS_LEGACY_LEGACYSIMPLEEXPRESSION_H_
#define TESTS_LEGACY_LEGACYSIMPLEEXPRESSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "expression/Decimal.h"
#include "expression/NamedPeriod.h"
#include "expression/SubstringSearch.h"
#include "legacy/LegacyExpression.h"

namespace legacy {
using namespace filtermodule;

class FilterSimpleExpression : public FilterExpression {
 public:
  FilterSimpleExpression() = default;
  ~FilterSimpleExpression() override = default;

  bool Eval() override;
  // One interval from this condition when it names `field` (less, greater
  // and equals narrow it), else the whole range.
  DerivedIntervals DeriveIntervals(std::u16string_view field) override;
  std::u16string ToString() override;

  // Stores the value lower-cased and normalised by the field type (set the
  // type first). A named-period keyword on a date field stays a keyword.
  // Throws StatusFailure for a date or time it cannot read; the value then
  // holds the lower-cased text.
  void SetValue(std::u16string_view value);
  // Stores the row text like SetValue (no keyword exception).
  void SetRowText(std::u16string_view text);
  // Stores a row text that is already lower-case and in the normal form of
  // the field type, as SetRowText would store it.
  void SetNormalRowText(std::u16string_view text) { row_text_.assign(text); }

  const std::u16string& GetValue() const { return value_; }
  const std::u16string& GetRowText() const { return row_text_; }
  const std::u16string& GetFieldName() const { return field_name_; }
  int32_t GetFieldType() const { return field_type_; }
  const std::u16string& GetTagName() const { return tag_name_; }
  int32_t GetFieldOperator() const { return field_operator_; }
  bool GetNot() const { return not_; }
  bool GetHasTag() const { return has_tag_; }

  void SetFieldName(std::u16string_view name) { field_name_.assign(name); }
  void SetFieldType(int32_t type) { field_type_ = type; }
  void SetTagName(std::u16string_view name) {
    tag_name_.assign(name);
    patterns_stale_ = true;
  }

  // Forgets every search prepared for the value or the tag.
  void MarkStale() { patterns_stale_ = contains_stale_ = true; }
  // Reads the value once for the comparisons that need it as a number, a
  // date or a period.
  void ReadValue();
  void SetFieldOperator(int32_t op) { field_operator_ = op; }
  void SetNot(bool flag) { not_ = flag; }
  void SetHasTag(bool flag) { has_tag_ = flag; }

 private:
  // Brings a lower-cased `text` to the normal form of a date or time field;
  // true when it did.
  bool NormalizeForType(std::u16string& text, bool keep_keyword);
  // Sets `result` as soon as the comparison is complete.
  void EvalPlain(bool& result);
  void EvalTagged(bool& result);
  // Numeric and date fields compare by value where both texts allow it.
  int CompareRowToValue() const;
  void BuildTaggedPatterns();

  std::u16string value_;
  std::u16string row_text_;
  std::u16string field_name_;
  int32_t field_type_ = kTypeText;
  std::u16string tag_name_;
  int32_t field_operator_ = kOpEquals;
  bool not_ = false;
  bool has_tag_ = false;

  // Searchers and tagged patterns, rebuilt when the tag or the value
  // changes.
  bool patterns_stale_ = true;
  bool contains_stale_ = true;
  SubstringSearch contains_;       // plain CONTAINS: the value
  SubstringSearch tagged_search_;  // tagged equals: marker, value, marker
  std::u16string start_marker_;
  std::u16string end_marker_;
  std::u16string tagged_equals_;
  std::u16string tagged_like_;
  std::u16string tagged_contains_;
  // The value as the comparisons read it, kept with the value.
  std::optional<DecimalText> value_decimal_;
  std::optional<int64_t> value_days_;
  NamedPeriod value_period_ = NamedPeriod::kNone;
  bool like_rewritten_ = false;  // the value holds no "%" any more
  // Spare buffer for normalising; swapped with the stored text.
  std::u16string scratch_;
};

}  // namespace legacy

#endif  // TESTS_LEGACY_LEGACYSIMPLEEXPRESSION_H_
