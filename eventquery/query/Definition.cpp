#include "query/Definition.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>
#include <optional>

#include "common/Ascii.h"
#include "common/Utf8.h"
#include "query/ValueForms.h"

namespace eventquery {
namespace {

using nlohmann::json;

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return s;
}

[[noreturn]] void Fail(size_t line, const std::string& what) {
  throw DefinitionError("line " + std::to_string(line + 1) + ": " + what);
}

// A code given by name (from `names`, any case) or as a number.
int32_t Code(const json& v, size_t line, const char* key,
             const std::vector<std::string>& names, const char* accepted) {
  if (v.is_number_integer()) {
    const auto n = v.get<int64_t>();
    if (n < INT32_MIN || n > INT32_MAX)
      Fail(line, std::string(key) + " out of range");
    return static_cast<int32_t>(n);
  }
  if (!v.is_string())
    Fail(line, std::string(key) +
                   " must be a name or a number; accepted: " + accepted);
  const std::string name = Lower(v.get<std::string>());
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == name) return static_cast<int32_t>(i);
  Fail(line, "unknown " + std::string(key) + " '" + v.get<std::string>() +
                 "'; accepted: " + accepted);
}

int32_t Count(const json& v, size_t line, const char* key) {
  if (!v.is_number_integer())
    Fail(line, std::string(key) + " must be a whole number");
  const auto n = v.get<int64_t>();
  if (n < INT32_MIN || n > INT32_MAX)
    Fail(line, std::string(key) + " out of range");
  return static_cast<int32_t>(n);
}

std::u16string Text(const json& v, size_t line, const char* key) {
  if (v.is_string()) return common::ToUtf16(v.get<std::string>());
  if (v.is_number()) return common::ToUtf16(v.dump());
  Fail(line, std::string(key) + " must be a text or a number");
}

const std::vector<std::string> kOperators = {"=", "like", "contains",
                                             "<", ">",    "period"};
const std::vector<std::string> kTypes = {"numeric", "text", "date", "time"};
const std::vector<std::string> kLinks = {"and", "or", "and not", "or not"};

// The module's operator for a negated one (">=" is NOT "<"), or nothing.
std::optional<int32_t> NegatedOperator(const json& v) {
  if (!v.is_string()) return std::nullopt;
  const std::string& name = v.get_ref<const std::string&>();
  if (name == ">=") return 3;
  if (name == "<=") return 4;
  if (name == "!=" || name == "<>") return 0;
  return std::nullopt;
}

// The value as written: a time's fraction of a second, which the line
// keeps apart, back before its AM or PM ("12:30:15.5 PM").
std::string WrittenValue(const ConditionLine& line) {
  std::string value = common::ToUtf8(line.value);
  if (line.type != kTypeTime || line.nanoseconds == 0) return value;
  std::string fraction = std::to_string(1000000000 + line.nanoseconds);
  fraction[0] = '.';
  while (fraction.back() == '0') fraction.pop_back();
  const size_t marker = value.find(' ');
  value.insert(marker == std::string::npos ? value.size() : marker, fraction);
  return value;
}

// The operator as written: a negated one for an inverted line.
std::string WrittenOperator(const ConditionLine& line) {
  if (line.matches) return "matches";
  if (line.inverted && line.op == kOpLess) return ">=";
  if (line.inverted && line.op == kOpGreater) return "<=";
  if (line.inverted && line.op == kOpEquals) return "!=";
  return Lower(OperatorName(line.op));
}

}  // namespace

std::vector<ConditionLine> ParseDefinition(std::string_view text) {
  json doc;
  try {
    doc = json::parse(text.begin(), text.end());
  } catch (const json::exception& e) {
    // Syntax errors, and numbers too large for any type (out_of_range).
    throw DefinitionError(std::string("not valid JSON: ") + e.what());
  }
  if (!doc.is_object() || !doc.contains("lines") || !doc["lines"].is_array())
    throw DefinitionError("expected an object with a \"lines\" array");
  std::vector<ConditionLine> lines;
  const json& array = doc["lines"];
  for (size_t i = 0; i < array.size(); ++i) {
    const json& item = array[i];
    if (!item.is_object()) Fail(i, "must be an object");
    ConditionLine line;
    for (const auto& [key, value] : item.items()) {
      if (key == "field") {
        line.field = Text(value, i, "field");
      } else if (key == "operator") {
        if (const auto negated = NegatedOperator(value)) {
          line.op = static_cast<FieldOperator>(*negated);
          line.inverted = true;
        } else if (value == "==") {
          line.op = kOpEquals;
        } else if (value.is_string() &&
                   Lower(value.get<std::string>()) == "matches") {
          line.op = kOpContains;
          line.matches = true;
        } else {
          line.op = static_cast<FieldOperator>(
              Code(value, i, "operator", kOperators,
                   "=, ==, !=, <>, like, contains, matches, <, <=, >, "
                   ">=, period, or a code 0..5"));
        }
      } else if (key == "value") {
        line.value = Text(value, i, "value");
      } else if (key == "type") {
        line.type = static_cast<FieldType>(
            Code(value, i, "type", kTypes,
                 "numeric, text, date, time, or a code 0..3"));
      } else if (key == "open") {
        line.open = Count(value, i, "open");
      } else if (key == "close") {
        line.close = Count(value, i, "close");
      } else if (key == "not") {
        if (!value.is_boolean()) Fail(i, "not must be true or false");
        line.negate = value.get<bool>();
      } else if (key == "tag") {
        line.tag = Text(value, i, "tag");
        line.has_tag = true;
      } else if (key == "link") {
        line.link = static_cast<LineLinkOperator>(
            Code(value, i, "link", kLinks,
                 "AND, OR, AND NOT, OR NOT, or a code 0..3"));
      } else {
        Fail(i, "unknown key '" + key +
                    "'; accepted: field, operator, value, type, open, close, "
                    "not, tag, link");
      }
    }
    if (!item.contains("field")) Fail(i, "has no field");
    // "not" applies to the operator as written; the line is its negation.
    if (line.inverted) line.negate = !line.negate;
    // Codes the module does not know would only show up as error lines in
    // its log for every row; refuse them here.
    if (line.op < kOpEquals || line.op > kOpNamedPeriod)
      Fail(i, "operator " + std::to_string(line.op) +
                  " is not one the module knows (0..5)");
    if (line.type < kTypeNumeric || line.type > kTypeTime)
      Fail(i, "type " + std::to_string(line.type) +
                  " is not one the module knows (0..3)");
    if (line.link < kLinkAnd || line.link > kLinkOrNot)
      Fail(i, "link " + std::to_string(line.link) +
                  " is not one the module knows (0..3)");
    if (line.open < 0 || line.close < 0)
      Fail(i, "bracket counts cannot be negative");
    if (const auto problem = PrepareValue(line))
      Fail(i, "field '" + common::ToUtf8(line.field) + "': " + *problem);
    lines.push_back(std::move(line));
  }
  // Brackets must pair up, or the module would build another filter than
  // the one written.
  int64_t depth = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    depth += lines[i].open;
    depth -= lines[i].close;
    if (depth < 0) Fail(i, "closes a bracket that was not opened");
  }
  if (depth > 0)
    throw DefinitionError(std::to_string(depth) +
                          " bracket(s) opened and never closed");
  return lines;
}

std::string OperatorName(int32_t op) {
  static const char* kNames[] = {"=", "LIKE", "CONTAINS", "<", ">", "PERIOD"};
  return op >= 0 && op <= 5 ? kNames[op] : std::to_string(op);
}

std::string TypeName(int32_t type) {
  return type >= 0 && type <= 3 ? kTypes[static_cast<size_t>(type)]
                                : std::to_string(type);
}

std::string LinkName(int32_t link) {
  static const char* kNames[] = {"AND", "OR", "AND NOT", "OR NOT"};
  return link >= 0 && link <= 3 ? kNames[link] : std::to_string(link);
}

namespace {

// A field as an expression names it: bare, or backquoted.
std::string FieldText(const std::string& name) {
  bool bare = !name.empty();
  for (const char c : name)
    bare = bare && (std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
                    c == '.' || c == '-' || c == '$' ||
                    static_cast<unsigned char>(c) >= 0x80);
  if (bare) return name;
  std::string out = "`";
  for (const char c : name) out += c == '`' ? "``" : std::string(1, c);
  return out + "`";
}

std::string Quoted(const std::string& value) {
  std::string out = "'";
  for (const char c : value) out += c == '\'' ? "''" : std::string(1, c);
  return out + "'";
}

std::string ConditionText(const ConditionLine& line) {
  std::string out = line.negate != line.inverted ? "NOT " : "";
  out += FieldText(common::ToUtf8(line.field));
  if (line.has_tag) out += "@" + common::ToUtf8(line.tag);
  const std::string value = WrittenValue(line);
  if (line.op == kOpNamedPeriod) {
    const bool calendar = common::EqualsNoCase(value, "LAST 30 DAYS");
    return out + " IN " + (calendar ? "LAST 30 CALENDAR DAYS" : value);
  }
  std::string op = line.op >= kOpEquals && line.op <= kOpGreater
                       ? WrittenOperator(line)
                       : "<operator " + std::to_string(line.op) + ">";
  for (char& c : op) c = static_cast<char>(std::toupper(c));
  return out + " " + op + " " +
         (line.type == kTypeNumeric ? value : Quoted(value));
}

}  // namespace

std::string ExpressionText(const std::vector<ConditionLine>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    const ConditionLine& line = lines[i];
    out.append(static_cast<size_t>(std::max(line.open, 0)), '(');
    out += ConditionText(line);
    out.append(static_cast<size_t>(std::max(line.close, 0)), ')');
    if (i + 1 < lines.size())
      out += line.link >= kLinkAnd && line.link <= kLinkOrNot
                 ? " " + LinkName(line.link) + " "
                 : " <link " + std::to_string(line.link) + "> ";
  }
  return out;
}

std::string DefinitionToJson(const std::vector<ConditionLine>& lines) {
  json array = json::array();
  for (const ConditionLine& line : lines) {
    json item = json::object();
    item["field"] = common::ToUtf8(line.field);
    if (line.op >= kOpEquals && line.op <= kOpNamedPeriod)
      item["operator"] = WrittenOperator(line);
    else
      item["operator"] = line.op;
    item["value"] = WrittenValue(line);
    if (line.type >= kTypeNumeric && line.type <= kTypeTime)
      item["type"] = TypeName(line.type);
    else
      item["type"] = line.type;
    if (line.open != 0) item["open"] = line.open;
    if (line.close != 0) item["close"] = line.close;
    if (line.negate != line.inverted) item["not"] = true;
    if (line.has_tag) item["tag"] = common::ToUtf8(line.tag);
    if (line.link >= kLinkAnd && line.link <= kLinkOrNot)
      item["link"] = LinkName(line.link);
    else
      item["link"] = line.link;
    array.push_back(std::move(item));
  }
  json doc = json::object();
  doc["lines"] = std::move(array);
  return doc.dump(2);
}

}  // namespace eventquery
