#include "filter/Filter.h"

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

#include "expression/ConditionLine.h"
#include "expression/Text.h"
#include "filter/RowLoader.h"
#include "filter/TreeBuilder.h"
#include "filtermodule/LogMessages.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {
namespace {

// The filter's flat list of conditions as the tree builder fills it.
class FlatList {
 public:
  explicit FlatList(std::vector<FilterSimpleExpression*>& list) : list_(list) {}
  size_t size() const { return list_.size(); }
  void Truncate(size_t size) { list_.resize(size); }
  // Builds the condition of `line` into `parent` and the list.
  void Add(FilterCompoundExpression& parent, ConditionLine line) {
    // Room in the list first, so that an expression in the tree is always
    // in the list too. (A reserve of one more each time would copy the
    // list on every line.)
    if (list_.size() == list_.capacity())
      list_.reserve(std::max<size_t>(16, 2 * list_.size()));
    auto expression =
        std::make_unique<FilterSimpleExpression>(std::move(line), list_.size());
    FilterSimpleExpression* raw = expression.get();
    parent.GetChildren().Append(std::move(expression));
    list_.push_back(raw);
  }

 private:
  std::vector<FilterSimpleExpression*>& list_;
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
      FlatList list(simple_expressions_);
      TreeBuilder<FilterCompoundExpression, FlatList>(list).Build(*root_,
                                                                  *lines);
      // The tree's text is made only for a log that keeps it: a hunt
      // builds thousands of filters.
      if (LogWants(kLogTrace)) WriteLog(kLogTrace, root_->ToString());
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

INumericIntervalCollection* Filter::GetNumericIntervals(const char16_t* field) {
  // Without a tree the filter matches every row: no restriction.
  if (root_ == nullptr) return MakeIntervalSet(NumericInterval()).release();
  // The values as matching left them (zero-filled numbers).
  return root_->DeriveIntervals(ViewOf(field), &row_).set.release();
}

}  // namespace filtermodule
