#include "expression/FilterSimpleExpression.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <string_view>

#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/Decimal.h"
#include "expression/IntegerText.h"
#include "expression/NamedPeriod.h"
#include "expression/Text.h"
#include "expression/Wildcard.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {
namespace {

// An integer text of at most 18 digits, as a 64-bit value.
std::optional<int64_t> SmallInteger(const std::optional<DecimalText>& d) {
  if (!d || !d->fraction.empty() || d->whole.size() > 18) return std::nullopt;
  int64_t v = 0;
  for (char16_t c : d->whole) v = v * 10 + (c - u'0');
  return d->negative ? -v : v;
}

int Order(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// "HH-MM-SS" as seconds of the day.
std::optional<int32_t> ParseNormalTime(std::u16string_view s) {
  if (s.size() != 8 || s[2] != u'-' || s[5] != u'-') return std::nullopt;
  int32_t v[3];
  for (int i = 0; i < 3; ++i) {
    const char16_t a = s[static_cast<size_t>(i * 3)];
    const char16_t b = s[static_cast<size_t>(i * 3 + 1)];
    if (a < u'0' || a > u'9' || b < u'0' || b > u'9') return std::nullopt;
    v[i] = (a - u'0') * 10 + (b - u'0');
  }
  if (v[0] > 23 || v[1] > 59 || v[2] > 59) return std::nullopt;
  return v[0] * 3600 + v[1] * 60 + v[2];
}

void PutTwo(std::u16string& out, int64_t v) {
  out.push_back(static_cast<char16_t>(u'0' + v / 10));
  out.push_back(static_cast<char16_t>(u'0' + v % 10));
}

// Whether the folded `text` holds the runs one after another, as "*" run
// "*" run ... "*" matches it: the leftmost place of each run after the
// previous one decides. O(text x longest run).
template <typename Runs>
bool FoundRunsFolded(const char16_t* text, const Runs& runs) {
  for (const std::u16string_view run : runs) {
    if (run.empty()) continue;
    for (;; ++text) {
      if (*text == u'\0') return false;
      size_t i = 0;
      while (i < run.size() && Lowered(text[i]) == run[i]) ++i;
      if (i == run.size()) {
        text += run.size();
        break;
      }
    }
  }
  return true;
}

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

}  // namespace

void ZeroFill(std::u16string& text, size_t length) {
  if (text.size() >= length) return;
  size_t at = 0;
  while (at < text.size() && (text[at] == u' ' || text[at] == u'\t')) ++at;
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) ++at;
  text.insert(at, length - text.size(), u'0');
}

bool FilterSimpleExpression::NormalizeForType(std::u16string& text,
                                              bool keep_keyword,
                                              std::u16string& scratch) const {
  if (field_type_ == kTypeDate) {
    if (keep_keyword && ParseNamedPeriod(text) != NamedPeriod::kNone)
      return false;
    NormalizeDateInto(text, scratch);
  } else if (field_type_ == kTypeTime) {
    NormalizeTimeInto(text, scratch);
  } else {
    return false;
  }
  text.swap(scratch);
  return true;
}

void FilterSimpleExpression::SetValue(std::u16string_view value) {
  AssignLowered(value_, value);
  Prepare();  // what stands if a date or time cannot be read
  std::u16string scratch;
  if (NormalizeForType(value_, /*keep_keyword=*/true, scratch)) Prepare();
}

void FilterSimpleExpression::SetFieldName(std::u16string_view name) {
  field_name_.assign(name);
  rel_ext_tags_ = EqualsNoCase(field_name_, u"REL_EXT_TAGS");
}

void FilterSimpleExpression::SetTagName(std::u16string_view name) {
  tag_name_.assign(name);
  Prepare();
}

void FilterSimpleExpression::Prepare() {
  like_ = value_;
  std::replace(like_.begin(), like_.end(), u'%', u'*');
  contains_.Prepare(value_);
  start_marker_.assign(u"@").append(tag_name_).append(u"@");
  LowerInPlace(start_marker_);
  end_marker_.assign(u"~").append(tag_name_).append(u"~");
  LowerInPlace(end_marker_);
  BuildTagged(value_, start_marker_, end_marker_, &tagged_like_,
              &tagged_contains_, &tagged_search_);
  tagged_runs_ = true;
  for (const std::u16string* run : {&start_marker_, &value_, &end_marker_})
    if (run->find_first_of(u"*?[") != std::u16string::npos)
      tagged_runs_ = false;
  // "*" + runs + "*" with no "?" or set: the runs found in order decide.
  tagged_like_runs_.clear();
  if (tagged_like_.find_first_of(u"?[") == std::u16string::npos)
    for (size_t at = 0; at < tagged_like_.size();) {
      size_t end = tagged_like_.find(u'*', at);
      if (end == std::u16string::npos) end = tagged_like_.size();
      if (end > at)
        tagged_like_runs_.push_back(tagged_like_.substr(at, end - at));
      at = end + 1;
    }
  tagged_like_split_ =
      tagged_like_.find_first_of(u"?[") == std::u16string::npos;
  value_zero_ = value_;
  ZeroFill(value_zero_, value_.size() + 1);
  value_decimal_ = ParseDecimal(value_);
  value_zero_decimal_ = ParseDecimal(value_zero_);
  value_integer_ = SmallInteger(value_decimal_);
  value_zero_integer_ = SmallInteger(value_zero_decimal_);
  fill_sensitive_ =
      value_decimal_.has_value() != value_zero_decimal_.has_value() ||
      value_integer_ != value_zero_integer_;
  value_days_ = ParseNormalDate(value_);
  value_seconds_ = ParseNormalTime(value_);
  value_period_ = ParseNamedPeriod(value_);
  Classify();
}

void FilterSimpleExpression::Classify() {
  direct_ = Direct::kNone;
  if (has_tag_) return;
  const bool order = field_operator_ == kOpEquals ||
                     field_operator_ == kOpLess ||
                     field_operator_ == kOpGreater;
  switch (field_type_) {
    case kTypeNumeric:
      if (order && value_integer_ && !fill_sensitive_)
        direct_ = Direct::kInteger;
      break;
    case kTypeText:
      if (field_operator_ == kOpEquals) direct_ = Direct::kTextEquals;
      if (field_operator_ == kOpLike) direct_ = Direct::kTextLike;
      if (field_operator_ == kOpContains) direct_ = Direct::kTextContains;
      break;
    case kTypeDate:
      if (order && value_days_) direct_ = Direct::kDays;
      break;
    case kTypeTime:
      if (order && value_seconds_) direct_ = Direct::kSeconds;
      break;
    default:
      break;
  }
}

FilterSimpleExpression::DirectTest FilterSimpleExpression::GetDirectTest()
    const {
  DirectTest test;
  test.kind = direct_;
  test.op = field_operator_;
  test.negate = not_;
  switch (direct_) {
    case Direct::kInteger:
      test.number = *value_integer_;
      break;
    case Direct::kDays:
      test.number = *value_days_;
      break;
    case Direct::kSeconds:
      test.number = *value_seconds_;
      break;
    case Direct::kTextEquals:
      test.text = &value_;
      break;
    case Direct::kTextLike:
      test.text = &like_;
      break;
    case Direct::kTextContains:
      test.search = &contains_;
      break;
    case Direct::kNone:
      break;
  }
  return test;
}

bool FilterSimpleExpression::EvalDirect(const RowSlot& slot,
                                        bool& result) const {
  int order;
  switch (direct_) {
    case Direct::kInteger:
      if (slot.kind != RowSlot::Kind::kInteger) return false;
      order = Order(slot.integer, *value_integer_);
      break;
    case Direct::kDays:
      if (slot.kind != RowSlot::Kind::kDays) return false;
      order = Order(slot.days, *value_days_);
      break;
    case Direct::kSeconds:
      if (slot.kind != RowSlot::Kind::kSeconds) return false;
      order = Order(slot.seconds, *value_seconds_);
      break;
    case Direct::kTextEquals:
      if (slot.kind != RowSlot::Kind::kHostText) return false;
      result = EqualsNoCase(slot.host, value_);
      return true;
    case Direct::kTextLike:
      if (slot.kind != RowSlot::Kind::kHostText) return false;
      result = MatchWildcardFolded(like_.c_str(), slot.host);
      return true;
    case Direct::kTextContains:
      if (slot.kind != RowSlot::Kind::kHostText) return false;
      result = contains_.FoundInFolded(slot.host);
      return true;
    default:
      return false;
  }
  result = field_operator_ == kOpEquals ? order == 0
           : field_operator_ == kOpLess ? order < 0
                                        : order > 0;
  return true;
}

void FilterSimpleExpression::SetSlotText(RowSlot& slot,
                                         std::u16string_view text) const {
  slot.kind = RowSlot::Kind::kText;
  slot.text_ready = true;
  slot.has_native = false;
  AssignLowered(slot.text, text);
  NormalizeForType(slot.text, /*keep_keyword=*/false, slot.scratch);
  if (field_type_ == kTypeDate) {
    if (const auto days = ParseNormalDate(slot.text)) {
      slot.days = *days;
      slot.has_native = true;
    }
  } else if (field_type_ == kTypeTime) {
    if (const auto seconds = ParseNormalTime(slot.text)) {
      slot.seconds = *seconds;
      slot.has_native = true;
    }
  }
}

std::u16string_view FilterSimpleExpression::RowText(
    RowSlot& slot, ConditionState& state) const {
  if (slot.text_ready) return slot.text;
  switch (slot.kind) {
    case RowSlot::Kind::kInteger: {
      char buffer[16];
      const auto r =
          std::to_chars(buffer, buffer + sizeof buffer, slot.integer);
      slot.text.assign(buffer, r.ptr);
      ZeroFill(slot.text, state.Fill());
      break;
    }
    case RowSlot::Kind::kReal:  // rendered when loaded
      ZeroFill(slot.text, state.Fill());
      break;
    case RowSlot::Kind::kDays: {
      int64_t year;
      int32_t month, day;
      CivilFromDays(slot.days, &year, &month, &day);
      slot.text.clear();
      PutTwo(slot.text, day);
      slot.text.push_back(u'-');
      PutTwo(slot.text, month);
      slot.text.push_back(u'-');
      PutTwo(slot.text, year / 100);
      PutTwo(slot.text, year % 100);
      break;
    }
    case RowSlot::Kind::kSeconds:
      slot.text.clear();
      PutTwo(slot.text, slot.seconds / 3600);
      slot.text.push_back(u'-');
      PutTwo(slot.text, slot.seconds / 60 % 60);
      slot.text.push_back(u'-');
      PutTwo(slot.text, slot.seconds % 60);
      break;
    case RowSlot::Kind::kHostText:
      AssignLowered(slot.text, ViewOf(slot.host));
      break;
    case RowSlot::Kind::kEmpty:
    case RowSlot::Kind::kText:
      slot.text.clear();
      break;
  }
  slot.text_ready = true;
  return slot.text;
}

void FilterSimpleExpression::PrepareFilled(ConditionState& state) const {
  const size_t fill = state.Fill();
  if (state.filled_for == fill) return;
  state.filled_value = value_;
  ZeroFill(state.filled_value, fill);
  state.filled_like = state.filled_value;
  std::replace(state.filled_like.begin(), state.filled_like.end(), u'%', u'*');
  state.filled_search.Prepare(state.filled_value);
  BuildTagged(state.filled_value, start_marker_, end_marker_,
              &state.filled_tagged_like, &state.filled_tagged_contains,
              &state.filled_tagged_search);
  state.filled_for = fill;
}

std::u16string_view FilterSimpleExpression::Value(ConditionState& state) const {
  if (field_type_ != kTypeNumeric || state.Fill() <= value_.size())
    return value_;
  PrepareFilled(state);
  return state.filled_value;
}

std::u16string FilterSimpleExpression::FilledValue(
    const ConditionState& state) const {
  std::u16string value = value_;
  if (field_type_ == kTypeNumeric) ZeroFill(value, state.Fill());
  return value;
}

int FilterSimpleExpression::Compare(RowSlot& slot,
                                    ConditionState& state) const {
  switch (field_type_) {
    case kTypeNumeric: {
      // Zeros in front change no number; one filled in can make a value
      // text a number, though ("" becomes "0").
      const bool filled = fill_sensitive_ && state.Fill() > value_.size();
      const auto& value = filled ? value_zero_decimal_ : value_decimal_;
      if (!value) break;
      if (slot.kind == RowSlot::Kind::kInteger) {
        if (const auto& whole = filled ? value_zero_integer_ : value_integer_)
          return Order(slot.integer, *whole);
        char buffer[16];
        const auto r =
            std::to_chars(buffer, buffer + sizeof buffer, slot.integer);
        std::u16string_view digits;
        char16_t wide[16];
        for (const char* p = buffer; p != r.ptr; ++p)
          wide[p - buffer] = static_cast<char16_t>(*p);
        digits = std::u16string_view(wide, static_cast<size_t>(r.ptr - buffer));
        return CompareDecimals(*ParseDecimal(digits), *value);
      }
      // An infinity lies beyond every value (NaN never gets here).
      if (slot.kind == RowSlot::Kind::kReal && std::isinf(slot.real))
        return slot.real > 0 ? 1 : -1;
      if (slot.kind == RowSlot::Kind::kReal ||
          slot.kind == RowSlot::Kind::kText) {
        // A host's text "inf" or "nan" is no decimal: it compares as text.
        if (const auto row = ParseDecimal(slot.text))
          return CompareDecimals(*row, *value);
      }
      break;
    }
    case kTypeDate:
      if (value_days_ &&
          (slot.kind == RowSlot::Kind::kDays ||
           (slot.kind == RowSlot::Kind::kText && slot.has_native)))
        return Order(slot.days, *value_days_);
      break;
    case kTypeTime:
      if (value_seconds_ &&
          (slot.kind == RowSlot::Kind::kSeconds ||
           (slot.kind == RowSlot::Kind::kText && slot.has_native)))
        return Order(slot.seconds, *value_seconds_);
      break;
    default:
      if (slot.kind == RowSlot::Kind::kHostText)
        return CompareNoCase(slot.host, value_);
      break;
  }
  return CompareNoCase(RowText(slot, state), Value(state));
}

void FilterSimpleExpression::EvalPlain(RowSlot& slot, ConditionState& state,
                                       PeriodToday& today, bool& result) const {
  // A host's text is compared in place, folded as it is read.
  const bool host = slot.kind == RowSlot::Kind::kHostText;
  // A NaN is unordered: equal to nothing, neither less nor greater.
  if (slot.kind == RowSlot::Kind::kReal && std::isnan(slot.real) &&
      (field_operator_ == kOpEquals || field_operator_ == kOpLess ||
       field_operator_ == kOpGreater)) {
    result = false;
    return;
  }
  switch (field_operator_) {
    case kOpEquals:
      if (host)
        result = EqualsNoCase(slot.host, value_);
      else
        result = Compare(slot, state) == 0;
      break;
    case kOpLike:
      if (host) {
        result = MatchWildcardFolded(like_.c_str(), slot.host);
      } else if (field_type_ == kTypeNumeric && state.Fill() > value_.size()) {
        PrepareFilled(state);
        result = MatchWildcard(state.filled_like.c_str(),
                               RowText(slot, state).data());
      } else {
        result = MatchWildcard(like_.c_str(), RowText(slot, state).data());
      }
      break;
    case kOpContains:
      if (host) {
        result = contains_.FoundInFolded(slot.host);
      } else if (field_type_ == kTypeNumeric && state.Fill() > value_.size()) {
        PrepareFilled(state);
        result = state.filled_search.FoundIn(RowText(slot, state));
      } else {
        result = contains_.FoundIn(RowText(slot, state));
      }
      break;
    case kOpLess:
      result = Compare(slot, state) < 0;
      break;
    case kOpGreater:
      result = Compare(slot, state) > 0;
      break;
    case kOpNamedPeriod:
      // The clock is read once per row, whatever the periods.
      if (value_period_ == NamedPeriod::kNone) {
        result = false;
        break;
      }
      if (!today.asked) {
        today.asked = true;
        today.known = TodayFor(DateTime::Now().Seconds(), &today.days);
      }
      if (!today.known)
        result = false;
      else if (field_type_ == kTypeDate && slot.kind == RowSlot::Kind::kDays)
        result = MatchNamedPeriodDayOn(value_period_, slot.days, today.days);
      else if (host)
        result =
            MatchNamedPeriodOn(value_period_, ViewOf(slot.host), today.days);
      else
        result =
            MatchNamedPeriodOn(value_period_, RowText(slot, state), today.days);
      break;
    default:
      result = false;
      WriteLog(kLogError, u"FSEEval - unknown field operator.");
      break;
  }
}

void FilterSimpleExpression::EvalTagged(RowSlot& slot, ConditionState& state,
                                        bool& result) const {
  if (field_operator_ < kOpEquals || field_operator_ > kOpContains) {
    result = false;
    WriteLog(kLogError, u"FSEEval - unknown field operator.");
    return;
  }
  const bool filled =
      field_type_ == kTypeNumeric && state.Fill() > value_.size();
  if (filled) PrepareFilled(state);
  const bool host = slot.kind == RowSlot::Kind::kHostText;
  switch (field_operator_) {
    case kOpEquals: {
      const SubstringSearch& search =
          filled ? state.filled_tagged_search : tagged_search_;
      result = host ? search.FoundInFolded(slot.host)
                    : search.FoundIn(RowText(slot, state));
      break;
    }
    case kOpLike: {
      const char16_t* pattern =
          filled ? state.filled_tagged_like.c_str() : tagged_like_.c_str();
      if (host && !filled && tagged_like_split_)
        result = FoundRunsFolded(slot.host, tagged_like_runs_);
      else
        result = host ? MatchWildcardFolded(pattern, slot.host)
                      : MatchWildcard(pattern, RowText(slot, state).data());
      break;
    }
    default: {  // kOpContains
      const std::u16string& pattern =
          filled ? state.filled_tagged_contains : tagged_contains_;
      WriteLog(kLogTrace, u"Evaluating contains");
      if (host && !filled && tagged_runs_)
        result = FoundRunsFolded(slot.host,
                                 std::initializer_list<std::u16string_view>{
                                     start_marker_, value_, end_marker_});
      else
        result =
            host ? MatchWildcardFolded(pattern.c_str(), slot.host)
                 : MatchWildcard(pattern.c_str(), RowText(slot, state).data());
      WriteLog(kLogTrace, pattern);
      // The row text as compared: lower-cased; made only for a log that
      // keeps traces.
      if (LogWants(kLogTrace)) WriteLog(kLogTrace, RowText(slot, state));
      break;
    }
  }
}

bool FilterSimpleExpression::Eval(RowValues& row) const {
  bool result = false;
  // The common cases allocate nothing and cannot fail.
  if (direct_ != Direct::kNone && EvalDirect(row.slots[index_], result))
    return not_ ? !result : result;
  try {
    RowSlot& slot = row.slots[index_];
    ConditionState& state = row.states[index_];
    if (has_tag_)
      EvalTagged(slot, state, result);
    else
      EvalPlain(slot, state, row.today, result);
    return not_ ? !result : result;
  } catch (...) {
    WriteLog(kLogError, u"FSEEval - unknown exception.");
    return result;
  }
}

DerivedIntervals FilterSimpleExpression::DeriveIntervals(
    std::u16string_view field, const RowValues* row) const {
  NumericInterval interval;  // the whole range
  bool exact = false;
  if (EqualsNoCase(field_name_, field)) {
    // The value as matching left it: zero-filled for a numeric field.
    const std::u16string value = row != nullptr && index_ < row->states.size()
                                     ? FilledValue(row->states[index_])
                                     : value_;
    const int32_t v = ReadIntegerValue(value);
    // v - 1 and v + 1 wrap to the whole range at the ends, where the
    // condition matches no integer at all.
    const auto below = static_cast<int32_t>(static_cast<uint32_t>(v) - 1u);
    const auto above = static_cast<int32_t>(static_cast<uint32_t>(v) + 1u);
    const std::optional<int32_t> whole = ReadExactInteger(value);
    if (has_tag_ || field_type_ != kTypeNumeric) {
      // Not compared as a number: the lenient reading, never exact.
      if (field_operator_ == kOpEquals) interval = NumericInterval(v, v);
      if (field_operator_ == kOpLess) interval.SetUpper(below);
      if (field_operator_ == kOpGreater) interval.SetLower(above);
    } else if (field_operator_ == kOpEquals) {
      // A value that is no integer matches none; [v, v] covers that too.
      interval = NumericInterval(v, v);
      exact = whole.has_value();
    } else if (field_operator_ == kOpLess) {
      if (whole) {
        interval.SetUpper(below);
        exact = v != kIntervalMin;
      } else if (const auto bound = LargestIntegerBelow(value)) {
        // Only the integers below a decimal value can match it; other texts
        // compare as text, where any integer may match.
        if (*bound >= kIntervalMin && *bound < kIntervalMax)
          interval.SetUpper(static_cast<int32_t>(*bound));
      }
    } else if (field_operator_ == kOpGreater) {
      if (whole) {
        interval.SetLower(above);
        exact = v != kIntervalMax;
      } else if (const auto bound = SmallestIntegerAbove(value)) {
        if (*bound > kIntervalMin && *bound <= kIntervalMax)
          interval.SetLower(static_cast<int32_t>(*bound));
      }
    }
  }
  DerivedIntervals result{MakeIntervalSet(interval), exact};
  if (not_) NegateDerived(result);
  return result;
}

std::u16string FilterSimpleExpression::ToString() const {
  std::u16string text = field_name_;
  switch (field_operator_) {
    case kOpEquals:
      return text.append(u" = ").append(value_);
    case kOpLike:
      return text.append(u" LIKE '").append(value_).append(u"'");
    case kOpContains:
      return text.append(u" CONTAINS '").append(value_).append(u"'");
    case kOpLess:
      return text.append(u" < ").append(value_);
    case kOpGreater:
      return text.append(u" > ").append(value_);
    case kOpNamedPeriod: {
      // "Received IN TODAY": the keyword as the host writes it.
      std::u16string keyword = value_;
      for (char16_t& c : keyword)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      return text.append(u" IN ").append(keyword);
    }
    default: {
      text.append(u" <unknown operator ");
      for (char c : std::to_string(field_operator_))
        text.push_back(static_cast<char16_t>(c));
      return text.append(u"> ").append(value_);
    }
  }
}

}  // namespace filtermodule
