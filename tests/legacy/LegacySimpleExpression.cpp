#include "legacy/LegacySimpleExpression.h"

#include <algorithm>

#include "expression/DateText.h"
#include "expression/Decimal.h"
#include "expression/IntervalDerivation.h"
#include "expression/NamedPeriod.h"
#include "expression/Text.h"
#include "expression/Wildcard.h"
#include "log/DiagnosticLog.h"

namespace legacy {
using namespace filtermodule;

bool FilterSimpleExpression::NormalizeForType(std::u16string& text,
                                              bool keep_keyword) {
  if (field_type_ == kTypeDate) {
    if (keep_keyword && ParseNamedPeriod(text) != NamedPeriod::kNone)
      return false;
    NormalizeDateInto(text, scratch_);
  } else if (field_type_ == kTypeTime) {
    NormalizeTimeInto(text, scratch_);
  } else {
    return false;
  }
  text.swap(scratch_);
  return true;
}

void FilterSimpleExpression::SetValue(std::u16string_view value) {
  AssignLowered(value_, value);
  MarkStale();
  ReadValue();  // what stands if a date or time cannot be read
  if (NormalizeForType(value_, /*keep_keyword=*/true)) ReadValue();
}

void FilterSimpleExpression::ReadValue() {
  like_rewritten_ = false;
  value_decimal_ = ParseDecimal(value_);
  value_days_ = ParseNormalDate(value_);
  value_period_ = ParseNamedPeriod(value_);
}

void FilterSimpleExpression::SetRowText(std::u16string_view text) {
  AssignLowered(row_text_, text);
  NormalizeForType(row_text_, /*keep_keyword=*/false);
}

int FilterSimpleExpression::CompareRowToValue() const {
  if (field_type_ == kTypeNumeric && value_decimal_) {
    if (const auto row = ParseDecimal(row_text_))
      return CompareDecimals(*row, *value_decimal_);
  } else if (field_type_ == kTypeDate && value_days_) {
    if (const auto row = ParseNormalDate(row_text_))
      return *row < *value_days_ ? -1 : (*row > *value_days_ ? 1 : 0);
  }
  return CompareNoCase(row_text_, value_);
}

void FilterSimpleExpression::EvalPlain(bool& result) {
  switch (field_operator_) {
    case kOpEquals:
      result = field_type_ == kTypeNumeric ? CompareRowToValue() == 0
                                           : EqualsNoCase(row_text_, value_);
      break;
    case kOpLike:
      // The rewrite persists in the stored value: once done, it stays done
      // until the value changes.
      if (!like_rewritten_) {
        std::replace(value_.begin(), value_.end(), u'%', u'*');
        like_rewritten_ = true;
      }
      result = MatchWildcard(value_.c_str(), row_text_.c_str());
      break;
    case kOpContains:
      if (contains_stale_) {
        contains_.Prepare(value_);
        contains_stale_ = false;
      }
      result = contains_.FoundIn(row_text_);
      break;
    case kOpLess:
      result = CompareRowToValue() < 0;
      break;
    case kOpGreater:
      result = CompareRowToValue() > 0;
      break;
    case kOpNamedPeriod:
      result = MatchNamedPeriod(value_period_, row_text_);
      break;
    default:
      result = false;
      WriteLog(kLogError, u"FSEEval - unknown field operator.");
      break;
  }
}

void FilterSimpleExpression::BuildTaggedPatterns() {
  start_marker_.assign(u"@").append(tag_name_).append(u"@");
  LowerInPlace(start_marker_);
  end_marker_.assign(u"~").append(tag_name_).append(u"~");
  LowerInPlace(end_marker_);
  tagged_equals_.assign(start_marker_).append(value_).append(end_marker_);
  tagged_like_.assign(u"*").append(tagged_equals_).append(u"*");
  tagged_contains_.assign(u"*")
      .append(start_marker_)
      .append(u"*")
      .append(value_)
      .append(u"*")
      .append(end_marker_)
      .append(u"*");
  tagged_search_.Prepare(tagged_equals_);
  patterns_stale_ = false;
}

void FilterSimpleExpression::EvalTagged(bool& result) {
  if (field_operator_ < kOpEquals || field_operator_ > kOpContains) {
    result = false;
    WriteLog(kLogError, u"FSEEval - unknown field operator.");
    return;
  }
  if (patterns_stale_) BuildTaggedPatterns();
  switch (field_operator_) {
    case kOpEquals:
      result = tagged_search_.FoundIn(row_text_);
      break;
    case kOpLike:
      result = MatchWildcard(tagged_like_.c_str(), row_text_.c_str());
      break;
    default:  // kOpContains
      WriteLog(kLogTrace, u"Evaluating contains");
      result = MatchWildcard(tagged_contains_.c_str(), row_text_.c_str());
      WriteLog(kLogTrace, tagged_contains_);
      WriteLog(kLogTrace, row_text_);
      break;
  }
}

bool FilterSimpleExpression::Eval() {
  bool result = false;
  try {
    if (has_tag_)
      EvalTagged(result);
    else
      EvalPlain(result);
    return not_ ? !result : result;
  } catch (...) {
    WriteLog(kLogError, u"FSEEval - unknown exception.");
    return result;
  }
}

DerivedIntervals FilterSimpleExpression::DeriveIntervals(
    std::u16string_view field) {
  ConditionLine shape;
  shape.field_name = field_name_;
  shape.field_type = field_type_;
  shape.field_operator = field_operator_;
  shape.has_tag = has_tag_;
  shape.negate = not_;
  // The value as this row's loading left it (zero-filled).
  return DeriveConditionIntervals(field, shape, value_);
}

std::u16string FilterSimpleExpression::ToString() {
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

}  // namespace legacy
