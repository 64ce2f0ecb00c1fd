// Building an expression tree from the host's condition lines.
//
// Lines are read left to right; every opening bracket on a line starts a
// nested group, every closing bracket ends one, and the builder writes the
// consumed counts back into the host's lines. A group takes the link
// operator of the line that closes it. The end of the list closes groups
// left open, with the link operator of the last line; a surplus closing
// bracket at the top level is reported and skipped; groups nest at most
// kMaxGroupNesting deep. A line that fails to build (a date value that cannot
// be read, say) is reported ("FLTPopCmpdExpr - unknown error.") and left out,
// and its level ends there; a group dropped on the way takes its
// conditions along.
//
// The tree's node types are parameters, so that a second implementation of
// the conditions can be built by the same rules:
//   Group       default-constructible; GetChildren().Append(unique_ptr) of
//               a group or a condition; SetLinkOperator(int32_t).
//   Conditions  size(); Truncate(n), which forgets the conditions added
//               after the first n; Add(group, ConditionLine), which builds
//               one condition into the group and the flat list, or throws
//               and adds nothing.
//
// Cost: O(lines) host calls, recursion one level per group.
// Thread safety: the host must not touch the lines while a build runs.

#ifndef FILTERMODULE_FILTER_TREEBUILDER_H_
#define FILTERMODULE_FILTER_TREEBUILDER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <utility>

#include "expression/ConditionLine.h"
#include "filtermodule/FilterModule.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {

// Deepest nesting of bracketed groups below the root.
inline constexpr int kMaxGroupNesting = 128;

// Reads `line` in the order the host's operations are called: field type,
// value, link operator, NOT, field operator, whether it has a tag, then the
// tag's name (only when it has one) and the field name. A line is read
// whole before its condition is built, so a value that cannot be read
// fails the build of the line after all of its calls.
ConditionLine ReadConditionLine(IFilterLine& line);

template <typename Group, typename Conditions>
class TreeBuilder {
 public:
  explicit TreeBuilder(Conditions& conditions) : conditions_(conditions) {}

  // Builds `root` from `lines`; reports a group the list left open.
  void Build(Group& root, IFilterLineList& lines) {
    missing_close_ = false;
    PopCmpdExpr(root, lines, 0, 0);
    if (missing_close_)
      WriteLog(kLogError, u"FLTPopCmpdExpr - missing closing bracket.");
  }

 private:
  class NestingTooDeep : public std::runtime_error {
   public:
    NestingTooDeep() : std::runtime_error("bracket nesting too deep") {}
  };

  // A bracket count as the builder reads it: negative counts as none.
  static int32_t Brackets(int32_t count) { return count > 0 ? count : 0; }

  static IFilterLine& LineAt(IFilterLineList& lines, uint32_t index) {
    IFilterLine* line = lines.GetLine(index);
    if (line == nullptr) throw std::invalid_argument("no line at index");
    return *line;
  }

  // Fills `parent` from the line at `start` on; returns the index of the
  // line that closed `parent`'s bracket, or the line count.
  uint32_t PopCmpdExpr(Group& parent, IFilterLineList& lines, uint32_t start,
                       int depth) {
    uint32_t index = start;
    for (;;) {
      uint32_t resume = index;
      // While a group is built but not yet in the tree, the size the flat
      // list had before it.
      size_t list_mark = SIZE_MAX;
      try {
        const uint32_t count = lines.GetLineCount();
        if (index >= count) {
          if (depth > 0) missing_close_ = true;
          return index;
        }
        IFilterLine* line = &LineAt(lines, index);
        if (Brackets(line->GetOpenBrackets()) != 0) {
          if (depth >= kMaxGroupNesting) throw NestingTooDeep();
          line->SetOpenBrackets(line->GetOpenBrackets() - 1);
          auto group = std::make_unique<Group>();
          list_mark = conditions_.size();
          index = PopCmpdExpr(*group, lines, index, depth + 1);
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
          line = &LineAt(lines, index);
          group->SetLinkOperator(line->GetLinkOperator());
          parent.GetChildren().Append(std::move(group));
          list_mark = SIZE_MAX;
        } else {
          conditions_.Add(parent, ReadConditionLine(*line));
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
        if (list_mark != SIZE_MAX) conditions_.Truncate(list_mark);
        WriteLog(kLogError, u"FLTPopCmpdExpr - unknown error.");
        return resume;
      }
    }
  }

  Conditions& conditions_;
  bool missing_close_ = false;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_FILTER_TREEBUILDER_H_
