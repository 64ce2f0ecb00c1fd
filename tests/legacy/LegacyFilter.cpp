#include "legacy/LegacyFilter.h"

#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "expression/DateText.h"
#include "expression/DateTime.h"
#include "expression/Text.h"
#include "log/DiagnosticLog.h"

namespace legacy {
using namespace filtermodule;
namespace {

// A bracket count as the builder reads it: negative counts as none.
int32_t Brackets(int32_t count) { return count > 0 ? count : 0; }

class NestingTooDeep : public std::runtime_error {
 public:
  NestingTooDeep() : std::runtime_error("bracket nesting too deep") {}
};

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

// Inserts zeros after the leading blanks and sign of `text` until it is
// `length` long, so that the number keeps its value.
void ZeroFill(std::u16string& text, size_t length) {
  if (text.size() >= length) return;
  size_t at = 0;
  while (at < text.size() && (text[at] == u' ' || text[at] == u'\t')) ++at;
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) ++at;
  text.insert(at, length - text.size(), u'0');
}

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
  root_.reset();
  initialised_ = false;
}

void Filter::InitFromDefinition(IFilterDefinition* definition) {
  if (definition == nullptr) return;
  try {
    WriteLog(kLogTrace, u"Initializing filter ...");
    IFilterLineList* lines = definition->GetLineList();
    static_cast<IFilter*>(this)->Init(lines);
    WriteLog(kLogTrace, u"Filter initialized ...");
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
  simple_expressions_.reserve(simple_expressions_.size() + 1);
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
      // A day that does not exist is refused, as the host guide says.
      if (date.month < 1 || date.month > 12 || date.day < 1 ||
          date.day > DaysInMonth(date.year, date.month))
        throw std::runtime_error("no such day");
      // An ordinary date goes straight to its normal form; the others take
      // the text path ("%u/%u/%i", read back) with its checks.
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
  return root_->GetNumericIntervals(field == nullptr ? u"" : field);
}

}  // namespace legacy
