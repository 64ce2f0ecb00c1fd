// Compiling rule documents: YAML to a tree of conditions (RuleTree) to the
// module's lines, with the conditions the host decides set apart.

#include <re2/re2.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/yaml.h>

#include <arpa/inet.h>
#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <sstream>

#include "Condition.h"
#include "FieldMappings.h"
#include "RuleTree.h"
#include "SigmaValue.h"
#include "Taxonomy.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {
namespace {

// The field a keyword line names: no column is called so.
constexpr char kAnyField[] = "(any field)";

bool IsNumber(std::string_view s) {
  size_t i = !s.empty() && s[0] == '-' ? 1 : 0;
  bool digits = false, point = false;
  for (; i < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      digits = true;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  return digits;
}

std::optional<IpNetwork> ParseNetwork(const std::string& text) {
  const size_t slash = text.find('/');
  const std::string address = text.substr(0, slash);
  IpNetwork n;
  n.v6 = address.find(':') != std::string::npos;
  if (inet_pton(n.v6 ? AF_INET6 : AF_INET, address.c_str(), n.address) != 1)
    return std::nullopt;
  const int bits = n.v6 ? 128 : 32;
  n.prefix = bits;
  if (slash != std::string::npos) {
    const std::string p = text.substr(slash + 1);
    if (p.empty() || p.size() > 3 ||
        p.find_first_not_of("0123456789") != std::string::npos)
      return std::nullopt;
    n.prefix = std::stoi(p);
    if (n.prefix > bits) return std::nullopt;
  }
  return n;
}

struct Modifiers {
  enum Match { kPlain, kContains, kStartsWith, kEndsWith };
  // Transformations of the written value.
  enum Transform {
    kWindash,
    kBase64,
    kBase64Offset,
    kUtf16Le,
    kUtf16Be,
    kUtf16
  };
  Match match = kPlain;
  bool all = false, neq = false, cased = false, expand = false;
  bool re = false, re_i = false, re_m = false, re_s = false;
  bool cidr = false, exists = false, fieldref = false;
  int compare = -1;  // 0 lt, 1 lte, 2 gt, 3 gte
  // Transformations in the order written.
  std::vector<Transform> transforms;
  bool Typed() const {
    return re || cidr || exists || fieldref || compare >= 0;
  }
};

// The modifiers the compiler takes, one row each. A match modifier says
// how the value is found in the field (one per field); a typed one makes
// the condition something other than a text match (one per field, with
// no match modifier or transformation beside it); a transformation
// rewrites the value, in the order written; a flag changes how the values
// combine or compare; a regular-expression flag needs `re`. `cased`
// applies to text matches and fieldref only.
struct ModifierRow {
  const char* name;
  enum Kind { kMatch, kTyped, kTransform, kFlag, kRegexFlag, kCompare } kind;
  int code;               // the Match, Transform or comparison
  bool Modifiers::*flag;  // kFlag, kTyped, kRegexFlag: the flag it sets
};

constexpr ModifierRow kModifierTable[] = {
    {"contains", ModifierRow::kMatch, Modifiers::kContains, nullptr},
    {"startswith", ModifierRow::kMatch, Modifiers::kStartsWith, nullptr},
    {"endswith", ModifierRow::kMatch, Modifiers::kEndsWith, nullptr},
    {"all", ModifierRow::kFlag, 0, &Modifiers::all},
    {"neq", ModifierRow::kFlag, 0, &Modifiers::neq},
    {"cased", ModifierRow::kFlag, 0, &Modifiers::cased},
    {"expand", ModifierRow::kFlag, 0, &Modifiers::expand},
    {"re", ModifierRow::kTyped, 0, &Modifiers::re},
    {"cidr", ModifierRow::kTyped, 0, &Modifiers::cidr},
    {"exists", ModifierRow::kTyped, 0, &Modifiers::exists},
    {"fieldref", ModifierRow::kTyped, 0, &Modifiers::fieldref},
    {"i", ModifierRow::kRegexFlag, 0, &Modifiers::re_i},
    {"m", ModifierRow::kRegexFlag, 0, &Modifiers::re_m},
    {"s", ModifierRow::kRegexFlag, 0, &Modifiers::re_s},
    {"lt", ModifierRow::kCompare, 0, nullptr},
    {"lte", ModifierRow::kCompare, 1, nullptr},
    {"gt", ModifierRow::kCompare, 2, nullptr},
    {"gte", ModifierRow::kCompare, 3, nullptr},
    {"windash", ModifierRow::kTransform, Modifiers::kWindash, nullptr},
    {"base64", ModifierRow::kTransform, Modifiers::kBase64, nullptr},
    {"base64offset", ModifierRow::kTransform, Modifiers::kBase64Offset,
     nullptr},
    {"utf16le", ModifierRow::kTransform, Modifiers::kUtf16Le, nullptr},
    {"wide", ModifierRow::kTransform, Modifiers::kUtf16Le, nullptr},
    {"utf16be", ModifierRow::kTransform, Modifiers::kUtf16Be, nullptr},
    {"utf16", ModifierRow::kTransform, Modifiers::kUtf16, nullptr},
};

Modifiers ParseModifiers(const std::vector<std::string>& words) {
  Modifiers m;
  for (const std::string& w : words) {
    const ModifierRow* row = nullptr;
    for (const ModifierRow& r : kModifierTable)
      if (w == r.name) row = &r;
    if (row == nullptr)
      throw Unsupported("modifier '" + w + "' is not supported");
    switch (row->kind) {
      case ModifierRow::kMatch:
        if (m.match != Modifiers::kPlain)
          throw Unsupported("modifier '" + w + "' after another of its kind");
        m.match = static_cast<Modifiers::Match>(row->code);
        break;
      case ModifierRow::kRegexFlag:
        if (!m.re) throw Unsupported("modifier '" + w + "' without 're'");
        m.*(row->flag) = true;
        break;
      case ModifierRow::kFlag:
      case ModifierRow::kTyped:
        m.*(row->flag) = true;
        break;
      case ModifierRow::kCompare:
        if (m.compare >= 0) throw Unsupported("two comparison modifiers");
        m.compare = row->code;
        break;
      case ModifierRow::kTransform:
        m.transforms.push_back(static_cast<Modifiers::Transform>(row->code));
        break;
    }
  }
  const int typed = m.re + m.cidr + m.exists + m.fieldref + (m.compare >= 0);
  if (typed > 1 ||
      (typed == 1 && (m.match != Modifiers::kPlain || !m.transforms.empty())))
    throw Unsupported("modifiers '" + [&] {
      std::string s;
      for (const std::string& w : words) s += (s.empty() ? "" : "|") + w;
      return s;
    }() + "' cannot be combined");
  if (m.cased && typed == 1 && !m.fieldref)
    throw Unsupported("'cased' with a modifier it does not apply to");
  return m;
}

class Compiler {
 public:
  Compiler(const YAML::Node& doc, RuleMeta& meta, const CompileOptions& o)
      : doc_(doc), meta_(meta), options_(o) {}

  CompiledRule Compile() {
    const YAML::Node detection = doc_["detection"];
    if (!detection || !detection.IsMap())
      throw Unsupported("the rule has no detection map");
    const YAML::Node condition = detection["condition"];
    if (!condition) throw Unsupported("the detection has no condition");
    condition_.reset(condition);
    for (const auto& item : detection) {
      const std::string key = item.first.Scalar();
      if (key == "condition") continue;
      if (key == "timeframe")
        throw Unsupported("'timeframe' (a correlation) is not supported");
      identifiers_.push_back(key);
      definitions_.push_back(item.second);
    }
    CompiledRule rule;
    std::vector<Node> all;
    const SourceConditions source =
        MapLogSource(meta_.product, meta_.category, meta_.service);
    if (!source.unmapped.empty())
      rule.notes.push_back(source.unmapped +
                           (source.partly
                                ? ": the rule is run on every event of the "
                                  "service's channel"
                                : ": the rule is run on every event"));
    if (!source.channels.empty()) {
      std::vector<Node> any;
      for (const std::string& c : source.channels)
        any.push_back(Line("Channel", kOpEquals, c, kTypeText));
      all.push_back(Group(Node::kOr, std::move(any)));
    }
    if (!source.event_ids.empty()) {
      std::vector<Node> any;
      for (int id : source.event_ids)
        any.push_back(
            Line("EventID", kOpEquals, std::to_string(id), kTypeText));
      all.push_back(Group(Node::kOr, std::move(any)));
    }
    all.push_back(Logic());
    rule.lines = Write(Group(Node::kAnd, std::move(all)), rule.checks);
    rule.meta = meta_;
    // A rule that names Sysmon's service wants Sysmon's events only.
    if (common::EqualsNoCase(meta_.product, "windows") && meta_.service.empty())
      for (const FieldMapping* m : MappingsOf(meta_.category))
        rule.mapped.push_back(CompileMapped(*m));
    return rule;
  }

 private:
  // The detection's conditions (an OR of a list's), with the fields the
  // current mapping gives.
  Node Logic() {
    auto selection = [this](const std::string& id) {
      for (size_t i = 0; i < identifiers_.size(); ++i)
        if (identifiers_[i] == id) return Selection(definitions_[i], id);
      throw Unsupported("no search identifier '" + id + "'");
    };
    std::vector<Node> alternatives;
    if (condition_.IsSequence()) {
      for (const auto& c : condition_) {
        if (!c.IsScalar()) throw Unsupported("a condition that is no text");
        alternatives.push_back(
            ParseCondition(c.Scalar(), identifiers_, selection));
      }
      if (alternatives.empty()) throw Unsupported("an empty condition list");
    } else if (condition_.IsScalar()) {
      alternatives.push_back(
          ParseCondition(condition_.Scalar(), identifiers_, selection));
    } else {
      throw Unsupported("a condition that is no text");
    }
    return Group(Node::kOr, std::move(alternatives));
  }

  // The lines of `root`, with the host checks made for it (which are
  // taken) in line order.
  std::vector<ConditionLine> Write(const Node& root,
                                   std::vector<HostCheck>& checks) {
    // A field the mapping cannot give is false with its NOT too: its
    // check answers what its NOT turns to false.
    SetUnmapped(root);
    std::vector<size_t> host_line;
    std::vector<ConditionLine> lines = WriteLines(root, host_line);
    for (size_t i = 0; i < checks_.size(); ++i) checks_[i].line = host_line[i];
    std::sort(
        checks_.begin(), checks_.end(),
        [](const HostCheck& a, const HostCheck& b) { return a.line < b.line; });
    checks = std::move(checks_);
    checks_.clear();
    return lines;
  }

  void SetUnmapped(const Node& node) {
    if (node.kind != Node::kLeaf) {
      for (const Node& kid : node.kids) SetUnmapped(kid);
    } else if (node.host >= 0 && checks_[static_cast<size_t>(node.host)].kind ==
                                     HostCheck::kConstant) {
      checks_[static_cast<size_t>(node.host)].wanted = node.leaf.negate;
    }
  }

  // The rule's form for the events of `mapping`.
  MappedForm CompileMapped(const FieldMapping& mapping) {
    mapping_ = &mapping;
    std::vector<Node> all;
    all.push_back(Line("Channel", kOpEquals, mapping.channel, kTypeText));
    all.push_back(Line("EventID", kOpEquals, std::to_string(mapping.event_id),
                       kTypeText));
    all.push_back(Logic());
    MappedForm form;
    form.source = mapping.source;
    form.lines = Write(Group(Node::kAnd, std::move(all)), form.checks);
    mapping_ = nullptr;
    return form;
  }

  // The name `field` goes by in the current form; nothing when the
  // mapping cannot give it.
  std::optional<std::string> FormField(const std::string& field) const {
    if (mapping_ == nullptr) return field;
    for (const MappedField& f : mapping_->fields)
      if (common::EqualsNoCase(field, f.rule_field)) return MappedName(f);
    return std::nullopt;
  }

  // A condition on a field the current mapping cannot give.
  Node Unmapped(const std::string& field) {
    HostCheck c;
    c.kind = HostCheck::kConstant;
    c.written = std::string("false, NOT or not: ") + mapping_->source +
                " events do not give " + field;
    Node n = Host(std::move(c));
    n.leaf.field = common::ToUtf16("(" + field + ")");
    n.leaf.value = common::ToUtf16("not mapped");
    return n;
  }

  // Every condition of the rule passes here: YAML aliases, identifiers
  // used twice and expansions multiply them, so a few bytes of YAML could
  // make millions.
  Node Line(const std::string& field, FieldOperator op,
            const std::string& value, FieldType type) {
    if (++conditions_ > kMaxConditions)
      throw Unsupported("the rule compiles to more than " +
                        std::to_string(kMaxConditions) + " conditions");
    Node n;
    n.leaf.field = common::ToUtf16(field);
    n.leaf.op = op;
    n.leaf.value = common::ToUtf16(value);
    n.leaf.type = type;
    return n;
  }

  // A condition the host decides; its line shows what it checks.
  Node Host(HostCheck check) {
    Node n = Line(check.field.empty() ? kAnyField : check.field, kOpEquals,
                  check.written, kTypeText);
    n.host = static_cast<int>(checks_.size());
    checks_.push_back(std::move(check));
    return n;
  }

  std::shared_ptr<const re2::RE2> Regex(const std::string& pattern,
                                        bool ignore_case) {
    RE2::Options o;
    o.set_log_errors(false);
    o.set_case_sensitive(!ignore_case);
    auto re = std::make_shared<const re2::RE2>(pattern, o);
    if (!re->ok())
      throw Unsupported("regular expression " + Quoted(pattern) +
                        " is not one RE2 takes: " + Quoted(re->error()));
    return re;
  }

  Node Selection(const YAML::Node& def, const std::string& id) {
    if (def.IsMap()) return MapSelection(def);
    if (def.IsSequence()) {
      if (def.size() == 0)
        throw Unsupported("search identifier '" + id + "' is an empty list");
      bool maps = true, scalars = true;
      for (const auto& item : def) {
        maps = maps && item.IsMap();
        scalars = scalars && item.IsScalar();
      }
      if (maps) {
        std::vector<Node> any;
        for (const auto& item : def) any.push_back(MapSelection(item));
        return Group(Node::kOr, std::move(any));
      }
      if (scalars) return Keywords(def, {});
      // Say what the list holds: lists, or maps beside values.
      for (const auto& item : def)
        if (item.IsSequence())
          throw Unsupported("search identifier '" + id +
                            "' is a list with a list in it; a selection is "
                            "a map, a list of maps or a list of values");
      throw Unsupported("search identifier '" + id +
                        "' mixes maps and values in one list");
    }
    if (def.IsScalar()) return Keywords(def, {});
    throw Unsupported("search identifier '" + id + "' is empty");
  }

  Node MapSelection(const YAML::Node& map) {
    if (map.size() == 0) throw Unsupported("an empty selection map");
    std::vector<Node> all;
    for (const auto& item : map) {
      const std::string key = item.first.Scalar();
      std::vector<std::string> parts;
      size_t start = 0;
      for (;;) {
        const size_t bar = key.find('|', start);
        parts.push_back(key.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
      }
      const std::string field = parts[0];
      parts.erase(parts.begin());
      const Modifiers m = ParseModifiers(parts);
      if (field.empty()) {
        all.push_back(Keywords(item.second, m));
      } else {
        all.push_back(FieldValues(field, m, item.second));
      }
    }
    return Group(Node::kAnd, std::move(all));
  }

  // The values of a key: each alone, or a list.
  static std::vector<YAML::Node> ValuesOf(const YAML::Node& values) {
    std::vector<YAML::Node> out;
    if (values.IsSequence()) {
      for (const auto& v : values) out.push_back(v);
      if (out.empty()) throw Unsupported("an empty value list");
    } else {
      out.push_back(values);
    }
    for (const YAML::Node& v : out)
      if (v.IsMap() || v.IsSequence())
        throw Unsupported("a value that is a map or a list");
    return out;
  }

  // The placeholder expansion of one text: every value of each
  // %placeholder%, as a rule text with its wildcards.
  std::vector<std::string> Expand(const std::string& text) {
    std::vector<std::string> forms{""};
    size_t i = 0;
    while (i < text.size()) {
      if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '%') {
        for (std::string& f : forms) f += "%";
        i += 2;
        continue;
      }
      if (text[i] != '%') {
        for (std::string& f : forms) f += text[i];
        ++i;
        continue;
      }
      const size_t end = text.find('%', i + 1);
      if (end == std::string::npos) {
        for (std::string& f : forms) f += text.substr(i);
        break;
      }
      const std::string name = text.substr(i + 1, end - i - 1);
      const auto found = options_.placeholders.find(name);
      if (found == options_.placeholders.end())
        throw Unsupported("placeholder %" + name + "% is not defined");
      if (found->second.empty())
        throw Unsupported("placeholder %" + name + "% has no values");
      std::vector<std::string> next;
      for (const std::string& f : forms)
        for (const std::string& v : found->second) next.push_back(f + v);
      if (next.size() > 4096)
        throw Unsupported("placeholders expand to more than 4096 values");
      forms = std::move(next);
      i = end + 1;
    }
    return forms;
  }

  // The forms one written value takes after the transformations.
  std::vector<SigmaValue> Transformed(const std::string& text,
                                      const Modifiers& m) {
    std::vector<SigmaValue> values;
    if (m.expand) {
      for (const std::string& form : Expand(text))
        values.push_back(WithWildcards(form));
    } else {
      values.push_back(WithWildcards(text));
    }
    for (const Modifiers::Transform t : m.transforms) {
      std::vector<SigmaValue> next;
      for (SigmaValue& v : values) {
        if (t == Modifiers::kWindash) {
          Windash(v);
          next.push_back(std::move(v));
        } else if (t == Modifiers::kBase64 || t == Modifiers::kBase64Offset) {
          for (SigmaValue& b : Base64(v, t == Modifiers::kBase64Offset))
            next.push_back(std::move(b));
        } else {
          EncodeUtf16(v, t != Modifiers::kUtf16Be, t == Modifiers::kUtf16);
          next.push_back(std::move(v));
        }
      }
      values = std::move(next);
    }
    for (const SigmaValue& v : values)
      if (v.bytes)
        throw Unsupported(
            "an encoding modifier without base64: the value is bytes, not "
            "text");
    return values;
  }

  static void AddMatch(SigmaValue& v, Modifiers::Match match) {
    if (match == Modifiers::kContains || match == Modifiers::kEndsWith)
      v.pieces.insert(v.pieces.begin(), Piece{Piece::kAny, 0});
    if (match == Modifiers::kContains || match == Modifiers::kStartsWith)
      v.pieces.push_back(Piece{Piece::kAny, 0});
  }

  // One text value of a field, as a line of the module or a host check.
  Node TextLeaf(const std::string& field, SigmaValue v, const Modifiers& m,
                const std::string& written, bool each_data) {
    AddMatch(v, m.match);
    // Only stars: any value, the empty one too (which no LIKE pattern of
    // the module matches), but not a missing one, which the module would
    // see as empty text.
    if (IsAnyValue(v)) {
      HostCheck c;
      c.kind = HostCheck::kValue;
      c.field = field;
      c.each_data = each_data;
      c.written = "any value: " + written;
      return Host(std::move(c));
    }
    // An empty value wants the field there and empty; the module would see
    // a missing field as empty text too.
    if (m.cased || each_data || v.pieces.empty()) {
      HostCheck c;
      c.kind = HostCheck::kWhole;
      c.field = field;
      c.each_data = each_data;
      c.regex = Regex(RegexPattern(v), !m.cased);
      c.written = (m.cased ? "cased: " : "") + written;
      return Host(std::move(c));
    }
    const size_t n = v.pieces.size();
    // A literal between two "*": the module's CONTAINS finds it.
    if (n >= 2 && v.pieces[0].kind == Piece::kAny &&
        v.pieces[n - 1].kind == Piece::kAny) {
      SigmaValue middle;
      middle.pieces.assign(v.pieces.begin() + 1, v.pieces.end() - 1);
      if (!HasWildcards(middle))
        return Line(field, kOpContains, PlainText(middle), kTypeText);
    }
    if (!HasWildcards(v))
      return Line(field, kOpEquals, PlainText(v), kTypeText);
    return Line(field, kOpLike, LikePattern(v), kTypeText);
  }

  // Stars only: any value, the empty one too.
  static bool IsAnyValue(const SigmaValue& v) {
    return !v.pieces.empty() &&
           std::all_of(v.pieces.begin(), v.pieces.end(),
                       [](const Piece& p) { return p.kind == Piece::kAny; });
  }

  Node FieldValues(const std::string& written_field, const Modifiers& m,
                   const YAML::Node& values) {
    const std::vector<YAML::Node> list = ValuesOf(values);
    const std::optional<std::string> mapped = FormField(written_field);
    if (!mapped) return Unmapped(written_field);
    const std::string& field = *mapped;
    // The event's unnamed data may be several values; the host decides.
    const bool each_data = common::EqualsNoCase(field, "Data");
    if (each_data && (m.fieldref || m.compare >= 0))
      throw Unsupported(std::string(m.fieldref ? "fieldref" : "a comparison") +
                        " on Data, which may hold several values");
    if (m.all && list.size() < 2 && !m.expand)
      throw Unsupported("'all' on a single value");
    std::vector<Node> leaves;
    for (const YAML::Node& value : list) {
      if (value.IsNull()) {
        if (list.size() > 1) throw Unsupported("null in a value list");
        if (!m.transforms.empty() || m.match != Modifiers::kPlain ||
            m.Typed() || m.cased)
          throw Unsupported("null with a modifier");
        HostCheck c;
        c.kind = HostCheck::kNull;
        c.field = field;
        c.each_data = each_data;
        c.written = "null";
        leaves.push_back(Host(std::move(c)));
        continue;
      }
      const std::string text = value.Scalar();
      if (m.exists) {
        if (text != "true" && text != "false")
          throw Unsupported("'exists' wants true or false, not '" + text + "'");
        HostCheck c;
        c.kind = HostCheck::kExists;
        c.field = field;
        c.each_data = each_data;
        c.wanted = text == "true";
        c.written = "exists: " + text;
        leaves.push_back(Host(std::move(c)));
      } else if (m.fieldref) {
        const std::optional<std::string> other = FormField(text);
        if (!other) {
          leaves.push_back(Unmapped(text));
          continue;
        }
        HostCheck c;
        c.kind = HostCheck::kFieldRef;
        c.field = field;
        c.other = *other;
        c.cased = m.cased;
        c.written = "fieldref: " + text;
        leaves.push_back(Host(std::move(c)));
      } else if (m.re) {
        std::string pattern;
        if (m.re_m) pattern += "(?m)";
        if (m.re_s) pattern += "(?s)";
        pattern += text;
        HostCheck c;
        c.kind = HostCheck::kRegex;
        c.field = field;
        c.each_data = each_data;
        c.regex = Regex(pattern, m.re_i);
        c.written = "re: " + text;
        leaves.push_back(Host(std::move(c)));
      } else if (m.cidr) {
        const std::optional<IpNetwork> net = ParseNetwork(text);
        if (!net) throw Unsupported("'" + text + "' is no network for cidr");
        HostCheck c;
        c.kind = HostCheck::kCidr;
        c.field = field;
        c.each_data = each_data;
        c.network = *net;
        c.written = "cidr: " + text;
        leaves.push_back(Host(std::move(c)));
      } else if (m.compare >= 0) {
        if (!IsNumber(text))
          throw Unsupported("'" + text + "' is no number to compare with");
        // >= is NOT <, <= is NOT >: written negated, false when missing.
        Node n = Line(field, m.compare <= 1 ? kOpLess : kOpGreater, text,
                      kTypeNumeric);
        if (m.compare == 1 || m.compare == 3) {
          n.leaf.op = m.compare == 1 ? kOpGreater : kOpLess;
          n.leaf.negate = true;
          n.leaf.inverted = true;
        }
        leaves.push_back(std::move(n));
      } else {
        // A number is compared as text too, as the rule format treats every
        // value: EventID 4688 is not "04688".
        for (SigmaValue& v : Transformed(text, m))
          leaves.push_back(TextLeaf(field, std::move(v), m, text, each_data));
      }
    }
    Node values_node = Group(m.all ? Node::kAnd : Node::kOr, std::move(leaves));
    // neq: the field differs from every value.
    return m.neq ? Negated(std::move(values_node)) : values_node;
  }

  // A keyword search: some field of the event holds the value.
  Node Keywords(const YAML::Node& values, const Modifiers& m) {
    if (m.Typed() || m.cased || m.neq || m.match != Modifiers::kPlain)
      throw Unsupported("a keyword list with modifiers other than 'all'");
    std::vector<Node> leaves;
    for (const YAML::Node& value : ValuesOf(values)) {
      if (value.IsNull()) throw Unsupported("null as a keyword");
      const std::string text = value.Scalar();
      for (SigmaValue& v : Transformed(text, m)) {
        AddMatch(v, Modifiers::kContains);
        HostCheck c;
        c.kind = HostCheck::kKeyword;
        c.regex = Regex(RegexPattern(v), true);
        c.written = "keyword: " + text;
        leaves.push_back(Host(std::move(c)));
      }
    }
    return Group(m.all ? Node::kAnd : Node::kOr, std::move(leaves));
  }

  const YAML::Node& doc_;
  RuleMeta& meta_;
  const CompileOptions& options_;
  YAML::Node condition_;
  std::vector<std::string> identifiers_;
  std::vector<YAML::Node> definitions_;
  const FieldMapping* mapping_ = nullptr;  // compiling a MappedForm
  std::vector<HostCheck> checks_;
  static constexpr size_t kMaxConditions = 100000;
  size_t conditions_ = 0;
};

// Reads the documents' events and nothing else, to see where each starts.
class DocumentStarts : public YAML::EventHandler {
 public:
  void OnDocumentStart(const YAML::Mark& mark) override { start = mark; }
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark&, YAML::anchor_t) override {}
  void OnAlias(const YAML::Mark&, YAML::anchor_t) override {}
  void OnScalar(const YAML::Mark&, const std::string&, YAML::anchor_t,
                const std::string&) override {}
  void OnSequenceStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {}
  void OnSequenceEnd() override {}
  void OnMapStart(const YAML::Mark&, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {}
  void OnMapEnd() override {}
  YAML::Mark start;
};

// yaml-cpp 0.7 reads a document that starts with a "," (outside any flow
// collection) as an empty document without moving on, and so again for
// ever. One pass over the events finds such a place first; it throws
// YAML::ParserException there, as for any other fault.
void CheckDocumentsEnd(const std::string& yaml) {
  std::istringstream in(yaml);
  YAML::Parser parser(in);
  DocumentStarts starts;
  int last = -1;
  while (parser.HandleNextDocument(starts)) {
    if (starts.start.pos == last)
      throw YAML::ParserException(starts.start,
                                  "a ',' outside a flow collection");
    last = starts.start.pos;
  }
}

// A reason that quotes a hostile rule (a 1 MB pattern, a condition of
// 100,000 nots) is cut to a line's worth; the place is said beside it.
std::string Clipped(const std::string& reason) {
  constexpr size_t kMost = 200;
  if (reason.size() <= kMost) return reason;
  size_t cut = kMost;
  // Not inside a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80)
    --cut;
  return reason.substr(0, cut) + "... (" + std::to_string(reason.size()) +
         " bytes in all)";
}

std::string Text(const YAML::Node& doc, const char* key) {
  const YAML::Node n = doc[key];
  return n && n.IsScalar() ? n.Scalar() : std::string();
}

// The scalars of the list under `key`, or its one scalar; others are
// skipped.
std::vector<std::string> Texts(const YAML::Node& doc, const char* key) {
  const YAML::Node n = doc[key];
  std::vector<std::string> out;
  if (n && n.IsScalar()) out.push_back(n.Scalar());
  if (n && n.IsSequence())
    for (const YAML::Node& e : n)
      if (e.IsScalar()) out.push_back(e.Scalar());
  return out;
}

// A filter document as a rule: its filter's selections and condition are
// the detection; `rules` names what it filters.
CompiledFilter CompileFilter(const YAML::Node& doc, RuleMeta& meta,
                             const CompileOptions& options) {
  const YAML::Node filter = doc["filter"];
  if (!filter.IsMap()) throw Unsupported("the filter is no map");
  CompiledFilter out;
  const YAML::Node named = filter["rules"];
  if (named && named.IsScalar()) out.rules.push_back(named.Scalar());
  if (named && named.IsSequence())
    for (const YAML::Node& id : named)
      if (id.IsScalar()) out.rules.push_back(id.Scalar());
  if (out.rules.empty())
    throw Unsupported("the filter names no rule (filter: rules: [ids])");
  YAML::Node as_rule = YAML::Clone(doc);
  YAML::Node detection = YAML::Clone(filter);
  detection.remove("rules");
  as_rule["detection"] = detection;
  as_rule.remove("filter");
  out.rule = Compiler(as_rule, meta, options).Compile();
  return out;
}

// "5m", "90s", "1h", "2d" in nanoseconds.
int64_t Timespan(const std::string& text) {
  static constexpr std::pair<char, int64_t> kUnits[] = {
      {'s', 1}, {'m', 60}, {'h', 3600}, {'d', 86400}};
  if (text.size() < 2 || text.size() > 8 ||
      text.find_first_not_of("0123456789") != text.size() - 1)
    throw Unsupported("timespan '" + text +
                      "' is no number and unit (s, m, h, d)");
  for (const auto& [unit, seconds] : kUnits)
    if (text.back() == unit) {
      const int64_t n = std::stoll(text.substr(0, text.size() - 1));
      // Nanoseconds in 64 bits reach 292 years.
      if (n > 9'000'000'000 / seconds)
        throw Unsupported("timespan '" + text + "' is longer than 250 years");
      return n * seconds * 1'000'000'000;
    }
  throw Unsupported("timespan '" + text + "' has no unit s, m, h or d");
}

// A correlation document. Its condition bounds the count from below (gt,
// gte). A window is decided as it fills, so it fires the moment the count
// reaches the bound: an upper bound (lt, lte, eq) could only be decided
// when a window closes, and is not supported, nor is a count that need
// not reach one (which would fire on every group with no events).
CompiledCorrelation CompileCorrelation(const YAML::Node& doc,
                                       const RuleMeta& meta) {
  const YAML::Node c = doc["correlation"];
  if (!c.IsMap()) throw Unsupported("the correlation is no map");
  CompiledCorrelation out;
  out.meta = meta;
  const std::string type = Text(c, "type");
  bool known = false;
  for (const auto t :
       {CompiledCorrelation::kEventCount, CompiledCorrelation::kValueCount,
        CompiledCorrelation::kTemporal, CompiledCorrelation::kTemporalOrdered})
    if (type == CorrelationTypeName(t)) {
      out.type = t;
      known = true;
    }
  if (!known)
    throw Unsupported("correlation type '" + type + "' is not supported");
  out.rules = Texts(c, "rules");
  if (out.rules.empty()) throw Unsupported("the correlation names no rule");
  if (const YAML::Node g = c["group-by"];
      g && !(g.IsScalar() ||
             (g.IsSequence() &&
              std::all_of(g.begin(), g.end(),
                          [](const YAML::Node& f) { return f.IsScalar(); }))))
    throw Unsupported("group-by is no field name or list of them");
  out.group_by = Texts(c, "group-by");
  out.timespan_ns = Timespan(Text(c, "timespan"));
  const YAML::Node aliases = c["aliases"];
  if (aliases && !aliases.IsMap()) throw Unsupported("aliases is no map");
  if (aliases)
    for (const auto& alias : aliases) {
      if (!alias.second.IsMap())
        throw Unsupported("alias '" + alias.first.Scalar() + "' is no map");
      for (const auto& field : alias.second) {
        if (!field.second.IsScalar() || field.second.Scalar().empty())
          throw Unsupported("alias '" + alias.first.Scalar() +
                            "' names no field for '" + field.first.Scalar() +
                            "'");
        out.aliases[alias.first.Scalar()][field.first.Scalar()] =
            field.second.Scalar();
      }
    }
  const bool temporal = out.type == CompiledCorrelation::kTemporal ||
                        out.type == CompiledCorrelation::kTemporalOrdered;
  if (temporal) out.at_least = out.rules.size();
  const YAML::Node condition = c["condition"];
  if (!condition && !temporal)
    throw Unsupported("the correlation has no condition");
  if (condition) {
    if (!condition.IsMap())
      throw Unsupported("the correlation's condition is no map");
    bool lower = false;
    for (const auto& item : condition) {
      const std::string key = item.first.Scalar();
      const std::string value = item.second.Scalar();
      if (key == "field") {
        out.field = value;
        continue;
      }
      if (value.empty() || value.size() > 18 ||
          value.find_first_not_of("0123456789") != std::string::npos)
        throw Unsupported("condition " + key + ": '" + value + "' is no count");
      const uint64_t n = std::stoull(value);
      if (key == "gt" || key == "gte") {
        out.at_least = key == "gt" ? n + 1 : n;
        lower = true;
      } else if (key == "lt" || key == "lte" || key == "eq") {
        throw Unsupported("correlation condition '" + key +
                          "' (an upper bound) is not supported: a window "
                          "fires when its count reaches gt or gte");
      } else {
        throw Unsupported("correlation condition '" + key +
                          "' is not supported");
      }
    }
    if (!lower && !temporal)
      throw Unsupported(
          "a correlation condition without gt or gte: a count that need not "
          "reach one is not supported");
    if (out.at_least == 0) out.at_least = 1;
    // An ordered run is of every rule named, in order.
    if (out.type == CompiledCorrelation::kTemporalOrdered &&
        out.at_least != out.rules.size())
      throw Unsupported(
          "temporal_ordered with a condition other than every rule named");
  }
  for (size_t i = 0; i < out.rules.size(); ++i)
    for (size_t j = 0; j < i; ++j)
      if (out.rules[i] == out.rules[j])
        throw Unsupported("the correlation names rule " + out.rules[i] +
                          " twice");
  if (out.type == CompiledCorrelation::kValueCount && out.field.empty())
    throw Unsupported("value_count needs the condition's field");
  if (const YAML::Node g = c["generate"]; g && g.IsScalar())
    out.generate = g.Scalar() == "true";
  else if (const YAML::Node g2 = doc["generate"]; g2 && g2.IsScalar())
    out.generate = g2.Scalar() == "true";
  return out;
}

}  // namespace

const char* CorrelationTypeName(CompiledCorrelation::Type type) {
  static constexpr const char* kNames[] = {"event_count", "value_count",
                                           "temporal", "temporal_ordered"};
  return kNames[type];
}

int LevelRank(std::string_view level) {
  static constexpr std::string_view kLevels[] = {"informational", "low",
                                                 "medium", "high", "critical"};
  for (int i = 0; i < 5; ++i)
    if (level == kLevels[i]) return i;
  return -1;
}

RuleLoad CompileRules(std::string_view yaml, const std::string& name,
                      const CompileOptions& options) {
  RuleLoad load;
  load.files = 1;
  if (yaml.size() > options.max_bytes) {
    RejectedRule r;
    r.meta.file = name;
    r.reason = "is larger than " + std::to_string(options.max_bytes) +
               " bytes, the most a rule file may be";
    r.unreadable = true;
    load.rejected.push_back(std::move(r));
    return load;
  }
  std::vector<YAML::Node> docs;
  try {
    const std::string text(yaml);
    CheckDocumentsEnd(text);
    docs = YAML::LoadAll(text);
  } catch (const YAML::Exception& e) {
    RejectedRule r;
    r.meta.file = name;
    r.reason = Clipped("not YAML: " + e.msg) + " at line " +
               std::to_string(e.mark.line + 1);
    r.unreadable = true;
    load.rejected.push_back(std::move(r));
    return load;
  }
  int number = 0;
  for (const YAML::Node& doc : docs) {
    ++number;
    if (!doc || doc.IsNull()) continue;  // an empty document between ---
    RuleMeta meta;
    meta.file = name;
    meta.document = number;
    try {
      if (!doc.IsMap()) throw Unsupported("the document is no map");
      meta.id = Text(doc, "id");
      meta.title = Text(doc, "title");
      meta.level = Text(doc, "level");
      meta.status = Text(doc, "status");
      meta.tags = Texts(doc, "tags");
      if (const YAML::Node ls = doc["logsource"]; ls && ls.IsMap()) {
        meta.product = Text(ls, "product");
        meta.category = Text(ls, "category");
        meta.service = Text(ls, "service");
      }
      meta.name = Text(doc, "name");
      if (doc["correlation"]) {
        load.correlations.push_back(CompileCorrelation(doc, meta));
        continue;
      }
      if (doc["filter"] && !doc["detection"]) {
        load.filters.push_back(CompileFilter(doc, meta, options));
        continue;
      }
      if (doc["action"])
        throw Unsupported("rule collections ('action') are not supported");
      load.loaded.push_back(Compiler(doc, meta, options).Compile());
    } catch (const Unsupported& e) {
      load.rejected.push_back({meta, Clipped(e.what()), false});
    } catch (const YAML::Exception& e) {
      load.rejected.push_back({meta, Clipped("not a rule: " + e.msg), false});
    }
  }
  return load;
}

}  // namespace eventquery::sigma
