// One field comparison: a leaf of the expression tree.
//
// The expression compares the current row's field (its slot in RowValues,
// filled by the row loader before each evaluation) with the condition's
// value by the field operator, optionally inside one extended tag of the
// row's text, and optionally negated. The value is stored lower-cased;
// date and time values in their normal forms ("dd-mm-yyyy", "HH-MM-SS").
//
//   operator  plain                          with an extended tag T
//   0 equals  same text (numbers: same       "@t@" value "~t~" occurs in
//             value; see below)              the row text
//   1 LIKE    wildcard match, "%" read as    "*@t@" value "~t~*" matches
//             "*"                            ("%" is literal)
//   2 CONTAINS value occurs in the row text  "*@t@*" value "*~t~*" matches
//   3 less    row sorts before value         (unknown operator: false)
//   4 greater row sorts after value          (unknown operator: false)
//   5 period  row date inside the named      (unknown operator: false)
//             period
// Numbers compare exactly as decimal numbers when the value is one (no
// binary rounding makes two different values equal); dates by day number;
// times by second; texts case-insensitively by code unit, the shorter
// first. Everything else (LIKE and CONTAINS, tags, the text order of a
// value that is not a number) compares the row text: the number rendered
// and zero-filled, the text lower-cased, the date or time in normal form.
//
// A numeric condition's value and row text are zero-filled to the longest
// row text seen so far (ConditionState::Fill); the texts it compares, and
// the intervals derived after matching, see the filled value.
//
// The condition is built from one condition line and does not change
// afterwards: its value (ConditionValue) is read when it is built, and
// what belongs to a row or persists between rows (the row text, the
// zero-filled value) lives in RowValues, which Eval is handed.
//
// Eval catches every failure inside it ("FSEEval - unknown exception.") and
// then returns the result formed so far, without the NOT flag; false when
// none was formed.
//
// Cost: Eval allocates nothing in steady state; LIKE and tagged comparisons
// are O(pattern x text), the others O(text).
//
// Thread safety: immutable; any number of evaluations may run at once, each
// with its own RowValues.

#ifndef FILTERMODULE_EXPRESSION_FILTERSIMPLEEXPRESSION_H_
#define FILTERMODULE_EXPRESSION_FILTERSIMPLEEXPRESSION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "expression/ConditionLine.h"
#include "expression/ConditionValue.h"
#include "expression/FilterExpression.h"
#include "expression/RowValues.h"
#include "expression/SubstringSearch.h"

namespace filtermodule {

class FilterSimpleExpression : public FilterExpression {
 public:
  // The condition of `line`, at place `index` of the filter's list (its
  // slot in RowValues). Throws StatusFailure for a date or time value it
  // cannot read.
  FilterSimpleExpression(ConditionLine line, size_t index);
  ~FilterSimpleExpression() override = default;

  // Reads slot and state `index()` of `row`.
  bool Eval(RowValues& row) const override;
  // One interval from this condition when it names `field` (less, greater
  // and equals narrow it), else the whole range.
  DerivedIntervals DeriveIntervals(std::u16string_view field,
                                   const RowValues* row) const override;
  std::u16string ToString() const override;

  // Makes `slot` hold `text` as this condition's row text: lower-cased and
  // normalised by the field type, with its day or second when it is a date
  // or a time. Throws StatusFailure for a date or time it cannot read.
  void SetSlotText(RowSlot& slot, std::u16string_view text) const;
  // The row text as comparisons on text see it, made on demand into the
  // slot: lower-cased, normalised, zero-filled.
  std::u16string_view RowText(RowSlot& slot, ConditionState& state) const;
  // The value as comparisons see it: zero-filled for a numeric condition.
  std::u16string_view Value(ConditionState& state) const {
    return value_.Text(state);
  }
  // The same without making anything: the filled value, as a new text.
  std::u16string FilledValue(const ConditionState& state) const {
    return value_.FilledValue(state);
  }

  // The line as the host gave it (the value unchanged).
  const ConditionLine& line() const { return line_; }
  // The value lower-cased and normalised.
  const std::u16string& GetValue() const { return value_.text(); }
  const std::u16string& GetFieldName() const { return line_.field_name; }
  int32_t GetFieldType() const { return line_.field_type; }
  const std::u16string& GetTagName() const { return line_.tag_name; }
  int32_t GetFieldOperator() const { return line_.field_operator; }
  bool GetNot() const { return line_.negate; }
  bool GetHasTag() const { return line_.has_tag; }
  // The condition's place in the filter's list: its slot in RowValues.
  size_t index() const { return index_; }
  // The field is "REL_EXT_TAGS" (any case): an empty text of it is read
  // from "EXT_TAGS".
  bool IsRelExtTags() const { return rel_ext_tags_; }

  // The comparisons a matcher may decide without calling Eval: an integer
  // against an integer value, a day against a day, a second against a
  // second, a host's text by equals, LIKE or CONTAINS. Each applies only to
  // a slot of its own kind; any other slot is Eval's to decide.
  enum class Direct : uint8_t {
    kNone,
    kInteger,
    kDays,
    kSeconds,
    kTextEquals,
    kTextLike,
    kTextContains,
  };
  // A direct comparison and its operands. Valid while the expression is.
  struct DirectTest {
    Direct kind = Direct::kNone;
    int32_t op = kOpEquals;
    bool negate = false;
    int64_t number = 0;                       // integer, day, second
    const std::u16string* text = nullptr;     // equals, LIKE pattern
    const SubstringSearch* search = nullptr;  // CONTAINS
  };
  DirectTest GetDirectTest() const;

 private:
  // Sets `result` as soon as the comparison is complete.
  void EvalPlain(RowSlot& slot, ConditionState& state, PeriodToday& today,
                 bool& result) const;
  void EvalTagged(RowSlot& slot, ConditionState& state, bool& result) const;
  // <0, 0, >0: the row against the value, natively where both allow it.
  int Compare(RowSlot& slot, ConditionState& state) const;
  // The direct comparison for the common cases.
  Direct Classify() const;

  const ConditionLine line_;
  const ConditionValue value_;
  const size_t index_;
  const bool rel_ext_tags_;
  const Direct direct_;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_FILTERSIMPLEEXPRESSION_H_
