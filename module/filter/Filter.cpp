#include "filter/Filter.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string_view>

#include "expression/DateText.h"
#include "expression/Text.h"
#include "filter/RowLoader.h"
#include "filtermodule/LogMessages.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {
namespace {

// A bracket count as the builder reads it: negative counts as none.
int32_t Brackets(int32_t count) { return count > 0 ? count : 0; }

class NestingTooDeep : public std::runtime_error {
 public:
  NestingTooDeep() : std::runtime_error("bracket nesting too deep") {}
};

}  // namespace

Filter::Filter() { WriteLog(kLogTrace, u"Initializing filter object ..."); }

Filter::~Filter() = default;

void Filter::Release() {
  WriteLog(kLogTrace, u"Destroying filter object ...");
  DestroyTree();
  delete this;
}

void Filter::DestroyTree() {
  simple_expressions_.clear();
  row_.slots.clear();
  row_.states.clear();
  loads_.clear();
  program_.Clear();
  compiled_ = false;
  root_.reset();
  initialised_ = false;
}

void Filter::InitFromDefinition(IFilterDefinition* definition) {
  if (definition == nullptr) return;
  try {
    WriteLog(kLogTrace, u"Initializing filter ...");
    IFilterLineList* lines = definition->GetLineList();
    static_cast<IFilter*>(this)->Init(lines);
    WriteLog(kLogTrace, kMsgFilterInitialized);
  } catch (...) {
    WriteLog(kLogError,
             u"Unexpected exception on init filter from filter def ...");
  }
}

void Filter::Init(IFilterLineList* lines) {
  try {
    // A filter built before gives its tree back first.
    if (root_ != nullptr) DestroyTree();
    WriteLog(kLogTrace, u"Initializing filter ...");
    root_ = std::make_unique<FilterCompoundExpression>();
    if (lines != nullptr) {
      BuildState state;
      PopCmpdExpr(*root_, *lines, 0, 0, state);
      if (state.missing_close)
        WriteLog(kLogError, u"FLTPopCmpdExpr - missing closing bracket.");
      WriteLog(kLogTrace, root_->ToString());
    }
    row_.slots.resize(simple_expressions_.size());
    row_.states.resize(simple_expressions_.size());
    loads_.clear();
    for (const FilterSimpleExpression* e : simple_expressions_)
      loads_.push_back(PlanLoad(*e));
    // Without the flat layout (no memory for it) the tree itself decides.
    try {
      compiled_ = program_.Compile(*root_);
    } catch (const std::bad_alloc&) {
      program_.Clear();
      compiled_ = false;
    }
    initialised_ = true;
  } catch (...) {
    WriteLog(kLogError, u"Unexpected exception when initializing filters.");
  }
}

void Filter::AddCondition(FilterCompoundExpression& parent, IFilterLine& line) {
  auto expression = std::make_unique<FilterSimpleExpression>();
  // The host's operations are called in this order; the field type is
  // stored before the value, which is normalised by it.
  expression->SetFieldType(line.GetFieldType());
  expression->SetValue(ViewOf(line.GetValue()));
  expression->SetLinkOperator(line.GetLinkOperator());
  expression->SetNot(line.GetNot());
  expression->SetFieldOperator(line.GetFieldOperator());
  const bool has_tag = line.HasExtendedTag();
  if (has_tag) expression->SetTagName(ViewOf(line.GetTagName()));
  expression->SetFieldName(ViewOf(line.GetFieldName()));
  expression->SetHasTag(has_tag);
  // Room in the flat list first, so that an expression in the tree is
  // always in the list too.
  // (A reserve of one more each time would copy the list on every line.)
  if (simple_expressions_.size() == simple_expressions_.capacity())
    simple_expressions_.reserve(
        std::max<size_t>(16, 2 * simple_expressions_.size()));
  expression->SetIndex(simple_expressions_.size());
  FilterSimpleExpression* raw = expression.get();
  parent.GetChildren().Append(std::move(expression));
  simple_expressions_.push_back(raw);
}

uint32_t Filter::PopCmpdExpr(FilterCompoundExpression& parent,
                             IFilterLineList& lines, uint32_t start, int depth,
                             BuildState& state) {
  uint32_t index = start;
  for (;;) {
    uint32_t resume = index;
    // While a group is built but not yet in the tree, the size the flat list
    // had before it: a group that is dropped takes its conditions along.
    size_t list_mark = SIZE_MAX;
    try {
      const uint32_t count = lines.GetLineCount();
      if (index >= count) {
        if (depth > 0) state.missing_close = true;
        return index;
      }
      IFilterLine* line = lines.GetLine(index);
      if (line == nullptr) throw std::invalid_argument("no line at index");
      if (Brackets(line->GetOpenBrackets()) != 0) {
        if (depth >= kMaxNesting) throw NestingTooDeep();
        line->SetOpenBrackets(line->GetOpenBrackets() - 1);
        auto group = std::make_unique<FilterCompoundExpression>();
        list_mark = simple_expressions_.size();
        index = PopCmpdExpr(*group, lines, index, depth + 1, state);
        resume = index;
        const uint32_t now_count = lines.GetLineCount();
        if (index >= now_count) {
          // The list ended inside the group: the end closes it, with the
          // link operator of the last line.
          IFilterLine* last =
              now_count > 0 ? lines.GetLine(now_count - 1) : nullptr;
          group->SetLinkOperator(last != nullptr ? last->GetLinkOperator()
                                                 : kLinkAnd);
          parent.GetChildren().Append(std::move(group));
          return index;
        }
        line = lines.GetLine(index);
        if (line == nullptr) throw std::invalid_argument("no line at index");
        group->SetLinkOperator(line->GetLinkOperator());
        parent.GetChildren().Append(std::move(group));
        list_mark = SIZE_MAX;
      } else {
        AddCondition(parent, *line);
      }
      if (Brackets(line->GetCloseBrackets()) == 0) {
        ++index;
        continue;
      }
      if (depth == 0) {
        // Nothing to close at the top: report it and go on.
        WriteLog(kLogError, u"FLTPopCmpdExpr - unexpected closing bracket.");
        ++index;
        continue;
      }
      line->SetCloseBrackets(line->GetCloseBrackets() - 1);
      return index;
    } catch (...) {
      if (list_mark != SIZE_MAX) simple_expressions_.resize(list_mark);
      WriteLog(kLogError, u"FLTPopCmpdExpr - unknown error.");
      return resume;
    }
  }
}

bool Filter::IsMatch(IDataRow* row) {
  if (!initialised_) {
    WriteLog(kLogError, u"FLTIsMatch - Filter not initialized.");
    WriteLog(kLogTrace, u"FLTIsMatch - Row matched.");
    return true;
  }
  if (row == nullptr && !simple_expressions_.empty())
    throw std::invalid_argument("IsMatch: null row");
  // Held in locals: the host's calls could change them, as far as the
  // compiler knows, and they would be read again for every condition.
  const FieldLoad* load = loads_.data();
  const FieldLoad* const end = load + loads_.size();
  RowSlot* slot = row_.slots.data();
  ConditionState* state = row_.states.data();
  for (; load != end; ++load, ++slot, ++state)
    LoadField(*load, *row, *slot, *state);
  row_.today.Reset();
  const bool result =
      root_ == nullptr || (compiled_ ? program_.Run(row_) : root_->Eval(row_));
  if (result) WriteLog(kLogTrace, u"FLTIsMatch - Row matched.");
  return result;
}

std::u16string Filter::RowTextOf(size_t i) {
  return std::u16string(
      simple_expressions_.at(i)->RowText(row_.slots.at(i), row_.states.at(i)));
}

std::u16string Filter::ValueOf(size_t i) const {
  return simple_expressions_.at(i)->FilledValue(row_.states.at(i));
}

INumericIntervalCollection* Filter::GetNumericIntervals(const char16_t* field) {
  // Without a tree the filter matches every row: no restriction.
  if (root_ == nullptr) return MakeIntervalSet(NumericInterval()).release();
  // The values as matching left them (zero-filled numbers).
  return root_->DeriveIntervals(ViewOf(field), &row_).set.release();
}

}  // namespace filtermodule
