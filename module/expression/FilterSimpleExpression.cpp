#include "expression/FilterSimpleExpression.h"

#include <charconv>
#include <cmath>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "expression/DateTime.h"
#include "expression/Decimal.h"
#include "expression/IntervalDerivation.h"
#include "expression/NamedPeriod.h"
#include "expression/RowText.h"
#include "expression/Text.h"
#include "expression/Wildcard.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {
namespace {

int Order(int64_t a, int64_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

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

}  // namespace

FilterSimpleExpression::FilterSimpleExpression(ConditionLine line, size_t index)
    : FilterExpression(line.link_operator),
      line_(std::move(line)),
      value_(line_.value, line_.field_type,
             line_.has_tag ? std::u16string_view(line_.tag_name)
                           : std::u16string_view()),
      index_(index),
      rel_ext_tags_(EqualsNoCase(line_.field_name, u"REL_EXT_TAGS")),
      direct_(Classify()) {}

FilterSimpleExpression::Direct FilterSimpleExpression::Classify() const {
  if (line_.has_tag) return Direct::kNone;
  const int32_t op = line_.field_operator;
  const bool order = op == kOpEquals || op == kOpLess || op == kOpGreater;
  switch (line_.field_type) {
    case kTypeNumeric:
      if (order && value_.integer(false) && !value_.fill_sensitive())
        return Direct::kInteger;
      break;
    case kTypeText:
      if (op == kOpEquals) return Direct::kTextEquals;
      if (op == kOpLike) return Direct::kTextLike;
      if (op == kOpContains) return Direct::kTextContains;
      break;
    case kTypeDate:
      if (order && value_.days()) return Direct::kDays;
      break;
    case kTypeTime:
      if (order && value_.seconds()) return Direct::kSeconds;
      break;
    default:
      break;
  }
  return Direct::kNone;
}

FilterSimpleExpression::DirectTest FilterSimpleExpression::GetDirectTest()
    const {
  DirectTest test;
  test.kind = direct_;
  test.op = line_.field_operator;
  test.negate = line_.negate;
  switch (direct_) {
    case Direct::kInteger:
      test.number = *value_.integer(false);
      break;
    case Direct::kDays:
      test.number = *value_.days();
      break;
    case Direct::kSeconds:
      test.number = *value_.seconds();
      break;
    case Direct::kTextEquals:
      test.text = &value_.text();
      break;
    case Direct::kTextLike:
      test.text = &value_.like();
      break;
    case Direct::kTextContains:
      test.search = &value_.contains();
      break;
    case Direct::kNone:
      break;
  }
  return test;
}

void FilterSimpleExpression::SetSlotText(RowSlot& slot,
                                         std::u16string_view text) const {
  filtermodule::SetSlotText(line_.field_type, slot, text);
}

std::u16string_view FilterSimpleExpression::RowText(
    RowSlot& slot, ConditionState& state) const {
  return RowTextOfSlot(slot, state.Fill());
}

int FilterSimpleExpression::Compare(RowSlot& slot,
                                    ConditionState& state) const {
  switch (line_.field_type) {
    case kTypeNumeric: {
      // Zeros in front change no number; one filled in can make a value
      // text a number, though ("" becomes "0").
      const bool filled = value_.fill_sensitive() && value_.IsFilled(state);
      const auto& value = value_.decimal(filled);
      if (!value) break;
      if (slot.kind == RowSlot::Kind::kInteger) {
        if (const auto& whole = value_.integer(filled))
          return Order(slot.integer, *whole);
        char buffer[16];
        const auto r =
            std::to_chars(buffer, buffer + sizeof buffer, slot.integer);
        char16_t wide[16];
        for (const char* p = buffer; p != r.ptr; ++p)
          wide[p - buffer] = static_cast<char16_t>(*p);
        const std::u16string_view digits(wide,
                                         static_cast<size_t>(r.ptr - buffer));
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
      if (value_.days() &&
          (slot.kind == RowSlot::Kind::kDays ||
           (slot.kind == RowSlot::Kind::kText && slot.has_native)))
        return Order(slot.days, *value_.days());
      break;
    case kTypeTime:
      if (value_.seconds() &&
          (slot.kind == RowSlot::Kind::kSeconds ||
           (slot.kind == RowSlot::Kind::kText && slot.has_native)))
        return Order(slot.seconds, *value_.seconds());
      break;
    default:
      if (slot.kind == RowSlot::Kind::kHostText)
        return CompareNoCase(slot.host, value_.text());
      break;
  }
  return CompareNoCase(RowText(slot, state), Value(state));
}

void FilterSimpleExpression::EvalPlain(RowSlot& slot, ConditionState& state,
                                       PeriodToday& today, bool& result) const {
  const int32_t op = line_.field_operator;
  // A host's text is compared in place, folded as it is read.
  const bool host = slot.kind == RowSlot::Kind::kHostText;
  // A NaN is unordered: equal to nothing, neither less nor greater.
  if (slot.kind == RowSlot::Kind::kReal && std::isnan(slot.real) &&
      (op == kOpEquals || op == kOpLess || op == kOpGreater)) {
    result = false;
    return;
  }
  switch (op) {
    case kOpEquals:
      if (host)
        result = EqualsNoCase(slot.host, value_.text());
      else
        result = Compare(slot, state) == 0;
      break;
    case kOpLike:
      if (host) {
        result = MatchWildcardFolded(value_.like().c_str(), slot.host);
      } else if (value_.IsFilled(state)) {
        value_.PrepareFilled(state);
        result = MatchWildcard(state.filled_like.c_str(),
                               RowText(slot, state).data());
      } else {
        result =
            MatchWildcard(value_.like().c_str(), RowText(slot, state).data());
      }
      break;
    case kOpContains:
      if (host) {
        result = value_.contains().FoundInFolded(slot.host);
      } else if (value_.IsFilled(state)) {
        value_.PrepareFilled(state);
        result = state.filled_search.FoundIn(RowText(slot, state));
      } else {
        result = value_.contains().FoundIn(RowText(slot, state));
      }
      break;
    case kOpLess:
      result = Compare(slot, state) < 0;
      break;
    case kOpGreater:
      result = Compare(slot, state) > 0;
      break;
    case kOpNamedPeriod: {
      // The clock is read once per row, whatever the periods.
      const NamedPeriod period = value_.period();
      if (period == NamedPeriod::kNone) {
        result = false;
        break;
      }
      if (!today.asked) {
        today.asked = true;
        today.known = TodayFor(DateTime::Now().Seconds(), &today.days);
      }
      if (!today.known)
        result = false;
      else if (line_.field_type == kTypeDate &&
               slot.kind == RowSlot::Kind::kDays)
        result = MatchNamedPeriodDayOn(period, slot.days, today.days);
      else if (host)
        result = MatchNamedPeriodOn(period, ViewOf(slot.host), today.days);
      else
        result = MatchNamedPeriodOn(period, RowText(slot, state), today.days);
      break;
    }
    default:
      result = false;
      WriteLog(kLogError, u"FSEEval - unknown field operator.");
      break;
  }
}

void FilterSimpleExpression::EvalTagged(RowSlot& slot, ConditionState& state,
                                        bool& result) const {
  const int32_t op = line_.field_operator;
  if (op < kOpEquals || op > kOpContains) {
    result = false;
    WriteLog(kLogError, u"FSEEval - unknown field operator.");
    return;
  }
  const bool filled = value_.IsFilled(state);
  if (filled) value_.PrepareFilled(state);
  const bool host = slot.kind == RowSlot::Kind::kHostText;
  switch (op) {
    case kOpEquals: {
      const SubstringSearch& search =
          filled ? state.filled_tagged_search : value_.tagged_search();
      result = host ? search.FoundInFolded(slot.host)
                    : search.FoundIn(RowText(slot, state));
      break;
    }
    case kOpLike: {
      const char16_t* pattern = filled ? state.filled_tagged_like.c_str()
                                       : value_.tagged_like().c_str();
      if (host && !filled && value_.tagged_like_is_runs())
        result = FoundRunsFolded(slot.host, value_.tagged_like_runs());
      else
        result = host ? MatchWildcardFolded(pattern, slot.host)
                      : MatchWildcard(pattern, RowText(slot, state).data());
      break;
    }
    default: {  // kOpContains
      const std::u16string& pattern =
          filled ? state.filled_tagged_contains : value_.tagged_contains();
      WriteLog(kLogTrace, u"Evaluating contains");
      if (host && !filled && value_.tagged_contains_is_runs())
        result = FoundRunsFolded(
            slot.host,
            std::initializer_list<std::u16string_view>{
                value_.start_marker(), value_.text(), value_.end_marker()});
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
  try {
    RowSlot& slot = row.slots[index_];
    ConditionState& state = row.states[index_];
    if (line_.has_tag)
      EvalTagged(slot, state, result);
    else
      EvalPlain(slot, state, row.today, result);
    return line_.negate ? !result : result;
  } catch (...) {
    WriteLog(kLogError, u"FSEEval - unknown exception.");
    return result;
  }
}

DerivedIntervals FilterSimpleExpression::DeriveIntervals(
    std::u16string_view field, const RowValues* row) const {
  // The value as matching left it: zero-filled for a numeric field.
  if (row != nullptr && index_ < row->states.size())
    return DeriveConditionIntervals(field, line_,
                                    FilledValue(row->states[index_]));
  return DeriveConditionIntervals(field, line_, value_.text());
}

std::u16string FilterSimpleExpression::ToString() const {
  const std::u16string& value = value_.text();
  std::u16string text = line_.field_name;
  switch (line_.field_operator) {
    case kOpEquals:
      return text.append(u" = ").append(value);
    case kOpLike:
      return text.append(u" LIKE '").append(value).append(u"'");
    case kOpContains:
      return text.append(u" CONTAINS '").append(value).append(u"'");
    case kOpLess:
      return text.append(u" < ").append(value);
    case kOpGreater:
      return text.append(u" > ").append(value);
    case kOpNamedPeriod: {
      // "Received IN TODAY": the keyword as the host writes it.
      std::u16string keyword = value;
      for (char16_t& c : keyword)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
      return text.append(u" IN ").append(keyword);
    }
    default: {
      text.append(u" <unknown operator ");
      for (char c : std::to_string(line_.field_operator))
        text.push_back(static_cast<char16_t>(c));
      return text.append(u"> ").append(value);
    }
  }
}

}  // namespace filtermodule
