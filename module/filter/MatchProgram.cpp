#include "filter/MatchProgram.h"

#include "expression/Text.h"
#include "expression/Wildcard.h"

namespace filtermodule {

namespace {

// Whether the host text, folded, equals `value` (folded, `size` units).
inline bool EqualsFolded(const char16_t* host, const char16_t* value,
                         size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const char16_t c = host[i];
    // A shorter text ends in its terminator, which folds to no value unit.
    if (c != value[i] && Lowered(c) != value[i]) return false;
  }
  return host[size] == u'\0';
}

// LIKE on a literal run, as the wildcard matcher reads a pattern: each text
// unit folded, compared with the pattern's unit as it stands.
inline bool SameFolded(const char16_t* text, const char16_t* run, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (Lowered(text[i]) != run[i]) return false;
  return true;
}

inline size_t Length(const char16_t* text) {
  size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

// "*run": the text ends with the run.
inline bool EndsFolded(const char16_t* text, const char16_t* run, size_t size) {
  const size_t n = Length(text);
  return n >= size && SameFolded(text + n - size, run, size);
}

// "*run*": the run occurs in the text. O(text x run).
inline bool HasFolded(const char16_t* text, const char16_t* run, size_t size) {
  if (size == 0) return true;
  for (; *text != u'\0'; ++text)
    if (Lowered(*text) == run[0] && SameFolded(text + 1, run + 1, size - 1))
      return true;
  return false;
}

}  // namespace

bool MatchProgram::Compile(const FilterCompoundExpression& root) {
  nodes_.clear();
  folded_.clear();
  if (!AddMembers(root)) {
    nodes_.clear();
    return false;
  }
  // The folded values have stopped growing: offsets become pointers.
  for (Node& node : nodes_)
    if (node.kind == Node::Kind::kTextEquals ||
        (node.kind >= Node::Kind::kLikeExact &&
         node.kind <= Node::Kind::kLikeInfix))
      node.text = folded_.data() + node.text_offset;
  return true;
}

bool MatchProgram::AddMembers(const FilterCompoundExpression& group) {
  const auto& members = group.GetChildren();
  const size_t first = nodes_.size();
  std::vector<uint32_t> starts;
  int32_t link = kLinkAnd;
  for (size_t i = 0; i < members.Count(); ++i) {
    const FilterExpression& member = members.At(i);
    if (link < kLinkAnd || link > kLinkOrNot) return false;
    starts.push_back(static_cast<uint32_t>(nodes_.size()));
    if (const auto* nested =
            dynamic_cast<const FilterCompoundExpression*>(&member)) {
      const size_t at = nodes_.size();
      Node head;
      head.kind = Node::Kind::kGroup;
      head.link = static_cast<uint8_t>(link);
      nodes_.push_back(head);
      if (!AddMembers(*nested)) return false;
      nodes_[at].size = static_cast<uint32_t>(nodes_.size() - at);
    } else {
      AddCondition(dynamic_cast<const FilterSimpleExpression&>(member), link);
    }
    link = member.GetLinkOperator();
  }
  const auto end = static_cast<uint32_t>(nodes_.size());
  // Where each member sends the evaluation, by the result it leaves: to
  // the next member that an OR joins (after false) or an AND joins (after
  // true). One pass from the end keeps this linear in the members.
  uint32_t next_or = end, next_and = end;
  for (size_t m = starts.size(); m-- > 0;) {
    Node& node = nodes_[starts[m]];
    node.on_true = next_and;
    node.on_false = next_or;
    if (node.link & 1)
      next_or = starts[m];
    else
      next_and = starts[m];
  }
  if (first < nodes_.size()) nodes_[first].end = end;
  return true;
}

void MatchProgram::AddCondition(const FilterSimpleExpression& condition,
                                int32_t link) {
  Node node;
  node.link = static_cast<uint8_t>(link);
  node.slot = static_cast<uint32_t>(condition.index());
  node.expression = &condition;
  const FilterSimpleExpression::DirectTest test = condition.GetDirectTest();
  node.negate = test.negate;
  using Direct = FilterSimpleExpression::Direct;
  switch (test.kind) {
    case Direct::kInteger:
    case Direct::kDays:
    case Direct::kSeconds:
      node.kind = test.kind == Direct::kInteger ? Node::Kind::kInteger
                  : test.kind == Direct::kDays  ? Node::Kind::kDays
                                                : Node::Kind::kSeconds;
      node.number = test.number;
      node.answers = test.op == kOpEquals ? 0b010
                     : test.op == kOpLess ? 0b001
                                          : 0b100;
      if (test.negate) node.answers ^= 0b111;
      break;
    case Direct::kTextEquals:
      node.kind = Node::Kind::kTextEquals;
      node.text_size = test.text->size();
      node.text_offset = folded_.size();
      for (char16_t c : *test.text) folded_.push_back(Lowered(c));
      break;
    case Direct::kTextLike:
      node.kind = Node::Kind::kTextLike;
      node.text = test.text->c_str();
      ClassifyLike(*test.text, node);
      break;
    case Direct::kTextContains:
      node.kind = Node::Kind::kTextContains;
      node.search = test.search;
      // A short needle is found faster by a plain scan than by the
      // prepared search, whose O(text) bound only pays for longer ones.
      // (The empty needle occurs even in an empty text, unlike LIKE "*".)
      if (!test.search->needle().empty() &&
          test.search->needle().size() <= kShortNeedle) {
        node.kind = Node::Kind::kLikeInfix;
        node.text_size = test.search->needle().size();
        node.text_offset = folded_.size();
        folded_.append(test.search->needle());
      }
      break;
    case Direct::kNone:
      break;
  }
  nodes_.push_back(node);
}

namespace {

inline int Order(int64_t a, int64_t b) { return (a > b) - (a < b); }

}  // namespace

inline bool MatchProgram::Condition(const Node& node, RowValues& row) const {
  const RowSlot& slot = row.slots[node.slot];
  using SlotKind = RowSlot::Kind;
  switch (node.kind) {
    case Node::Kind::kInteger:
      if (slot.kind != SlotKind::kInteger) break;
      return (node.answers >> (Order(slot.integer, node.number) + 1)) & 1;
    case Node::Kind::kDays:
      if (slot.kind != SlotKind::kDays) break;
      return (node.answers >> (Order(slot.days, node.number) + 1)) & 1;
    case Node::Kind::kSeconds:
      if (slot.kind != SlotKind::kSeconds) break;
      return (node.answers >> (Order(slot.seconds, node.number) + 1)) & 1;
    case Node::Kind::kTextEquals:
      if (slot.kind != SlotKind::kHostText) break;
      return EqualsFolded(slot.host, node.text, node.text_size) != node.negate;
    case Node::Kind::kTextLike:
      if (slot.kind != SlotKind::kHostText) break;
      return MatchWildcardFolded(node.text, slot.host) != node.negate;
    case Node::Kind::kLikeExact:
      if (slot.kind != SlotKind::kHostText) break;
      return (Length(slot.host) == node.text_size &&
              SameFolded(slot.host, node.text, node.text_size)) != node.negate;
    // An empty text matches no pattern but the empty one.
    case Node::Kind::kLikePrefix:
      if (slot.kind != SlotKind::kHostText) break;
      // "run*": SameFolded stops at a shorter text's terminator, which
      // folds to no unit of a run.
      return (*slot.host != u'\0' &&
              SameFolded(slot.host, node.text, node.text_size)) != node.negate;
    case Node::Kind::kLikeSuffix:
      if (slot.kind != SlotKind::kHostText) break;
      return (*slot.host != u'\0' &&
              EndsFolded(slot.host, node.text, node.text_size)) != node.negate;
    case Node::Kind::kLikeInfix:
      if (slot.kind != SlotKind::kHostText) break;
      return (*slot.host != u'\0' &&
              HasFolded(slot.host, node.text, node.text_size)) != node.negate;
    case Node::Kind::kTextContains:
      if (slot.kind != SlotKind::kHostText) break;
      return node.search->FoundInFolded(slot.host) != node.negate;
    case Node::Kind::kGroup:
    case Node::Kind::kCondition:
      break;
  }
  // The general path: the condition's own Eval (NOT applied there).
  return node.expression->FilterSimpleExpression::Eval(row);
}

void MatchProgram::ClassifyLike(const std::u16string& pattern, Node& node) {
  if (pattern.find_first_of(u"?[") != std::u16string::npos) return;
  size_t first = 0;
  while (first < pattern.size() && pattern[first] == u'*') ++first;
  size_t last = pattern.size();
  while (last > first && pattern[last - 1] == u'*') --last;
  const std::u16string_view run(pattern.data() + first, last - first);
  if (run.find(u'*') != std::u16string_view::npos) return;
  const bool leading = first > 0;
  const bool trailing = last < pattern.size();
  node.kind = leading && trailing ? Node::Kind::kLikeInfix
              : leading           ? Node::Kind::kLikeSuffix
              : trailing          ? Node::Kind::kLikePrefix
                                  : Node::Kind::kLikeExact;
  if (leading && !trailing && run.empty()) node.kind = Node::Kind::kLikeInfix;
  node.text_size = run.size();
  node.text_offset = folded_.size();
  folded_.append(run);
}

bool MatchProgram::Group(const Node* first, RowValues& row) const {
  const Node* nodes = nodes_.data();
  const Node* end = nodes + first->end;
  // The first member is joined by AND to the group's starting true.
  const Node* node = first;
  bool result = true;
  do {
    // A group without members is true, as an empty tree is.
    const bool value = node->kind != Node::Kind::kGroup ? Condition(*node, row)
                       : node->size > 1                 ? Group(node + 1, row)
                                                        : true;
    result = node->link >= kLinkAndNot ? !value : value;
    node = nodes + (result ? node->on_true : node->on_false);
  } while (node < end);
  return result;
}

}  // namespace filtermodule
