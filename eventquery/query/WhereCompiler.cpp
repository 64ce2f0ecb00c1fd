#include "query/WhereCompiler.h"

#include <cctype>

#include "common/Ascii.h"
#include "common/Utf8.h"
#include "query/ValueForms.h"

namespace eventquery {
namespace {

// kField: a backquoted name, taken literally (never a keyword, tag or type).
enum class Kind { kWord, kField, kString, kOpen, kClose, kOperator, kEnd };

struct Token {
  Kind kind;
  std::string text;
  size_t column;  // 1-based
};

// The length of the comparison operator at s[i], or 0.
size_t OperatorAt(std::string_view s, size_t i) {
  const char c = s[i];
  const char next = i + 1 < s.size() ? s[i + 1] : '\0';
  if ((c == '>' || c == '<' || c == '!' || c == '=') && next == '=') return 2;
  if (c == '<' && next == '>') return 2;
  if (c == '=' || c == '<' || c == '>') return 1;
  return 0;
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '(' || c == ')') {
      tokens.push_back(
          {c == '(' ? Kind::kOpen : Kind::kClose, std::string(1, c), i + 1});
      ++i;
    } else if (const size_t n = OperatorAt(s, i)) {
      tokens.push_back({Kind::kOperator, std::string(s.substr(i, n)), i + 1});
      i += n;
    } else if (c == '!') {
      throw SyntaxError(i + 1, "'!' alone is no operator; write != or NOT");
    } else if (c == '`') {
      const size_t start = i++;
      std::string text;
      for (;;) {
        if (i >= s.size())
          throw SyntaxError(start + 1, "unterminated backquoted field name");
        if (s[i] == '`') {
          if (i + 1 < s.size() && s[i + 1] == '`') {
            text.push_back('`');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        text.push_back(s[i++]);
      }
      if (text.empty()) throw SyntaxError(start + 1, "empty field name");
      tokens.push_back({Kind::kField, std::move(text), start + 1});
    } else if (c == '\'' || c == '"') {
      const size_t start = i++;
      std::string text;
      for (;;) {
        if (i >= s.size())
          throw SyntaxError(start + 1, "unterminated quoted value");
        if (s[i] == c) {
          if (i + 1 < s.size() && s[i + 1] == c) {
            text.push_back(c);
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        text.push_back(s[i++]);
      }
      tokens.push_back({Kind::kString, std::move(text), start + 1});
    } else {
      const size_t start = i;
      while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) &&
             s[i] != '(' && s[i] != ')' && s[i] != '\'' && s[i] != '"' &&
             s[i] != '`' && OperatorAt(s, i) == 0)
        ++i;
      tokens.push_back(
          {Kind::kWord, std::string(s.substr(start, i - start)), start + 1});
    }
  }
  tokens.push_back({Kind::kEnd, "", s.size() + 1});
  return tokens;
}

const char* const kPeriods[] = {"TODAY", "YESTERDAY", "LAST 30 DAYS",
                                "THIS MONTH", "LAST MONTH"};

class Parser {
 public:
  Parser(std::vector<Token> tokens, const TypeOverrides& types)
      : tokens_(std::move(tokens)), types_(types) {}

  std::vector<ConditionLine> Parse() {
    if (Peek().kind == Kind::kEnd)
      throw SyntaxError(1, "the expression is empty");
    Expression(0);
    if (Peek().kind == Kind::kClose)
      throw SyntaxError(Peek().column, "')' without a matching '('");
    if (Peek().kind != Kind::kEnd)
      throw SyntaxError(Peek().column,
                        "expected AND or OR before '" + Peek().text + "'");
    return std::move(lines_);
  }

 private:
  const Token& Peek(size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  Token Take() { return tokens_[std::min(pos_++, tokens_.size() - 1)]; }
  bool IsWord(const Token& t, const char* word) const {
    return t.kind == Kind::kWord && common::EqualsNoCase(t.text, word);
  }

  void Expression(int depth) {
    Term(depth);
    while (IsWord(Peek(), "AND") || IsWord(Peek(), "OR")) {
      int32_t link = IsWord(Take(), "AND") ? 0 : 1;
      if (IsWord(Peek(), "NOT")) {
        Take();
        link += 2;
      }
      lines_.back().link = link;
      Term(depth);
    }
  }

  void Term(int depth) {
    const Token& t = Peek();
    if (t.kind == Kind::kOpen) {
      if (depth >= 128)
        throw SyntaxError(t.column, "brackets nested too deeply");
      Take();
      const size_t first = lines_.size();
      if (Peek().kind == Kind::kClose)
        throw SyntaxError(Peek().column, "empty brackets");
      Expression(depth + 1);
      if (Peek().kind != Kind::kClose)
        throw SyntaxError(Peek().column, Peek().kind == Kind::kEnd
                                             ? "missing ')'"
                                             : "expected AND, OR or ')'");
      Take();
      lines_[first].open += 1;
      lines_.back().close += 1;
      return;
    }
    bool negate = false;
    if (IsWord(t, "NOT")) {
      Take();
      negate = true;
      if (Peek().kind == Kind::kOpen)
        throw SyntaxError(Peek().column,
                          "NOT applies to one condition; write AND NOT or OR "
                          "NOT before a group");
    }
    Condition(negate);
  }

  void Condition(bool negate) {
    const Token field = Take();
    if (field.kind == Kind::kField) {
      ConditionLine line;
      line.negate = negate;
      Compare(field, field.text, -1, std::move(line));
      return;
    }
    if (field.kind != Kind::kWord || IsKeyword(field.text))
      throw SyntaxError(field.column, field.kind == Kind::kEnd
                                          ? "expected a condition"
                                          : "expected a field name, found '" +
                                                field.text + "'");
    ConditionLine line;
    line.negate = negate;
    std::string name = field.text;
    int32_t type = -1;
    if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
      type = TypeFromName(std::string_view(name).substr(colon + 1));
      if (type < 0)
        throw SyntaxError(field.column + colon + 1,
                          "unknown type '" + name.substr(colon + 1) +
                              "'; accepted: numeric, text, date, time");
      name.resize(colon);
    }
    if (const size_t at = name.find('@'); at != std::string::npos) {
      line.has_tag = true;
      line.tag = common::ToUtf16(name.substr(at + 1));
      if (line.tag.empty())
        throw SyntaxError(field.column + at + 1, "empty tag name");
      name.resize(at);
    }
    if (name.empty()) throw SyntaxError(field.column, "empty field name");
    Compare(field, name, type, std::move(line));
  }

  // The operator and value of a condition on `name`; `type` -1: inferred.
  void Compare(const Token& field, const std::string& name, int32_t type,
               ConditionLine line) {
    line.field = common::ToUtf16(name);
    const Token op = Take();
    std::string value;
    if (op.kind == Kind::kOperator) {
      // The module has =, < and >; the others are their negations, marked
      // inverted so that a missing value decides them as written.
      const std::string& o = op.text;
      line.op = o == "=" || o == "==" || o == "!=" || o == "<>" ? 0
                : o == "<" || o == ">="                         ? 3
                                                                : 4;
      if (o == ">=" || o == "<=" || o == "!=" || o == "<>") {
        line.inverted = true;
        line.negate = !line.negate;
      }
    } else if (IsWord(op, "LIKE")) {
      line.op = 1;
    } else if (IsWord(op, "CONTAINS")) {
      line.op = 2;
    } else if (IsWord(op, "IN")) {
      line.op = 5;
    } else {
      throw SyntaxError(op.column,
                        "expected an operator (=, !=, <, <=, >, >=, LIKE, "
                        "CONTAINS, IN) "
                        "after '" +
                            field.text + "'");
    }
    size_t value_column = Peek().column;
    if (line.op == 5) {
      value = Period(op);
    } else {
      const Token v = Take();
      if (v.kind != Kind::kWord && v.kind != Kind::kString)
        throw SyntaxError(v.column, "expected a value after '" + op.text + "'");
      value = v.text;
      value_column = v.column;
    }
    // Bytes that are no UTF-8 stay themselves, as in the cells they are
    // compared with.
    line.value.clear();
    common::AppendUtf16Marked(value, line.value, true);
    if (type < 0) {
      for (const auto& [key, t] : types_)
        if (common::EqualsNoCase(key, name)) type = t;
    }
    if (type < 0) type = Infer(line.op, value);
    line.type = type;
    if (const auto problem = PrepareValue(line))
      throw SyntaxError(value_column, *problem);
    lines_.push_back(std::move(line));
  }

  // A period keyword after IN, quoted or as bare words.
  std::string Period(const Token& op) {
    const Token& first = Peek();
    if (first.kind == Kind::kString) {
      Take();
      return first.text;
    }
    for (const char* period : kPeriods) {
      std::vector<std::string> words;
      std::string_view rest(period);
      while (!rest.empty()) {
        const size_t space = rest.find(' ');
        words.emplace_back(rest.substr(0, space));
        rest = space == std::string_view::npos ? "" : rest.substr(space + 1);
      }
      bool match = true;
      for (size_t k = 0; k < words.size() && match; ++k)
        match = IsWord(Peek(k), words[k].c_str());
      if (match) {
        pos_ += words.size();
        return period;
      }
    }
    throw SyntaxError(first.kind == Kind::kEnd ? op.column : first.column,
                      "expected a period after IN: TODAY, YESTERDAY, LAST 30 "
                      "DAYS, THIS MONTH or LAST MONTH");
  }

  // A value that is meant as a number, date or time gives its field that
  // type, and is then checked in full: a malformed date is an error, not a
  // text that compares as nothing.
  static int32_t Infer(int32_t op, const std::string& value) {
    if (op == 5 || IsPeriodKeyword(value)) return 2;
    if (op == 1 || op == 2) return 1;
    if (LooksNumeric(value)) return 0;
    if (LooksLikeDate(value)) return 2;
    if (LooksLikeTime(value)) return 3;
    return 1;
  }

  bool IsKeyword(const std::string& w) const {
    for (const char* k : {"AND", "OR", "NOT", "LIKE", "CONTAINS", "IN"})
      if (common::EqualsNoCase(w, k)) return true;
    return false;
  }

  std::vector<Token> tokens_;
  const TypeOverrides& types_;
  size_t pos_ = 0;
  std::vector<ConditionLine> lines_;
};

}  // namespace

int32_t TypeFromName(std::string_view name) {
  const char* kNames[] = {"numeric", "text", "date", "time"};
  for (int32_t i = 0; i < 4; ++i)
    if (common::EqualsNoCase(name, kNames[i])) return i;
  return -1;
}

std::vector<ConditionLine> CompileWhere(std::string_view expression,
                                        const TypeOverrides& types) {
  return Parser(Tokenize(expression), types).Parse();
}

}  // namespace eventquery
