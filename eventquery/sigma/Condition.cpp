#include "Condition.h"

#include <cctype>

#include "SigmaValue.h"

namespace eventquery::sigma {
namespace {

// Whole-name match of a "1 of" pattern, "*" standing for any run.
bool PatternMatches(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = n;
    } else if (p < pattern.size() && pattern[p] == name[n]) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

class Parser {
 public:
  Parser(std::string_view text, const std::vector<std::string>& identifiers,
         const std::function<Node(const std::string&)>& selection)
      : text_(text), identifiers_(identifiers), selection_(selection) {
    Tokenize();
  }

  Node Parse() {
    Node n = Or();
    if (at_ < tokens_.size()) Fail("unexpected '" + tokens_[at_] + "'");
    return n;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw Unsupported("condition " + Quoted(text_) + ": " + what);
  }

  void Tokenize() {
    size_t i = 0;
    while (i < text_.size()) {
      const char c = text_[i];
      if (std::isspace(static_cast<unsigned char>(c))) {
        ++i;
      } else if (c == '(' || c == ')') {
        tokens_.emplace_back(1, c);
        ++i;
      } else if (c == '|') {
        Fail("aggregations ('|') are not supported");
      } else {
        size_t j = i;
        while (j < text_.size() && text_[j] != '(' && text_[j] != ')' &&
               !std::isspace(static_cast<unsigned char>(text_[j])))
          ++j;
        tokens_.emplace_back(text_.substr(i, j - i));
        i = j;
      }
    }
  }

  bool Word(const char* w) const {
    return at_ < tokens_.size() && tokens_[at_] == w;
  }

  Node Or() {
    std::vector<Node> kids{And()};
    while (Word("or")) {
      ++at_;
      kids.push_back(And());
    }
    return Group(Node::kOr, std::move(kids));
  }

  Node And() {
    std::vector<Node> kids{Not()};
    while (Word("and")) {
      ++at_;
      kids.push_back(Not());
    }
    return Group(Node::kAnd, std::move(kids));
  }

  Node Not() {
    // Each bracket or not is a level of this parser's recursion.
    if (++depth_ > kMaxDepth)
      Fail("nests deeper than " + std::to_string(kMaxDepth) + " levels");
    Node n;
    if (Word("not")) {
      ++at_;
      n = Negated(Not());
    } else {
      n = Primary();
    }
    --depth_;
    return n;
  }

  Node Primary() {
    if (at_ >= tokens_.size()) Fail("ends where a term is wanted");
    const std::string t = tokens_[at_++];
    if (t == "(") {
      Node n = Or();
      if (!Word(")")) Fail("a '(' is not closed");
      ++at_;
      return n;
    }
    if (t == ")" || t == "and" || t == "or" || t == "of" || t == "them")
      Fail("'" + t + "' where a term is wanted");
    if ((t == "1" || t == "any" || t == "all") && Word("of")) {
      ++at_;
      if (at_ >= tokens_.size()) Fail("'of' wants a pattern or 'them'");
      const std::string pattern = tokens_[at_++];
      std::vector<Node> kids;
      for (const std::string& id : identifiers_) {
        const bool chosen = pattern == "them" ? id.empty() || id[0] != '_'
                                              : PatternMatches(pattern, id);
        if (chosen) kids.push_back(selection_(id));
      }
      if (kids.empty()) Fail("no search identifier matches '" + pattern + "'");
      return Group(t == "all" ? Node::kAnd : Node::kOr, std::move(kids));
    }
    if (t == "1" || t == "any" || t == "all" ||
        std::isdigit(static_cast<unsigned char>(t[0])))
      if (Word("of")) Fail("'" + t + " of' is not supported");
    for (const std::string& id : identifiers_)
      if (id == t) return selection_(id);
    Fail("no search identifier '" + t + "'");
  }

  std::string_view text_;
  const std::vector<std::string>& identifiers_;
  const std::function<Node(const std::string&)>& selection_;
  static constexpr int kMaxDepth = 64;
  std::vector<std::string> tokens_;
  size_t at_ = 0;
  int depth_ = 0;
};

}  // namespace

Node ParseCondition(std::string_view condition,
                    const std::vector<std::string>& identifiers,
                    const std::function<Node(const std::string&)>& selection) {
  return Parser(condition, identifiers, selection).Parse();
}

}  // namespace eventquery::sigma
