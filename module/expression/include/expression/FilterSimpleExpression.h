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
// row text seen so far (ConditionState::fill); the texts it compares, and
// the intervals derived after matching, see the filled value.
//
// Everything derived from the value or the tag (the LIKE pattern, the
// CONTAINS search, the tagged patterns, the value read as a number, a day,
// a second or a period) is made when the value or the tag is set. Eval only
// reads the tree.
//
// Eval catches every failure inside it ("FSEEval - unknown exception.") and
// then returns the result formed so far, without the NOT flag; false when
// none was formed.
//
// Cost: Eval allocates nothing in steady state; LIKE and tagged comparisons
// are O(pattern x text), the others O(text).
//
// Thread safety: the tree may be read by one evaluation at a time per
// RowValues; setters are for building.

#ifndef FILTERMODULE_EXPRESSION_FILTERSIMPLEEXPRESSION_H_
#define FILTERMODULE_EXPRESSION_FILTERSIMPLEEXPRESSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expression/Decimal.h"
#include "expression/FilterExpression.h"
#include "expression/NamedPeriod.h"
#include "expression/SubstringSearch.h"

namespace filtermodule {

class FilterSimpleExpression : public FilterExpression {
 public:
  FilterSimpleExpression() = default;
  ~FilterSimpleExpression() override = default;

  // Reads slot and state `index()` of `row`.
  bool Eval(RowValues& row) const override;
  // One interval from this condition when it names `field` (less, greater
  // and equals narrow it), else the whole range.
  DerivedIntervals DeriveIntervals(std::u16string_view field,
                                   const RowValues* row) const override;
  std::u16string ToString() const override;

  // Stores the value lower-cased and normalised by the field type (set the
  // type first). A named-period keyword on a date field stays a keyword.
  // Throws StatusFailure for a date or time it cannot read; the value then
  // holds the lower-cased text.
  void SetValue(std::u16string_view value);
  // Makes `slot` hold `text` as this condition's row text: lower-cased and
  // normalised by the field type, with its day or second when it is a date
  // or a time. Throws StatusFailure for a date or time it cannot read.
  void SetSlotText(RowSlot& slot, std::u16string_view text) const;

  // The row text as comparisons on text see it, made on demand into the
  // slot: lower-cased, normalised, zero-filled.
  std::u16string_view RowText(RowSlot& slot, ConditionState& state) const;
  // The value as comparisons see it: zero-filled for a numeric condition.
  std::u16string_view Value(ConditionState& state) const;
  // The same without making anything: the filled value, as a new text.
  std::u16string FilledValue(const ConditionState& state) const;

  const std::u16string& GetValue() const { return value_; }
  const std::u16string& GetFieldName() const { return field_name_; }
  int32_t GetFieldType() const { return field_type_; }
  const std::u16string& GetTagName() const { return tag_name_; }
  int32_t GetFieldOperator() const { return field_operator_; }
  bool GetNot() const { return not_; }
  bool GetHasTag() const { return has_tag_; }
  // The condition's place in the filter's list: its slot in RowValues.
  size_t index() const { return index_; }

  void SetFieldName(std::u16string_view name);
  // The field is "REL_EXT_TAGS" (any case): an empty text of it is read
  // from "EXT_TAGS".
  bool IsRelExtTags() const { return rel_ext_tags_; }
  void SetFieldType(int32_t type) {
    field_type_ = type;
    Classify();
  }
  void SetTagName(std::u16string_view name);
  void SetFieldOperator(int32_t op) {
    field_operator_ = op;
    Classify();
  }
  void SetNot(bool flag) { not_ = flag; }
  void SetHasTag(bool flag) {
    has_tag_ = flag;
    Classify();
  }
  void SetIndex(size_t index) { index_ = index; }

  // The direct comparisons: an integer against an integer value, a day
  // against a day, a second against a second, a host's text by equals,
  // LIKE or CONTAINS. Each applies only to a slot of its own kind; any
  // other slot takes Eval's general path.
  enum class Direct : uint8_t {
    kNone,
    kInteger,
    kDays,
    kSeconds,
    kTextEquals,
    kTextLike,
    kTextContains,
  };
  // A direct comparison and its operands, for a matcher that decides the
  // common cases without calling Eval. Valid while the expression is.
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
  // Brings a lower-cased `text` to the normal form of a date or time field;
  // true when it did.
  bool NormalizeForType(std::u16string& text, bool keep_keyword,
                        std::u16string& scratch) const;
  // Reads the value for the comparisons that need it as a number, a date,
  // a time or a period, and prepares the searches.
  void Prepare();
  // Sets `result` as soon as the comparison is complete.
  void EvalPlain(RowSlot& slot, ConditionState& state, PeriodToday& today,
                 bool& result) const;
  void EvalTagged(RowSlot& slot, ConditionState& state, bool& result) const;
  // <0, 0, >0: the row against the value, natively where both allow it.
  int Compare(RowSlot& slot, ConditionState& state) const;
  // Makes the state's filled value and its patterns for the current fill.
  void PrepareFilled(ConditionState& state) const;
  // Chooses the direct comparison for the common cases.
  void Classify();
  // Whether the direct comparison decides `slot`; the answer, before NOT,
  // in `result`.
  bool EvalDirect(const RowSlot& slot, bool& result) const;

  std::u16string value_;
  std::u16string field_name_;
  int32_t field_type_ = kTypeText;
  std::u16string tag_name_;
  int32_t field_operator_ = kOpEquals;
  bool not_ = false;
  bool has_tag_ = false;
  size_t index_ = 0;
  bool rel_ext_tags_ = false;
  // A numeric value that reads differently once a zero is filled in ("" is
  // no number, "0" is).
  bool fill_sensitive_ = false;
  Direct direct_ = Direct::kNone;

  // Derived from the value and the tag when they are set.
  std::u16string like_;  // the value with "%" read as "*"
  SubstringSearch contains_;
  SubstringSearch tagged_search_;  // marker, value, marker
  std::u16string start_marker_;
  std::u16string end_marker_;
  std::u16string tagged_like_;
  std::u16string tagged_contains_;
  // tagged_contains_ has no "?", "[" or "*" but its own separators: it is
  // found as its three runs in order.
  bool tagged_runs_ = false;
  // tagged_like_ ("*" marker value marker "*") has no "?" or set: it is
  // found as its runs between "*"s, in order.
  std::vector<std::u16string> tagged_like_runs_;
  bool tagged_like_split_ = false;
  // The value as a number: unfilled, and as soon as one zero is filled in
  // (more zeros change neither whether it is one nor its value).
  std::u16string value_zero_;
  std::optional<DecimalText> value_decimal_;
  std::optional<DecimalText> value_zero_decimal_;
  // An integer value that fits 64 bits, for native comparison.
  std::optional<int64_t> value_integer_;
  std::optional<int64_t> value_zero_integer_;
  std::optional<int64_t> value_days_;
  std::optional<int32_t> value_seconds_;
  NamedPeriod value_period_ = NamedPeriod::kNone;
};

// Inserts zeros after the leading blanks and sign of `text` until it is
// `length` long, so that a number keeps its value.
void ZeroFill(std::u16string& text, size_t length);

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_FILTERSIMPLEEXPRESSION_H_
