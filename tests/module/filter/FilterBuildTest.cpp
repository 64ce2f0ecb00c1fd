#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FilterInternals.h"
#include "TestLog.h"
#include "common/Utf8.h"
#include "filter/Filter.h"
#include "filter/TreeBuilder.h"
#include "memory_host/MemoryFilterLines.h"

namespace filtermodule {
namespace {

using memhost::LineSpec;
using memhost::MemoryFilterLineList;
using testlog::LogMark;

// Records every call the builder makes on the lines.
class RecordingList : public IFilterLineList {
 public:
  class Line final : public IFilterLine {
   public:
    Line(RecordingList* list, uint32_t index, LineSpec data)
        : list_(list), index_(index), line_(std::move(data)) {}
    int32_t GetOpenBrackets() override {
      return Log("GetOpenBrackets"), line_.GetOpenBrackets();
    }
    void SetOpenBrackets(int32_t c) override {
      Log("SetOpenBrackets"), line_.SetOpenBrackets(c);
    }
    int32_t GetCloseBrackets() override {
      return Log("GetCloseBrackets"), line_.GetCloseBrackets();
    }
    void SetCloseBrackets(int32_t c) override {
      Log("SetCloseBrackets"), line_.SetCloseBrackets(c);
    }
    bool GetNot() override { return Log("GetNot"), line_.GetNot(); }
    int32_t GetFieldOperator() override {
      return Log("GetFieldOperator"), line_.GetFieldOperator();
    }
    int32_t GetFieldType() override {
      return Log("GetFieldType"), line_.GetFieldType();
    }
    bool HasExtendedTag() override {
      return Log("HasExtendedTag"), line_.HasExtendedTag();
    }
    const char16_t* GetTagName() override {
      return Log("GetTagName"), line_.GetTagName();
    }
    const char16_t* GetFieldName() override {
      return Log("GetFieldName"), line_.GetFieldName();
    }
    int32_t GetLinkOperator() override {
      return Log("GetLinkOperator"), line_.GetLinkOperator();
    }
    const char16_t* GetValue() override {
      return Log("GetValue"), line_.GetValue();
    }
    memhost::MemoryFilterLine& line() { return line_; }

   private:
    void Log(const char* what) {
      list_->calls.push_back(std::to_string(index_) + ":" + what);
    }
    RecordingList* list_;
    uint32_t index_;
    memhost::MemoryFilterLine line_;
  };

  explicit RecordingList(const std::vector<LineSpec>& line_data) {
    lines_.reserve(line_data.size());
    for (const LineSpec& s : line_data)
      lines_.emplace_back(this, static_cast<uint32_t>(lines_.size()), s);
  }
  uint32_t GetLineCount() override {
    return static_cast<uint32_t>(lines_.size());
  }
  IFilterLine* GetLine(uint32_t index) override {
    if (index >= lines_.size()) {
      ++out_of_range;
      return nullptr;
    }
    return &lines_[index];
  }
  Line& line(size_t i) { return lines_[i]; }

  std::vector<std::string> calls;
  int out_of_range = 0;

 private:
  std::vector<Line> lines_;
};

// Builds a filter from `list` and returns it with its log.
struct Built {
  Filter* filter = nullptr;
  std::vector<std::string> log;
  std::string Text() const {
    return common::ToUtf8(FilterInternals(filter).root()->ToString());
  }
  size_t Conditions() const {
    return FilterInternals(filter).conditions().size();
  }
  ~Built() {
    if (filter) filter->Release();
  }
};

void Build(IFilterLineList& list, Built& b) {
  b.filter = static_cast<Filter*>(CreateFilter());
  LogMark mark;
  b.filter->Init(&list);
  b.log = mark.Messages();
}

LineSpec L(int32_t open, const char16_t* field, int32_t close,
           LineLinkOperator link, const char16_t* value = u"1") {
  return LineSpec{.open = open,
                  .field = field,
                  .op = kOpEquals,
                  .value = value,
                  .close = close,
                  .link = link};
}

TEST(FilterBuildTest, WorkedExample) {
  MemoryFilterLineList lines({L(1, u"P", 0, kLinkAnd), L(0, u"Q", 1, kLinkOr),
                              L(0, u"R", 0, kLinkAnd)});
  Built b;
  Build(lines, b);
  EXPECT_EQ(b.Text(), "( ( P = 1 ) AND ( Q = 1 ) ) OR ( R = 1 )");
  EXPECT_EQ(b.log, (std::vector<std::string>{
                       "Initializing filter ...",
                       "( ( P = 1 ) AND ( Q = 1 ) ) OR ( R = 1 )"}));
  ASSERT_EQ(b.Conditions(), 3u);
  EXPECT_EQ(FilterInternals(b.filter).conditions()[0]->GetFieldName(), u"P");
  EXPECT_EQ(FilterInternals(b.filter).conditions()[2]->GetFieldName(), u"R");
  EXPECT_TRUE(b.filter->initialised());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines.line(i).GetOpenBrackets(), 0);
    EXPECT_EQ(lines.line(i).GetCloseBrackets(), 0);
  }
  // The counts are consumed: a second build has no groups.
  b.filter->Init(&lines);
  EXPECT_EQ(b.Text(), "( P = 1 ) AND ( Q = 1 ) OR ( R = 1 )");
  EXPECT_EQ(b.Conditions(), 3u);
}

TEST(FilterBuildTest, HostCallsInOrder) {
  RecordingList list({LineSpec{.field = u"F",
                               .op = kOpContains,
                               .value = u"v",
                               .link = kLinkOr,
                               .has_tag = true,
                               .tag = u"T"},
                      LineSpec{.field = u"G"}});
  Built b;
  Build(list, b);
  EXPECT_EQ(
      list.calls,
      (std::vector<std::string>{
          "0:GetOpenBrackets", "0:GetFieldType", "0:GetValue",
          "0:GetLinkOperator", "0:GetNot", "0:GetFieldOperator",
          "0:HasExtendedTag", "0:GetTagName", "0:GetFieldName",
          "0:GetCloseBrackets", "1:GetOpenBrackets", "1:GetFieldType",
          "1:GetValue", "1:GetLinkOperator", "1:GetNot", "1:GetFieldOperator",
          "1:HasExtendedTag", "1:GetFieldName", "1:GetCloseBrackets"}));
  const FilterSimpleExpression& e = *FilterInternals(b.filter).conditions()[0];
  EXPECT_TRUE(e.GetHasTag());
  EXPECT_EQ(e.GetTagName(), u"T");
  EXPECT_EQ(e.GetFieldOperator(), 2);
  EXPECT_EQ(e.GetLinkOperator(), 1);
  EXPECT_FALSE(FilterInternals(b.filter).conditions()[1]->GetHasTag());
  EXPECT_EQ(FilterInternals(b.filter).conditions()[1]->GetTagName(), u"");
}

// A line is read whole before its condition is built: a value that cannot
// be read leaves the line out, after the same calls as any other line, and
// the level ends there.
TEST(FilterBuildTest, UnreadableValueIsReadWholeThenLeftOut) {
  RecordingList list({LineSpec{.field = u"D", .value = u"x", .type = kTypeDate},
                      LineSpec{.field = u"G"}});
  Built b;
  Build(list, b);
  EXPECT_EQ(list.calls,
            (std::vector<std::string>{"0:GetOpenBrackets", "0:GetFieldType",
                                      "0:GetValue", "0:GetLinkOperator",
                                      "0:GetNot", "0:GetFieldOperator",
                                      "0:HasExtendedTag", "0:GetFieldName"}));
  EXPECT_EQ(b.Conditions(), 0u);
}

TEST(FilterBuildTest, BracketShapes) {
  {
    MemoryFilterLineList lines({L(1, u"A", 1, kLinkOr)});
    Built b;
    Build(lines, b);
    EXPECT_EQ(b.Text(), "( ( A = 1 ) )");
    EXPECT_EQ(
        FilterInternals(b.filter).root()->GetChildren().At(0).GetLinkOperator(),
        kLinkOr);
  }
  {
    MemoryFilterLineList lines(
        {L(2, u"A", 0, kLinkAnd), L(0, u"B", 2, kLinkOr)});
    Built b;
    Build(lines, b);
    EXPECT_EQ(b.Text(), "( ( ( A = 1 ) AND ( B = 1 ) ) )");
    auto& outer = static_cast<FilterCompoundExpression&>(
        FilterInternals(b.filter).root()->GetChildren().At(0));
    EXPECT_EQ(outer.GetLinkOperator(), kLinkOr);
    EXPECT_EQ(outer.GetChildren().At(0).GetLinkOperator(), kLinkOr);
  }
  {
    MemoryFilterLineList lines(
        {L(1, u"A", 1, kLinkAnd), L(1, u"B", 1, kLinkOr)});
    Built b;
    Build(lines, b);
    EXPECT_EQ(b.Text(), "( ( A = 1 ) ) AND ( ( B = 1 ) )");
  }
}

TEST(FilterBuildTest, EmptyListLogsAnEmptyTree) {
  MemoryFilterLineList lines;
  Built b;
  Build(lines, b);
  EXPECT_EQ(b.log, (std::vector<std::string>{"Initializing filter ...", ""}));
  EXPECT_TRUE(b.filter->initialised());
}

TEST(FilterBuildTest, EndOfListClosesOpenGroups) {
  RecordingList list({L(1, u"A", 0, kLinkAnd), L(1, u"B", 0, kLinkOr),
                      L(0, u"C", 0, kLinkAndNot)});
  Built b;
  Build(list, b);
  EXPECT_EQ(list.out_of_range, 0);  // never asked past the end
  EXPECT_EQ(b.Text(), "( ( A = 1 ) AND ( ( B = 1 ) OR ( C = 1 ) ) )");
  auto& outer = static_cast<FilterCompoundExpression&>(
      FilterInternals(b.filter).root()->GetChildren().At(0));
  EXPECT_EQ(outer.GetLinkOperator(), kLinkAndNot);  // the last line's link
  EXPECT_EQ(outer.GetChildren().At(1).GetLinkOperator(), kLinkAndNot);
  int missing = 0;
  for (const auto& m : b.log)
    missing += m == "FLTPopCmpdExpr - missing closing bracket.";
  EXPECT_EQ(missing, 1);
  EXPECT_EQ(b.Conditions(), 3u);
}

TEST(FilterBuildTest, SurplusClosingBracketIsReportedAndSkipped) {
  MemoryFilterLineList lines({L(0, u"A", 1, kLinkAnd), L(0, u"B", 0, kLinkOr)});
  Built b;
  Build(lines, b);
  EXPECT_EQ(b.Text(), "( A = 1 ) AND ( B = 1 )");
  EXPECT_EQ(lines.line(0).GetCloseBrackets(), 1);  // left on the line
  EXPECT_EQ(b.log[1], "FLTPopCmpdExpr - unexpected closing bracket.");
}

TEST(FilterBuildTest, NegativeBracketsReadAsNone) {
  MemoryFilterLineList lines(
      {L(-3, u"A", -2, kLinkAnd), L(0, u"B", 0, kLinkOr)});
  Built b;
  Build(lines, b);
  EXPECT_EQ(b.Text(), "( A = 1 ) AND ( B = 1 )");
  EXPECT_EQ(lines.line(0).GetOpenBrackets(), -3);
  EXPECT_EQ(lines.line(0).GetCloseBrackets(), -2);
}

TEST(FilterBuildTest, UnreadableValueAtTheTopEndsTheBuild) {
  MemoryFilterLineList lines(
      {L(0, u"A", 0, kLinkAnd),
       LineSpec{.field = u"D", .value = u"not a date", .type = kTypeDate},
       L(0, u"C", 0, kLinkAnd)});
  Built b;
  Build(lines, b);
  EXPECT_EQ(b.Text(), "( A = 1 )");
  EXPECT_EQ(b.Conditions(), 1u);
  EXPECT_TRUE(b.filter->initialised());
  EXPECT_EQ(b.log[1], "FLTPopCmpdExpr - unknown error.");
}

TEST(FilterBuildTest, UnreadableValueInAGroupEndsTheGroup) {
  MemoryFilterLineList lines({L(1, u"A", 0, kLinkAnd),
                              LineSpec{.field = u"D",
                                       .value = u"13/1/2010",
                                       .type = kTypeDate,
                                       .link = kLinkOr},
                              L(0, u"C", 1, kLinkAnd),
                              L(0, u"E", 0, kLinkAnd)});
  Built b;
  Build(lines, b);
  // The failing line closes the group (its link OR); then C's line follows,
  // whose surplus bracket is reported at the top.
  EXPECT_EQ(b.Text(), "( ( A = 1 ) ) OR ( C = 1 ) AND ( E = 1 )");
  EXPECT_EQ(b.Conditions(), 3u);
}

TEST(FilterBuildTest, NamedPeriodOnADateFieldIsKept) {
  MemoryFilterLineList lines({LineSpec{.field = u"Received",
                                       .op = kOpNamedPeriod,
                                       .value = u"Today",
                                       .type = kTypeDate},
                              L(0, u"B", 0, kLinkAnd)});
  Built b;
  Build(lines, b);
  EXPECT_EQ(b.Text(), "( Received IN TODAY ) AND ( B = 1 )");
}

TEST(FilterBuildTest, NestingIsCapped) {
  MemoryFilterLineList lines(
      {L(100000, u"A", 0, kLinkAnd), L(0, u"B", 0, kLinkOr)});
  Built b;
  Build(lines, b);
  EXPECT_TRUE(b.filter->initialised());
  int errors = 0;
  for (const auto& m : b.log) errors += m == "FLTPopCmpdExpr - unknown error.";
  EXPECT_EQ(errors, 1);
  // The deepest level allowed failed on line 0; the levels above took the
  // line as their closing line and went on.
  EXPECT_EQ(b.Conditions(), 1u);
  EXPECT_EQ(lines.line(0).GetOpenBrackets(), 100000 - kMaxGroupNesting);
}

TEST(FilterBuildTest, SecondInitReplacesTheTree) {
  MemoryFilterLineList first({L(1, u"A", 1, kLinkAnd)});
  MemoryFilterLineList second({L(0, u"B", 0, kLinkAnd)});
  Built b;
  Build(first, b);
  LogMark mark;
  b.filter->Init(&second);
  EXPECT_EQ(mark.Messages(),
            (std::vector<std::string>{"Destroying compound expression",
                                      "Destroying compound expression",
                                      "Initializing filter ...", "( B = 1 )"}));
  ASSERT_EQ(b.Conditions(), 1u);
  EXPECT_EQ(FilterInternals(b.filter).conditions()[0]->GetFieldName(), u"B");
}

}  // namespace
}  // namespace filtermodule
