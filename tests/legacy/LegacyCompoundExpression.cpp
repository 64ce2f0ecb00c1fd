#include "legacy/LegacyCompoundExpression.h"

#include <stdexcept>
#include <string>

#include "expression/Text.h"
#include "log/DiagnosticLog.h"

namespace legacy {
using namespace filtermodule;

FilterExpression& FilterCompoundExpression::Children::At(size_t index) const {
  if (index >= items_.size())
    throw std::invalid_argument("child index out of range");
  return *items_[index];
}

FilterCompoundExpression::~FilterCompoundExpression() {
  WriteLog(kLogTrace, u"Destroying compound expression");
  for (auto& child : children_.items_) child.reset();
  children_.items_.clear();
}

bool FilterCompoundExpression::Eval() {
  bool result = true;
  int32_t pending = kLinkAnd;
  for (const auto& child : children_.items_) {
    try {
      switch (pending) {
        case kLinkAnd:
          if (result) result = child->Eval();
          break;
        case kLinkOr:
          if (!result) result = child->Eval();
          break;
        case kLinkAndNot:
          if (result) result = !child->Eval();
          break;
        case kLinkOrNot:
          if (!result) result = !child->Eval();
          break;
        default:
          result = false;
          WriteLog(kLogError, u"FCEEval - unknown line link operator.");
          break;
      }
      pending = child->GetLinkOperator();
    } catch (...) {
      WriteLog(kLogError,
               u"FCEEval - unknown exception when evaluating compound "
               u"expression.");
      return result;
    }
  }
  return result;
}

DerivedIntervals FilterCompoundExpression::DeriveIntervals(
    std::u16string_view field) {
  return CombineDerived(children_.items_, [&](FilterExpression& child) {
    return child.DeriveIntervals(field);
  });
}

std::u16string LinkOperatorText(int32_t op) {
  switch (op) {
    case kLinkAnd:
      return u" AND ";
    case kLinkOr:
      return u" OR ";
    case kLinkAndNot:
      return u" AND NOT ";
    case kLinkOrNot:
      return u" OR NOT ";
    default: {
      std::u16string text = u" <unknown link ";
      for (char c : std::to_string(op))
        text.push_back(static_cast<char16_t>(c));
      return text + u"> ";
    }
  }
}

std::u16string FilterCompoundExpression::ToString() {
  std::u16string text;
  const size_t count = children_.items_.size();
  for (size_t i = 0; i < count; ++i) {
    text += u"( ";
    text += children_.items_[i]->ToString();
    text += u" )";
    if (i + 1 < count)
      text += LinkOperatorText(children_.items_[i]->GetLinkOperator());
  }
  return text;
}

}  // namespace legacy
