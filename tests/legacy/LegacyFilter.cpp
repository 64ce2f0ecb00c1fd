#include "legacy/LegacyFilter.h"

#include <charconv>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/IntegerText.h"
#include "expression/Text.h"
#include "filter/TreeBuilder.h"
#include "log/DiagnosticLog.h"

namespace legacy {
using namespace filtermodule;
namespace {

// Appends an ASCII rendering to a UTF-16 buffer.
void AppendAscii(std::u16string& out, const char* begin, const char* end) {
  for (const char* p = begin; p != end; ++p)
    out.push_back(static_cast<char16_t>(*p));
}

void AppendUnsigned(std::u16string& out, uint32_t value) {
  char buffer[16];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value);
  AppendAscii(out, buffer, r.ptr);
}

}  // namespace

class Filter::FlatList {
 public:
  explicit FlatList(std::vector<FilterSimpleExpression*>& list) : list_(list) {}
  size_t size() const { return list_.size(); }
  void Truncate(size_t size) { list_.resize(size); }
  void Add(FilterCompoundExpression& parent, const ConditionLine& line) {
    auto expression = std::make_unique<FilterSimpleExpression>();
    // The field type is stored before the value, which is normalised by it.
    expression->SetFieldType(line.field_type);
    expression->SetValue(line.value);
    expression->SetLinkOperator(line.link_operator);
    expression->SetNot(line.negate);
    expression->SetFieldOperator(line.field_operator);
    if (line.has_tag) expression->SetTagName(line.tag_name);
    expression->SetFieldName(line.field_name);
    expression->SetHasTag(line.has_tag);
    // Room in the flat list first, so that an expression in the tree is
    // always in the list too.
    list_.reserve(list_.size() + 1);
    FilterSimpleExpression* raw = expression.get();
    parent.GetChildren().Append(std::move(expression));
    list_.push_back(raw);
  }

 private:
  std::vector<FilterSimpleExpression*>& list_;
};

// The oracle is about rows: its lifecycle is the least that builds a tree
// (with the module's builder) and gives it back, and writes no messages of
// its own.
Filter::Filter() = default;

Filter::~Filter() = default;

void Filter::Release() { delete this; }

void Filter::InitFromDefinition(IFilterDefinition* definition) {
  if (definition != nullptr) Init(definition->GetLineList());
}

void Filter::Init(IFilterLineList* lines) {
  simple_expressions_.clear();
  root_ = std::make_unique<FilterCompoundExpression>();
  if (lines != nullptr) {
    FlatList list(simple_expressions_);
    TreeBuilder<FilterCompoundExpression, FlatList>(list).Build(*root_, *lines);
  }
  initialised_ = true;
}

bool Filter::IsMatch(IDataRow* row) {
  // Only built filters and real rows are compared.
  if (!initialised_ || row == nullptr)
    throw std::logic_error("IsMatch: no filter or no row");
  for (FilterSimpleExpression* expression : simple_expressions_)
    LoadField(*expression, *row);
  const bool result = root_ == nullptr || root_->Eval();
  if (result) WriteLog(kLogTrace, u"FLTIsMatch - Row matched.");
  return result;
}

void Filter::LoadNumber(FilterSimpleExpression& expression, IDataRow& row) {
  const char16_t* field = expression.GetFieldName().c_str();
  // "%ld" of an integer, "%f" (six decimals) of a real; to_chars renders
  // both alike in every locale.
  char buffer[400];
  std::to_chars_result r;
  if (row.GetValueKind(field) == 1) {
    r = std::to_chars(buffer, buffer + sizeof buffer, row.GetInteger(field));
  } else {
    r = std::to_chars(buffer, buffer + sizeof buffer, row.GetReal(field),
                      std::chars_format::fixed, 6);
  }
  row_buffer_.clear();
  AppendAscii(row_buffer_, buffer, r.ec == std::errc() ? r.ptr : buffer);
  // Equal lengths make the text order of non-negative whole numbers their
  // numeric order; the longer value is kept for later rows.
  const std::u16string& value = expression.GetValue();
  ZeroFill(row_buffer_, value.size());
  if (value.size() < row_buffer_.size()) {
    value_buffer_.assign(value);
    ZeroFill(value_buffer_, row_buffer_.size());
    expression.SetValue(value_buffer_);
  }
  // Digits, sign and point, or "inf"/"nan": already lower-case.
  expression.SetNormalRowText(row_buffer_);
}

void Filter::LoadField(FilterSimpleExpression& expression, IDataRow& row) {
  const char16_t* field = expression.GetFieldName().c_str();
  switch (expression.GetFieldType()) {
    case kTypeNumeric:
      LoadNumber(expression, row);
      return;
    case kTypeText: {
      std::u16string_view text = ViewOf(row.GetText(field));
      if (text.empty() &&
          EqualsNoCase(expression.GetFieldName(), u"REL_EXT_TAGS"))
        text = ViewOf(row.GetText(u"EXT_TAGS"));
      expression.SetRowText(text);
      return;
    }
    case kTypeDate: {
      const RowDate date = row.GetDate(field);
      // An ordinary date goes straight to its normal form; the others take
      // the text path ("%u/%u/%i", read back) with its checks, where a day
      // past its month's end rolls over.
      if (TryFormatNormalDate(date.year, date.month, date.day, row_buffer_)) {
        expression.SetNormalRowText(row_buffer_);
        return;
      }
      row_buffer_.clear();
      AppendUnsigned(row_buffer_, date.month);
      row_buffer_.push_back(u'/');
      AppendUnsigned(row_buffer_, date.day);
      row_buffer_.push_back(u'/');
      char buffer[16];
      const auto r = std::to_chars(buffer, buffer + sizeof buffer,
                                   static_cast<int32_t>(date.year));
      AppendAscii(row_buffer_, buffer, r.ptr);
      expression.SetRowText(row_buffer_);
      return;
    }
    case kTypeTime: {
      const RowTime time = row.GetTime(field);
      if (time.hour > 23 || time.minute > 59 || time.second > 59)
        throw std::runtime_error("no such time");
      if (TryFormatNormalTime(time.hour, time.minute, time.second,
                              row_buffer_)) {
        expression.SetNormalRowText(row_buffer_);
        return;
      }
      uint32_t hour = time.hour;
      const bool pm = hour >= 12;
      if (pm) hour -= 12;
      if (hour == 0) hour = 12;
      row_buffer_.clear();
      AppendUnsigned(row_buffer_, hour);
      row_buffer_.push_back(u':');
      AppendUnsigned(row_buffer_, time.minute);
      row_buffer_.push_back(u':');
      AppendUnsigned(row_buffer_, time.second);
      row_buffer_.append(pm ? u" PM" : u" AM");
      expression.SetRowText(row_buffer_);
      return;
    }
    default:
      WriteLog(kLogError, u"FLTIsMatch - Unknown field type in expression.");
      expression.SetRowText(std::u16string_view());
      return;
  }
}

INumericIntervalCollection* Filter::GetNumericIntervals(const char16_t* field) {
  // Without a tree the filter matches every row: no restriction.
  if (root_ == nullptr) return MakeIntervalSet(NumericInterval()).release();
  return root_->DeriveIntervals(field == nullptr ? u"" : field).set.release();
}

}  // namespace legacy
