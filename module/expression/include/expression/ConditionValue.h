// A condition's value, read once when the condition is built: the text
// that comparisons see and everything made from it.
//
// The text is lower-cased and, for a date or a time field, brought to its
// normal form ("dd-mm-yyyy", "HH-MM-SS"); a named-period keyword on a date
// field stays a keyword. From it the constructor makes the LIKE pattern
// ("%" read as "*"), the CONTAINS search, the tagged patterns around the
// extended tag's markers, and its readings as a decimal number, a 64-bit
// integer, a day, a second of the day and a named period.
//
// A numeric condition's value is zero-filled, as text, to the longest row
// text seen (ConditionState::Fill). The filled text and its patterns belong
// to the row state, not to the value: they are made into the state when a
// comparison needs them, and the value itself never changes.
//
// Cost: construction is O(value + tag); the accessors are O(1). Text()
// and PrepareFilled() are O(value + fill) when the fill has grown, else
// O(1); FilledValue() is O(value + fill).
//
// Thread safety: immutable after construction; any number of threads may
// read it, each with its own ConditionState.

#ifndef FILTERMODULE_EXPRESSION_CONDITIONVALUE_H_
#define FILTERMODULE_EXPRESSION_CONDITIONVALUE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "expression/Decimal.h"
#include "expression/NamedPeriod.h"
#include "expression/RowValues.h"
#include "expression/SubstringSearch.h"

namespace filtermodule {

class ConditionValue {
 public:
  // Reads `text` as the value of a condition on a field of `field_type`
  // whose extended tag (if any) is `tag_name`. Throws StatusFailure for a
  // date or a time it cannot read.
  ConditionValue(std::u16string_view text, int32_t field_type,
                 std::u16string_view tag_name);

  // The value: lower-cased, in normal form.
  const std::u16string& text() const { return text_; }
  // The LIKE pattern: the value with "%" read as "*".
  const std::u16string& like() const { return like_; }
  const SubstringSearch& contains() const { return contains_; }

  // With an extended tag T: "@t@" and "~t~", and the patterns of the
  // tagged comparisons ("@t@" value "~t~" found; "*@t@" value "~t~*";
  // "*@t@*" value "*~t~*").
  const std::u16string& start_marker() const { return start_marker_; }
  const std::u16string& end_marker() const { return end_marker_; }
  const SubstringSearch& tagged_search() const { return tagged_search_; }
  const std::u16string& tagged_like() const { return tagged_like_; }
  const std::u16string& tagged_contains() const { return tagged_contains_; }
  // The tagged CONTAINS pattern has no wildcard of its own: it is found as
  // its three runs (marker, value, marker) in order.
  bool tagged_contains_is_runs() const { return tagged_runs_; }
  // The tagged LIKE pattern has no "?" or set: it is found as these runs,
  // in order. Empty otherwise.
  const std::vector<std::u16string>& tagged_like_runs() const {
    return tagged_like_runs_;
  }
  bool tagged_like_is_runs() const { return tagged_like_split_; }

  // The value read as a number; `filled` after at least one zero was
  // filled in (more zeros change neither whether it is one nor its value).
  const std::optional<DecimalText>& decimal(bool filled) const {
    return filled ? zero_decimal_ : decimal_;
  }
  // An integer value that fits 64 bits, for native comparison.
  const std::optional<int64_t>& integer(bool filled) const {
    return filled ? zero_integer_ : integer_;
  }
  // The number reads differently once a zero is filled in ("" is no
  // number, "0" is).
  bool fill_sensitive() const { return fill_sensitive_; }
  const std::optional<int64_t>& days() const { return days_; }
  const std::optional<int32_t>& seconds() const { return seconds_; }
  NamedPeriod period() const { return period_; }

  // Whether comparisons on text see the value zero-filled in `state`.
  bool IsFilled(const ConditionState& state) const {
    return numeric_ && state.Fill() > text_.size();
  }
  // The value as comparisons on text see it: zero-filled for a numeric
  // condition. The filled text lives in `state`.
  std::u16string_view Text(ConditionState& state) const;
  // Makes the state's filled value and its patterns for the current fill.
  void PrepareFilled(ConditionState& state) const;
  // The value as Text() gives it, as a new text, without touching `state`.
  std::u16string FilledValue(const ConditionState& state) const;

 private:
  bool numeric_;
  std::u16string text_;
  std::u16string like_;
  SubstringSearch contains_;
  std::u16string start_marker_;
  std::u16string end_marker_;
  SubstringSearch tagged_search_;
  std::u16string tagged_like_;
  std::u16string tagged_contains_;
  bool tagged_runs_ = false;
  std::vector<std::u16string> tagged_like_runs_;
  bool tagged_like_split_ = false;
  std::optional<DecimalText> decimal_;
  std::optional<DecimalText> zero_decimal_;
  std::optional<int64_t> integer_;
  std::optional<int64_t> zero_integer_;
  bool fill_sensitive_ = false;
  std::optional<int64_t> days_;
  std::optional<int32_t> seconds_;
  NamedPeriod period_ = NamedPeriod::kNone;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_CONDITIONVALUE_H_
