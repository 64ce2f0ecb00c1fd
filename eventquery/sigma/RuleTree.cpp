#include "RuleTree.h"

#include "SigmaValue.h"

namespace eventquery::sigma {

Node Group(Node::Kind kind, std::vector<Node> kids) {
  if (kids.empty()) throw Unsupported("an empty group of conditions");
  if (kids.size() == 1) return std::move(kids[0]);
  Node group;
  group.kind = kind;
  for (Node& k : kids) {
    if (k.kind == kind) {
      for (Node& g : k.kids) group.kids.push_back(std::move(g));
    } else {
      group.kids.push_back(std::move(k));
    }
  }
  return group;
}

Node Negated(Node node) {
  if (node.kind == Node::kLeaf) {
    node.leaf.negate = !node.leaf.negate;
    return node;
  }
  std::vector<Node> kids;
  for (Node& k : node.kids) kids.push_back(Negated(std::move(k)));
  return Group(node.kind == Node::kAnd ? Node::kOr : Node::kAnd,
               std::move(kids));
}

namespace {

void Write(const Node& node, std::vector<ConditionLine>& lines,
           std::vector<size_t>& host_line) {
  if (node.kind == Node::kLeaf) {
    lines.push_back(node.leaf);
    lines.back().open = 0;
    lines.back().close = 0;
    lines.back().link = kLinkAnd;
    if (node.host >= 0) {
      if (host_line.size() <= static_cast<size_t>(node.host))
        host_line.resize(node.host + 1);
      host_line[node.host] = lines.size() - 1;
    }
    return;
  }
  const LineLinkOperator link = node.kind == Node::kAnd ? kLinkAnd : kLinkOr;
  for (size_t i = 0; i < node.kids.size(); ++i) {
    const Node& kid = node.kids[i];
    const size_t first = lines.size();
    Write(kid, lines, host_line);
    if (kid.kind != Node::kLeaf) {
      // A group of the other operator: its own brackets.
      ++lines[first].open;
      ++lines.back().close;
    }
    if (i + 1 < node.kids.size()) lines.back().link = link;
  }
}

}  // namespace

std::vector<ConditionLine> WriteLines(const Node& root,
                                      std::vector<size_t>& host_line) {
  std::vector<ConditionLine> lines;
  Write(root, lines, host_line);
  return lines;
}

}  // namespace eventquery::sigma
