#include "query/WhereCompiler.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>

#include "common/Ascii.h"
#include "common/CivilCalendar.h"
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
  size_t end;     // 0-based offset just past the token in the expression
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

// The text between quotes `q` from s[i] (the opening quote) on; a doubled
// quote stands for one. Moves i past the closing quote.
std::string Quoted(std::string_view s, size_t& i, char q, const char* what) {
  const size_t start = i++;
  std::string text;
  for (;;) {
    if (i >= s.size()) throw SyntaxError(start + 1, what);
    if (s[i] == q) {
      if (i + 1 < s.size() && s[i + 1] == q) {
        text.push_back(q);
        i += 2;
        continue;
      }
      ++i;
      return text;
    }
    text.push_back(s[i++]);
  }
}

std::vector<Token> Tokenize(std::string_view s) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < s.size()) {
    const char c = s[i];
    const size_t start = i;
    if (std::isspace(static_cast<unsigned char>(c))) {
      ++i;
    } else if (c == '(' || c == ')') {
      ++i;
      tokens.push_back({c == '(' ? Kind::kOpen : Kind::kClose,
                        std::string(1, c), start + 1, i});
    } else if (const size_t n = OperatorAt(s, i)) {
      i += n;
      tokens.push_back(
          {Kind::kOperator, std::string(s.substr(start, n)), start + 1, i});
    } else if (c == '!') {
      throw SyntaxError(i + 1, "'!' alone is no operator; write != or NOT");
    } else if (c == '`') {
      std::string text =
          Quoted(s, i, '`', "unterminated backquoted field name");
      if (text.empty()) throw SyntaxError(start + 1, "empty field name");
      tokens.push_back({Kind::kField, std::move(text), start + 1, i});
    } else if (c == '\'' || c == '"') {
      std::string text = Quoted(s, i, c, "unterminated quoted value");
      tokens.push_back({Kind::kString, std::move(text), start + 1, i});
    } else {
      while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])) &&
             s[i] != '(' && s[i] != ')' && s[i] != '\'' && s[i] != '"' &&
             s[i] != '`' && OperatorAt(s, i) == 0)
        ++i;
      tokens.push_back(
          {Kind::kWord, std::string(s.substr(start, i - start)), start + 1, i});
    }
  }
  tokens.push_back({Kind::kEnd, "", s.size() + 1, s.size()});
  return tokens;
}

// The module's named periods as expressions write them: its LAST 30 DAYS
// runs from midnight and is spelled CALENDAR DAYS, since LAST n DAYS is a
// window of n x 24 hours back from now for every n.
const struct {
  const char* written;
  const char* period;
} kPeriods[] = {{"TODAY", "TODAY"},
                {"YESTERDAY", "YESTERDAY"},
                {"LAST 30 CALENDAR DAYS", "LAST 30 DAYS"},
                {"THIS MONTH", "THIS MONTH"},
                {"LAST MONTH", "LAST MONTH"}};
// The periods fixed when the expression is compiled, as written.
const char* const kRelativePeriods[] = {"LAST n DAYS", "LAST n HOURS",
                                        "LAST WEEK", "THIS WEEK"};
const char* const kKeywords[] = {"AND",     "OR",       "NOT",
                                 "LIKE",    "CONTAINS", "IN",
                                 "MATCHES", "BETWEEN",  "SINCE"};

// A parsed expression before it is written as lines. A chain's terms
// combine left to right; links[i] joins terms i and i + 1 (0 AND, 1 OR,
// 2 AND NOT, 3 OR NOT).
struct Node {
  enum Kind { kLeaf, kChain, kNot } kind = kLeaf;
  ConditionLine line;
  std::vector<Node> items;
  std::vector<int32_t> links;
  bool bracketed = false;
};

Node Leaf(ConditionLine line) {
  Node n;
  n.line = std::move(line);
  return n;
}

Node Not(Node inner) {
  Node n;
  n.kind = Node::kNot;
  n.items.push_back(std::move(inner));
  return n;
}

// (a LINK b), bracketed.
Node Pair(Node a, int32_t link, Node b) {
  Node n;
  n.kind = Node::kChain;
  n.bracketed = true;
  n.items.push_back(std::move(a));
  n.items.push_back(std::move(b));
  n.links.push_back(link);
  return n;
}

// Writes `node` as lines, negated when asked. A negated chain is written by
// De Morgan: each term negated (a term after AND NOT or OR NOT loses that
// NOT instead) and joined by the other operator; the left-to-right
// grouping is kept, since NOT ((a op b) op c) is ((NOT a op' NOT b) op'
// NOT c).
void Emit(const Node& node, bool negated, std::vector<ConditionLine>& out) {
  switch (node.kind) {
    case Node::kLeaf:
      out.push_back(node.line);
      if (negated) out.back().negate = !out.back().negate;
      return;
    case Node::kNot:
      Emit(node.items[0], !negated, out);
      return;
    case Node::kChain: {
      const size_t first = out.size();
      Emit(node.items[0], negated, out);
      for (size_t i = 1; i < node.items.size(); ++i) {
        const int32_t link = node.links[i - 1];
        if (!negated) {
          out.back().link = static_cast<LineLinkOperator>(link);
          Emit(node.items[i], false, out);
          continue;
        }
        // NOT (x AND y) is NOT x OR NOT y; NOT (x AND NOT y) is NOT x OR y.
        out.back().link = static_cast<LineLinkOperator>((link & 1) ^ 1);
        Emit(node.items[i], (link & 2) == 0, out);
      }
      if (node.bracketed) {
        out[first].open += 1;
        out.back().close += 1;
      }
      return;
    }
  }
}

// The broken-down date and time of `instant`, in UTC or local time.
// The character beyond the Basic Multilingual Plane that stands next to a
// LIKE pattern's ? or inside or next to one of its [sets], as "'c' (U+...)";
// "" when there is none. Such a character is two 16-bit code units, and ?
// and a set match one. Costs O(pattern).
std::string WideNextToWildcard(const std::u16string& p) {
  auto high = [&](size_t i) {
    return i < p.size() && p[i] >= 0xD800 && p[i] < 0xDC00;
  };
  auto low = [&](size_t i) {
    return i < p.size() && p[i] >= 0xDC00 && p[i] < 0xE000;
  };
  size_t at = SIZE_MAX;  // the high surrogate of the character found
  for (size_t i = 0; i < p.size() && at == SIZE_MAX; ++i) {
    size_t end = i;  // the wildcard's last unit
    if (p[i] == u'[') {
      end = p.find(u']', i + 1);
      if (end == std::u16string::npos) break;
      for (size_t j = i + 1; j < end; ++j)
        if (high(j)) at = j;
    } else if (p[i] != u'?') {
      continue;
    }
    if (at == SIZE_MAX && i >= 2 && low(i - 1) && high(i - 2)) at = i - 2;
    if (at == SIZE_MAX && high(end + 1) && low(end + 2)) at = end + 1;
    i = end;
  }
  if (at == SIZE_MAX || !low(at + 1)) return "";
  const char32_t c = 0x10000 + ((static_cast<char32_t>(p[at]) - 0xD800) << 10) +
                     (static_cast<char32_t>(p[at + 1]) - 0xDC00);
  std::string text = "'";
  common::AppendCodePoint(c, text);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return text + "' (" + code + ")";
}

bool BrokenDown(int64_t instant, bool utc, std::tm* tm) {
  const std::time_t t = static_cast<std::time_t>(instant);
  return (utc ? gmtime_r(&t, tm) : localtime_r(&t, tm)) != nullptr;
}

std::string DateText(int64_t year, int32_t month, int32_t day) {
  return std::to_string(month) + "/" + std::to_string(day) + "/" +
         std::to_string(year);
}

class Parser {
 public:
  Parser(std::string_view source, const WhereOptions& options)
      : source_(source), tokens_(Tokenize(source)), options_(options) {}

  CompiledWhere Parse() {
    if (Peek().kind == Kind::kEnd)
      throw SyntaxError(1, "the expression is empty");
    const Node root = Expression(0);
    if (Peek().kind == Kind::kClose)
      throw SyntaxError(Peek().column, "')' without a matching '('");
    if (Peek().kind != Kind::kEnd)
      throw SyntaxError(Peek().column,
                        "expected AND or OR before '" + Peek().text + "'");
    CompiledWhere result;
    Emit(root, false, result.lines);
    result.notes = std::move(notes_);
    return result;
  }

 private:
  // What a field's condition needs to know of the field.
  struct FieldRef {
    const Token* token;
    std::string name;
    int32_t type;  // -1: from the value
    ConditionLine base;
  };

  const Token& Peek(size_t ahead = 0) const {
    return tokens_[std::min(pos_ + ahead, tokens_.size() - 1)];
  }
  const Token& Take() { return tokens_[std::min(pos_++, tokens_.size() - 1)]; }
  size_t LastEnd() const { return pos_ == 0 ? 0 : tokens_[pos_ - 1].end; }
  static bool IsWord(const Token& t, const char* word) {
    return t.kind == Kind::kWord && common::EqualsNoCase(t.text, word);
  }
  static bool IsKeyword(const std::string& w) {
    for (const char* k : kKeywords)
      if (common::EqualsNoCase(w, k)) return true;
    return false;
  }

  Node Expression(int depth) {
    Node chain;
    chain.kind = Node::kChain;
    std::vector<std::pair<size_t, size_t>> spans;  // each term's source
    size_t start = Peek().column - 1;
    chain.items.push_back(Term(depth));
    spans.emplace_back(start, LastEnd());
    bool ands = false, ors = false;
    while (IsWord(Peek(), "AND") || IsWord(Peek(), "OR")) {
      int32_t link = IsWord(Take(), "AND") ? 0 : 1;
      if (IsWord(Peek(), "NOT")) {
        Take();
        link += 2;
      }
      (link & 1 ? ors : ands) = true;
      chain.links.push_back(link);
      start = Peek().column - 1;
      chain.items.push_back(Term(depth));
      spans.emplace_back(start, LastEnd());
    }
    if (ands && ors) NoteGrouping(chain.links, spans);
    if (chain.items.size() == 1) return std::move(chain.items[0]);
    return chain;
  }

  // The note on how a chain that mixes AND and OR is grouped.
  void NoteGrouping(const std::vector<int32_t>& links,
                    const std::vector<std::pair<size_t, size_t>>& spans) {
    static const char* kLinks[] = {"AND", "OR", "AND NOT", "OR NOT"};
    auto text = [this](const std::pair<size_t, size_t>& span) {
      return std::string(source_.substr(span.first, span.second - span.first));
    };
    std::string grouped = text(spans[0]);
    for (size_t i = 0; i < links.size(); ++i)
      grouped = "(" + grouped + " " + kLinks[links[i]] + " " +
                text(spans[i + 1]) + ")";
    notes_.push_back("evaluated left to right as " + grouped +
                     "; add brackets to silence this note");
  }

  Node Term(int depth) {
    bool negate = false;
    while (IsWord(Peek(), "NOT")) {
      Take();
      negate = !negate;
    }
    Node term;
    const Token& t = Peek();
    if (t.kind == Kind::kOpen) {
      if (depth >= 128)
        throw SyntaxError(t.column, "brackets nested too deeply");
      Take();
      if (Peek().kind == Kind::kClose)
        throw SyntaxError(Peek().column, "empty brackets");
      Node inner = Expression(depth + 1);
      if (Peek().kind != Kind::kClose)
        throw SyntaxError(Peek().column, Peek().kind == Kind::kEnd
                                             ? "missing ')'"
                                             : "expected AND, OR or ')'");
      Take();
      if (inner.kind == Node::kChain && !inner.bracketed) {
        term = std::move(inner);
      } else {
        term.kind = Node::kChain;
        term.items.push_back(std::move(inner));
      }
      term.bracketed = true;
    } else {
      term = Condition();
    }
    return negate ? Not(std::move(term)) : term;
  }

  Node Condition() {
    const Token& field = Take();
    FieldRef f{&field, field.text, -1, {}};
    if (field.kind != Kind::kField) {
      if (field.kind != Kind::kWord || IsKeyword(field.text))
        throw SyntaxError(field.column, field.kind == Kind::kEnd
                                            ? "expected a condition"
                                            : "expected a field name, found '" +
                                                  field.text + "'");
      if (const size_t colon = f.name.rfind(':'); colon != std::string::npos) {
        f.type = TypeFromName(std::string_view(f.name).substr(colon + 1));
        if (f.type < 0)
          throw SyntaxError(field.column + colon + 1,
                            "unknown type '" + f.name.substr(colon + 1) +
                                "'; accepted: numeric, text, date, time");
        f.name.resize(colon);
      }
      if (const size_t at = f.name.find('@'); at != std::string::npos) {
        f.base.has_tag = true;
        f.base.tag = common::ToUtf16(f.name.substr(at + 1));
        if (f.base.tag.empty())
          throw SyntaxError(field.column + at + 1, "empty tag name");
        f.name.resize(at);
      }
      if (f.name.empty()) throw SyntaxError(field.column, "empty field name");
    }
    f.base.field = common::ToUtf16(f.name);
    // A type given for the name as written first, else for it in another
    // case (a log may declare both "ID" and "id").
    if (f.type < 0) {
      if (const auto exact = options_.types.find(f.name);
          exact != options_.types.end())
        f.type = exact->second;
      else
        for (const auto& [key, t] : options_.types)
          if (common::EqualsNoCase(key, f.name)) f.type = t;
    }
    return Compare(f);
  }

  Node Compare(const FieldRef& f) {
    const Token& op = Take();
    if (op.kind == Kind::kOperator) return Ordered(f, op.text, Value(op));
    bool negate = false;
    const Token* word = &op;
    if (IsWord(op, "NOT")) {
      negate = true;
      word = &Take();
      if (!IsWord(*word, "LIKE") && !IsWord(*word, "CONTAINS") &&
          !IsWord(*word, "MATCHES") && !IsWord(*word, "IN") &&
          !IsWord(*word, "BETWEEN"))
        throw SyntaxError(word->column,
                          "expected LIKE, CONTAINS, MATCHES, IN or BETWEEN "
                          "after NOT");
    }
    Node node;
    if (IsWord(*word, "LIKE") || IsWord(*word, "CONTAINS") ||
        IsWord(*word, "MATCHES")) {
      const Token& v = Value(*word);
      ConditionLine line = f.base;
      line.op = IsWord(*word, "LIKE") ? kOpLike : kOpContains;
      line.matches = IsWord(*word, "MATCHES");
      node = Leaf(
          Made(std::move(line), v.text, f.type < 0 ? kTypeText : f.type, v));
      if (IsWord(*word, "LIKE"))
        if (const std::string wide = WideNextToWildcard(node.line.value);
            !wide.empty())
          notes_.push_back("LIKE '" + v.text +
                           "': ? and [sets] stand for one 16-bit code "
                           "unit, and " +
                           wide +
                           " next to one is two; write ?? where one "
                           "such character is meant");
    } else if (IsWord(*word, "IN")) {
      node = Peek().kind == Kind::kOpen ? List(f) : Period(f, *word);
    } else if (IsWord(*word, "BETWEEN")) {
      const Token& low = Value(*word);
      if (!IsWord(Peek(), "AND"))
        throw SyntaxError(Peek().column, "expected AND in BETWEEN ... AND ...");
      const Token& and_word = Take();
      const Token& high = Value(and_word);
      node = Between(f, low, high);
    } else if (IsWord(*word, "SINCE")) {
      const Token& v = Value(*word);
      std::string date, time;
      if ((f.type >= 0 && f.type != kTypeDate) ||
          !(LooksLikeDate(v.text) || SplitTimestamp(v.text, &date, &time)))
        throw SyntaxError(v.column,
                          "SINCE takes a date (2026-12-08) or a timestamp "
                          "('2026-12-08 22:00') on a date field");
      node = Ordered(f, ">=", v);
    } else {
      throw SyntaxError(op.column,
                        "expected an operator (=, !=, <, <=, >, >=, LIKE, "
                        "CONTAINS, MATCHES, IN, BETWEEN, SINCE) after '" +
                            f.token->text + "'");
    }
    return negate ? Not(std::move(node)) : node;
  }

  // BETWEEN low AND high, both included. A time range that wraps midnight
  // (22:00 AND 6:00) is the night: from low to midnight, or from midnight
  // to high. Any other range whose low lies above its high holds nothing
  // and is refused.
  Node Between(const FieldRef& f, const Token& low, const Token& high) {
    Node lower = Ordered(f, ">=", low);
    Node upper = Ordered(f, "<=", high);
    const int32_t type =
        lower.kind == Node::kLeaf ? lower.line.type : kTypeDate;  // a timestamp
    const std::optional<int> order = OrderOfValues(type, low.text, high.text);
    if (!order || *order <= 0)
      return Pair(std::move(lower), 0, std::move(upper));
    if (type == kTypeTime) return Pair(std::move(lower), 1, std::move(upper));
    throw SyntaxError(low.column, "BETWEEN " + low.text + " AND " + high.text +
                                      " holds nothing: its first value lies "
                                      "above the second; write BETWEEN " +
                                      high.text + " AND " + low.text);
  }

  // The value token after `after`.
  const Token& Value(const Token& after) {
    const Token& v = Take();
    if (v.kind != Kind::kWord && v.kind != Kind::kString)
      throw SyntaxError(v.column,
                        "expected a value after '" + after.text + "'");
    return v;
  }

  // The line of `line` with `value` as a `type` value, checked.
  static ConditionLine Made(ConditionLine line, const std::string& value,
                            int32_t type, const Token& at) {
    // Bytes that are no UTF-8 stay themselves, as in the cells they are
    // compared with.
    line.value.clear();
    common::AppendUtf16Marked(value, line.value, true);
    line.type = static_cast<FieldType>(type);
    if (const auto problem = PrepareValue(line))
      throw SyntaxError(at.column, *problem);
    return line;
  }

  // A line of `f` with the written operator `o` (=, ==, !=, <>, <, <=, >,
  // >=). The module has =, < and >; the others are their negations, marked
  // inverted so that a missing value decides them as written.
  static ConditionLine Operator(const FieldRef& f, const std::string& o) {
    ConditionLine line = f.base;
    line.op = o == "=" || o == "==" || o == "!=" || o == "<>" ? kOpEquals
              : o == "<" || o == ">="                         ? kOpLess
                                                              : kOpGreater;
    if (o == ">=" || o == "<=" || o == "!=" || o == "<>") {
      line.inverted = true;
      line.negate = true;
    }
    return line;
  }

  // A comparison of `f` with the value `v` under the written operator `o`.
  Node Ordered(const FieldRef& f, const std::string& o, const Token& v) {
    std::string date, time;
    if ((f.type < 0 || f.type == kTypeDate) &&
        SplitTimestamp(v.text, &date, &time))
      return Timestamp(f, o, date, time, v);
    const bool ordering = o != "=" && o != "==" && o != "!=" && o != "<>";
    if (f.type < 0 && v.kind == Kind::kWord) {
      if (v.text.find(',') != std::string::npos)
        throw SyntaxError(
            v.column, "'" + v.text +
                          "' is one value with commas in it; to match any of "
                          "several values write " +
                          f.token->text + " IN (" + Listed(v.text) +
                          "), to compare the text quote it");
      if (Infer(v.text) == kTypeText && HasExponent(v.text))
        throw SyntaxError(v.column,
                          "'" + v.text +
                              "' has an exponent, which values of "
                              "expressions cannot carry; write it in digits");
      if (ordering && Infer(v.text) == kTypeText)
        throw SyntaxError(
            v.column,
            "'" + v.text + "' is no number, date, time or timestamp, which " +
                o +
                " compares: numbers as 4625 or -1.5, dates as 2026-12-08 "
                "or 12/8/2026, times as 22:00 or 9:30 PM, timestamps as "
                "'2026-12-08 22:00'; for the records of a recent period "
                "write IN LAST 24 HOURS or SINCE '2026-12-08 22:00'; to "
                "order texts, quote the value or write " +
                f.name + ":text");
    }
    const int32_t type = f.type >= 0 ? f.type : Infer(v.text);
    return Leaf(Made(Operator(f, o), v.text, type, v));
  }

  // True for a number with an exponent, as 1e9 or -2.5E-3.
  static bool HasExponent(const std::string& text) {
    const size_t e = text.find_first_of("eE");
    if (e == std::string::npos || e == 0 || e + 1 >= text.size()) return false;
    std::string_view exponent = std::string_view(text).substr(e + 1);
    if (exponent[0] == '+' || exponent[0] == '-') exponent.remove_prefix(1);
    return LooksNumeric(text.substr(0, e)) && !exponent.empty() &&
           exponent.find_first_not_of("0123456789") == std::string_view::npos;
  }

  // "4624,4625" as "4624, 4625".
  static std::string Listed(const std::string& text) {
    std::string out;
    for (const char c : text) {
      if (c == ',') {
        out += ", ";
      } else {
        out.push_back(c);
      }
    }
    return out;
  }

  // A timestamp comparison on the date and time of one field.
  Node Timestamp(const FieldRef& f, const std::string& o,
                 const std::string& date, const std::string& time,
                 const Token& at) {
    auto date_line = [&](const char* op) {
      return Leaf(Made(Operator(f, op), date, 2, at));
    };
    auto time_line = [&](const std::string& op) {
      return Leaf(Made(Operator(f, op), time, 3, at));
    };
    if (o == "=" || o == "==") return Pair(date_line("="), 0, time_line("="));
    if (o == "!=" || o == "<>")
      return Pair(date_line("!="), 1, time_line("!="));
    const char* strict = o[0] == '<' ? "<" : ">";
    return Pair(date_line(strict), 1, Pair(date_line("="), 0, time_line(o)));
  }

  // IN (a, b, ...): a bracketed OR of equals lines.
  Node List(const FieldRef& f) {
    const Token& open = Take();
    // The values, with commas in bare words (a,b) and between tokens.
    std::vector<Token> values;
    bool want_value = true;
    for (;;) {
      const Token& t = Take();
      if (t.kind == Kind::kClose) {
        if (want_value)
          throw SyntaxError(t.column, values.empty()
                                          ? "IN () needs at least one value"
                                          : "expected a value after ','");
        break;
      }
      if (t.kind == Kind::kString) {
        if (!want_value)
          throw SyntaxError(t.column, "expected ',' or ')' in the IN list");
        values.push_back(t);
        want_value = false;
        continue;
      }
      if (t.kind != Kind::kWord)
        throw SyntaxError(t.kind == Kind::kEnd ? open.column : t.column,
                          t.kind == Kind::kEnd
                              ? "missing ')' of the IN list"
                              : "expected a value, ',' or ')' in the IN list");
      size_t i = 0;
      while (i <= t.text.size()) {
        const size_t comma = std::min(t.text.find(',', i), t.text.size());
        if (comma > i) {
          if (!want_value)
            throw SyntaxError(t.column + i,
                              "expected ',' or ')' in the IN list");
          Token v = t;
          v.text = t.text.substr(i, comma - i);
          v.column = t.column + i;
          values.push_back(std::move(v));
          want_value = false;
        }
        if (comma < t.text.size()) {
          if (want_value)
            throw SyntaxError(t.column + comma, "expected a value before ','");
          want_value = true;
        }
        i = comma + 1;
      }
    }
    FieldRef typed = f;
    if (typed.type < 0) {
      typed.type = Infer(values[0].text);
      for (const Token& v : values)
        if (Infer(v.text) != typed.type) typed.type = kTypeText;
    }
    Node chain;
    chain.kind = Node::kChain;
    chain.bracketed = values.size() > 1;
    for (const Token& v : values) {
      if (!chain.items.empty()) chain.links.push_back(1);
      chain.items.push_back(Ordered(typed, "=", v));
    }
    if (chain.items.size() == 1) return std::move(chain.items[0]);
    return chain;
  }

  // A period after IN: the module's five named periods (LAST 30 CALENDAR
  // DAYS for its LAST 30 DAYS), the relative ones fixed to dates and times
  // now.
  Node Period(const FieldRef& f, const Token& op) {
    const Token& first = Peek();
    if (f.type >= 0 && f.type != kTypeDate)
      throw SyntaxError(
          first.column,
          "a period (IN) needs a date field; this one is " + TypeName(f.type));
    if (std::optional<Node> named = NamedPeriod(f)) return std::move(*named);
    const int64_t now = options_.now ? *options_.now : std::time(nullptr);
    FieldRef dated = f;
    dated.type = kTypeDate;
    if (IsWord(Peek(), "LAST") && Peek(1).kind == Kind::kWord &&
        (IsWord(Peek(2), "DAYS") || IsWord(Peek(2), "HOURS") ||
         IsWord(Peek(2), "DAY") || IsWord(Peek(2), "HOUR")))
      return LastHoursOrDays(dated, now);
    if ((IsWord(Peek(), "LAST") || IsWord(Peek(), "THIS")) &&
        IsWord(Peek(1), "WEEK"))
      return Week(dated, now);
    throw SyntaxError(
        first.kind == Kind::kEnd ? op.column : first.column,
        "expected a list or a period after IN: (a, b, ...), " + PeriodList());
  }

  // One of the module's named periods, quoted or written in words; nothing
  // (and nothing taken) when the next tokens are none.
  std::optional<Node> NamedPeriod(const FieldRef& f) {
    const Token& first = Peek();
    auto named = [&](const std::string& period) {
      ConditionLine line = f.base;
      line.op = kOpNamedPeriod;
      return Leaf(Made(std::move(line), period, kTypeDate, first));
    };
    if (first.kind == Kind::kString) {
      // Quoted, the module's own keywords; only its LAST 30 DAYS would
      // read as two things.
      if (common::EqualsNoCase(first.text, "LAST 30 DAYS"))
        throw SyntaxError(first.column,
                          "write LAST 30 DAYS for the 30 x 24 hours back from "
                          "now, or LAST 30 CALENDAR DAYS for the module's "
                          "period from midnight 30 days ago");
      Take();
      return named(first.text);
    }
    if (IsWord(Peek(), "LAST") && IsWord(Peek(2), "CALENDAR") &&
        Peek(1).text != "30")
      throw SyntaxError(Peek(1).column,
                        "the module's calendar period is LAST 30 CALENDAR "
                        "DAYS; for another number write LAST n DAYS (n x 24 "
                        "hours back from now)");
    for (const auto& [written, period] : kPeriods) {
      std::vector<std::string> words;
      std::string_view rest(written);
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
        return named(period);
      }
    }
    return std::nullopt;
  }

  // LAST n DAYS or LAST n HOURS: from n x 24 hours (or n hours) before
  // `now` on.
  Node LastHoursOrDays(const FieldRef& dated, int64_t now) {
    const Token& first = Peek();
    const Token& count = Peek(1);
    const bool days = IsWord(Peek(2), "DAYS") || IsWord(Peek(2), "DAY");
    const int64_t limit = days ? 36500 : 876000;
    int64_t n = 0;
    for (const char c : count.text) {
      if (c < '0' || c > '9' || n > limit) {
        n = -1;
        break;
      }
      n = n * 10 + (c - '0');
    }
    if (n < 1 || n > limit)
      throw SyntaxError(count.column, "LAST n " + Peek(2).text +
                                          " takes a whole number from 1 to " +
                                          std::to_string(limit));
    pos_ += 3;
    std::tm tm{};
    if (!BrokenDown(now - n * (days ? 86400 : 3600), options_.utc, &tm))
      throw SyntaxError(first.column, "the clock's time cannot be read");
    const std::string since_date =
        DateText(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const std::string since_time =
        std::to_string(tm.tm_hour) + ":" + (tm.tm_min < 10 ? "0" : "") +
        std::to_string(tm.tm_min) + ":" + (tm.tm_sec < 10 ? "0" : "") +
        std::to_string(tm.tm_sec);
    return Timestamp(dated, ">=", since_date, since_time, first);
  }

  // THIS WEEK or LAST WEEK: Monday to Sunday, by the dates of `now`.
  Node Week(const FieldRef& dated, int64_t now) {
    const Token& first = Peek();
    const bool last = IsWord(Peek(), "LAST");
    pos_ += 2;
    std::tm tm{};
    if (!BrokenDown(now, options_.utc, &tm))
      throw SyntaxError(first.column, "the clock's time cannot be read");
    const int64_t today =
        common::DaysFromCivil(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    const int64_t monday = today - (tm.tm_wday + 6) % 7 - (last ? 7 : 0);
    auto date_of = [](int64_t days) {
      int64_t y = 0;
      int32_t m = 0, d = 0;
      common::CivilFromDays(days, &y, &m, &d);
      return DateText(y, m, d);
    };
    return Pair(
        Leaf(Made(Operator(dated, ">="), date_of(monday), kTypeDate, first)), 0,
        Leaf(Made(Operator(dated, "<="), date_of(monday + 6), kTypeDate,
                  first)));
  }

  // Every period IN takes, for a message: "TODAY, ..., LAST WEEK or THIS
  // WEEK".
  static std::string PeriodList() {
    std::string periods;
    for (const auto& p : kPeriods) periods += std::string(p.written) + ", ";
    for (const char* p : kRelativePeriods)
      periods +=
          std::string(p) +
          (p == kRelativePeriods[std::size(kRelativePeriods) - 2] ? " or "
                                                                  : ", ");
    periods.resize(periods.size() - 2);
    return periods;
  }

  // A value that is meant as a number, date or time gives its field that
  // type, and is then checked in full: a malformed date is an error, not a
  // text that compares as nothing.
  static FieldType Infer(const std::string& value) {
    if (IsPeriodKeyword(value)) return kTypeDate;
    if (LooksNumeric(value)) return kTypeNumeric;
    if (LooksLikeDate(value)) return kTypeDate;
    if (LooksLikeTime(value)) return kTypeTime;
    return kTypeText;
  }

  static std::string TypeName(int32_t type) {
    static const char* kNames[] = {"numeric", "text", "a date", "a time"};
    return type >= 0 && type <= 3 ? kNames[type] : std::to_string(type);
  }

  std::string_view source_;
  std::vector<Token> tokens_;
  const WhereOptions& options_;
  size_t pos_ = 0;
  std::vector<std::string> notes_;
};

}  // namespace

std::vector<std::string> ExpressionWords() {
  std::vector<std::string> words(std::begin(kKeywords), std::end(kKeywords));
  for (const auto& p : kPeriods) words.emplace_back(p.written);
  for (const char* p : kRelativePeriods) words.emplace_back(p);
  return words;
}

int32_t TypeFromName(std::string_view name) {
  const char* kNames[] = {"numeric", "text", "date", "time"};
  for (int32_t i = 0; i < 4; ++i)
    if (common::EqualsNoCase(name, kNames[i])) return i;
  return -1;
}

CompiledWhere CompileWhere(std::string_view expression,
                           const WhereOptions& options) {
  return Parser(expression, options).Parse();
}

std::vector<ConditionLine> CompileWhere(std::string_view expression,
                                        const TypeOverrides& types) {
  WhereOptions options;
  options.types = types;
  return CompileWhere(expression, options).lines;
}

void AddDeclaredTypes(
    const std::vector<std::pair<std::string, std::string>>& declared,
    TypeOverrides& types) {
  TypeOverrides added;
  for (const auto& [name, type_name] : declared) {
    const int32_t type = TypeFromName(type_name);
    bool given = type < 0;
    for (const auto& [field, t] : types)
      given = given || common::EqualsNoCase(field, name);
    if (!given) added.emplace(name, type);
  }
  types.merge(added);
}

}  // namespace eventquery
