#include "expression/ConditionValue.h"

#include <algorithm>
#include <initializer_list>

#include "expression/DateText.h"
#include "expression/IntegerText.h"
#include "expression/RowText.h"
#include "expression/Text.h"
#include "filtermodule/FilterModule.h"

namespace filtermodule {
namespace {

// An integer text of at most 18 digits, as a 64-bit value.
std::optional<int64_t> SmallInteger(const std::optional<DecimalText>& d) {
  if (!d || !d->fraction.empty() || d->whole.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (char16_t c : d->whole) v = v * 10 + (c - u'0');
  return d->negative ? -v : v;
}

// The tagged patterns of `value` between the markers.
void BuildTagged(const std::u16string& value, const std::u16string& start,
                 const std::u16string& end, std::u16string* like,
                 std::u16string* contains, SubstringSearch* search) {
  std::u16string equals = start;
  equals.append(value).append(end);
  search->Prepare(equals);
  like->assign(u"*").append(equals).append(u"*");
  contains->assign(u"*")
      .append(start)
      .append(u"*")
      .append(value)
      .append(u"*")
      .append(end)
      .append(u"*");
}

// `like` made the LIKE pattern of `value` ("%" read as "*"), its buffer
// reused.
void AssignLike(std::u16string& like, const std::u16string& value) {
  like.assign(value);
  std::replace(like.begin(), like.end(), u'%', u'*');
}

}  // namespace

ConditionValue::ConditionValue(std::u16string_view text, int32_t field_type,
                               std::u16string_view tag_name)
    : numeric_(field_type == kTypeNumeric) {
  AssignLowered(text_, text);
  // A period's keyword is compared as such, not read as a date.
  if (field_type != kTypeDate ||
      ParseNamedPeriod(text_) == NamedPeriod::kNone) {
    std::u16string scratch;
    NormalizeForFieldType(field_type, text_, scratch);
  }
  AssignLike(like_, text_);
  contains_.Prepare(text_);
  start_marker_.assign(u"@").append(tag_name).append(u"@");
  LowerInPlace(start_marker_);
  end_marker_.assign(u"~").append(tag_name).append(u"~");
  LowerInPlace(end_marker_);
  BuildTagged(text_, start_marker_, end_marker_, &tagged_like_,
              &tagged_contains_, &tagged_search_);
  tagged_runs_ = true;
  for (const std::u16string* run : {&start_marker_, &text_, &end_marker_})
    if (run->find_first_of(u"*?[") != std::u16string::npos)
      tagged_runs_ = false;
  // "*" + runs + "*" with no "?" or set: the runs found in order decide.
  tagged_like_split_ =
      tagged_like_.find_first_of(u"?[") == std::u16string::npos;
  if (tagged_like_split_)
    for (size_t at = 0; at < tagged_like_.size();) {
      size_t end = tagged_like_.find(u'*', at);
      if (end == std::u16string::npos) end = tagged_like_.size();
      if (end > at)
        tagged_like_runs_.push_back(tagged_like_.substr(at, end - at));
      at = end + 1;
    }
  std::u16string zero = text_;
  ZeroFill(zero, text_.size() + 1);
  decimal_ = ParseDecimal(text_);
  zero_decimal_ = ParseDecimal(zero);
  integer_ = SmallInteger(decimal_);
  zero_integer_ = SmallInteger(zero_decimal_);
  fill_sensitive_ = decimal_.has_value() != zero_decimal_.has_value() ||
                    integer_ != zero_integer_;
  days_ = ParseNormalDate(text_);
  seconds_ = ParseNormalTime(text_);
  period_ = ParseNamedPeriod(text_);
}

void ConditionValue::PrepareFilled(ConditionState& state) const {
  const size_t fill = state.Fill();
  if (state.filled_for == fill) return;
  state.filled_value = text_;
  ZeroFill(state.filled_value, fill);
  AssignLike(state.filled_like, state.filled_value);
  state.filled_search.Prepare(state.filled_value);
  BuildTagged(state.filled_value, start_marker_, end_marker_,
              &state.filled_tagged_like, &state.filled_tagged_contains,
              &state.filled_tagged_search);
  state.filled_for = fill;
}

std::u16string_view ConditionValue::Text(ConditionState& state) const {
  if (!IsFilled(state)) return text_;
  PrepareFilled(state);
  return state.filled_value;
}

std::u16string ConditionValue::FilledValue(const ConditionState& state) const {
  std::u16string value = text_;
  if (numeric_) ZeroFill(value, state.Fill());
  return value;
}

}  // namespace filtermodule
