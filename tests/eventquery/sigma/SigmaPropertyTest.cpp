// Random rules over random events: the compiled rule (its lines decided by
// the module, its host checks by the host) must answer as a direct
// evaluator of the rule format written here does. Conditions are printed
// with as few brackets as precedence allows, so that a compiler ignoring
// precedence fails; and dropping one bracket pair from the compiled lines
// must make some answer wrong.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "SigmaTestRules.h"

namespace {

using sigmatest::Event;

const char* const kFields[] = {"A", "B", "C"};

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

// Whole-text match of a rule pattern: "*" any run, "?" one character.
bool Wild(const std::string& p, size_t i, const std::string& t, size_t j) {
  if (i == p.size()) return j == t.size();
  if (p[i] == '*')
    return Wild(p, i + 1, t, j) || (j < t.size() && Wild(p, i, t, j + 1));
  if (j == t.size()) return false;
  return (p[i] == '?' || p[i] == t[j]) && Wild(p, i + 1, t, j + 1);
}

struct Item {
  std::string field;
  enum Mod { kPlain, kContains, kStarts, kEnds, kRe, kCased, kExists, kNull };
  Mod mod = kPlain;
  bool all = false;
  std::vector<std::string> values;
};

struct Selection {
  bool list_of_maps = false;
  std::vector<std::vector<Item>> maps;  // one map unless a list
};

struct Cond {
  enum Kind { kId, kAnd, kOr, kNot, kOneOf, kAllOf };
  Kind kind = kId;
  int id = 0;
  std::vector<Cond> kids;
};

class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

  std::string Text(bool wildcards) {
    static const char kChars[] = {'a', 'b', 'A', 'B'};
    std::string s;
    for (int n = Pick(4); n > 0; --n) {
      if (wildcards && Pick(5) == 0)
        s.push_back(Pick(3) ? '*' : '?');
      else
        s.push_back(kChars[Pick(4)]);
    }
    return s;
  }

  Item RandomItem() {
    Item it;
    it.field = kFields[Pick(3)];
    it.mod = static_cast<Item::Mod>(Pick(8));
    if (it.mod == Item::kExists) {
      it.values = {Pick(2) ? "true" : "false"};
      return it;
    }
    if (it.mod == Item::kNull) return it;
    const int n = 1 + Pick(3);
    for (int i = 0; i < n; ++i) {
      if (it.mod == Item::kRe) {
        static const char* kPatterns[] = {"^a", "b$", "a.b", "ab*a", "A", "^$"};
        it.values.push_back(kPatterns[Pick(6)]);
      } else {
        it.values.push_back(Text(true));
      }
    }
    it.all = n > 1 && Pick(3) == 0;
    return it;
  }

  Selection RandomSelection() {
    Selection s;
    s.list_of_maps = Pick(3) == 0;
    const int maps = s.list_of_maps ? 1 + Pick(2) : 1;
    for (int m = 0; m < maps; ++m) {
      std::vector<Item> items;
      // Each field once per map, as YAML keys must be.
      std::vector<std::string> used;
      for (int n = 1 + Pick(2); n > 0; --n) {
        Item it = RandomItem();
        if (std::find(used.begin(), used.end(), it.field) != used.end())
          continue;
        used.push_back(it.field);
        items.push_back(std::move(it));
      }
      s.maps.push_back(std::move(items));
    }
    return s;
  }

  Cond RandomCond(int depth, int selections) {
    const int kind = depth > 2 ? 0 : Pick(6);
    Cond c;
    switch (kind) {
      case 1:
      case 2:
        c.kind = kind == 1 ? Cond::kAnd : Cond::kOr;
        for (int n = 2 + Pick(2); n > 0; --n)
          c.kids.push_back(RandomCond(depth + 1, selections));
        return c;
      case 3:
        c.kind = Cond::kNot;
        c.kids.push_back(RandomCond(depth + 1, selections));
        return c;
      case 4:
        c.kind = Pick(2) ? Cond::kOneOf : Cond::kAllOf;
        return c;
      default:
        c.kind = Cond::kId;
        c.id = Pick(selections);
        return c;
    }
  }

  Event RandomEvent() {
    Event e;
    for (const char* f : kFields)
      if (Pick(4) != 0) e.emplace_back(f, Text(false));
    return e;
  }

 private:
  std::mt19937 rng_;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Yaml(const Selection& s) {
  std::string out;
  for (const auto& map : s.maps) {
    bool first = true;
    for (const Item& it : map) {
      out += s.list_of_maps ? (first ? "    - " : "      ") : "    ";
      first = false;
      static const char* kMods[] = {"",          "|contains", "|startswith",
                                    "|endswith", "|re",       "|cased",
                                    "|exists",   ""};
      out += it.field + kMods[it.mod] + (it.all ? "|all" : "") + ":";
      if (it.mod == Item::kNull) {
        out += " null\n";
      } else if (it.mod == Item::kExists) {
        out += " " + it.values[0] + "\n";
      } else {
        out += "\n";
        for (const std::string& v : it.values)
          out += std::string(s.list_of_maps ? "        " : "      ") + "- " +
                 Quote(v) + "\n";
      }
    }
  }
  return out;
}

// Prints with the fewest brackets: or 1, and 2, not 3.
std::string Print(const Cond& c, int parent) {
  switch (c.kind) {
    case Cond::kId:
      return "sel" + std::to_string(c.id);
    case Cond::kOneOf:
      return "1 of sel*";
    case Cond::kAllOf:
      return "all of sel*";
    case Cond::kNot:
      return "not " + Print(c.kids[0], 3);
    case Cond::kAnd:
    case Cond::kOr: {
      const int mine = c.kind == Cond::kAnd ? 2 : 1;
      std::string s;
      for (size_t i = 0; i < c.kids.size(); ++i)
        s += (i ? (mine == 2 ? " and " : " or ") : "") + Print(c.kids[i], mine);
      return mine < parent ? "(" + s + ")" : s;
    }
  }
  return "";
}

const std::string* Get(const Event& e, const std::string& field) {
  for (const auto& [k, v] : e)
    if (k == field) return &v;
  return nullptr;
}

bool ItemHolds(const Item& it, const Event& e) {
  const std::string* cell = Get(e, it.field);
  if (it.mod == Item::kExists)
    return (cell != nullptr) == (it.values[0] == "true");
  if (it.mod == Item::kNull) return cell == nullptr || cell->empty();
  // A text condition sees a missing field as empty text (but for the
  // empty value, below); the host's checks find no value in it.
  const std::string text = cell ? *cell : "";
  auto one = [&](const std::string& v) {
    // A pattern of stars alone is any value, not a missing one.
    auto any_value = [&](const std::string& pattern) {
      return pattern.find_first_not_of('*') == std::string::npos;
    };
    const std::string pattern = it.mod == Item::kContains ? "*" + v + "*"
                                : it.mod == Item::kStarts ? v + "*"
                                : it.mod == Item::kEnds   ? "*" + v
                                                          : v;
    if (it.mod != Item::kRe && !pattern.empty() && any_value(pattern))
      return cell != nullptr;
    // An empty value is a field that is there and empty.
    if (it.mod != Item::kRe && pattern.empty())
      return cell != nullptr && cell->empty();
    switch (it.mod) {
      case Item::kRe:
        return cell != nullptr && std::regex_search(text, std::regex(v));
      case Item::kCased:
        return cell != nullptr && Wild(v, 0, text, 0);
      case Item::kContains:
        return Wild("*" + Lower(v) + "*", 0, Lower(text), 0);
      case Item::kStarts:
        return Wild(Lower(v) + "*", 0, Lower(text), 0);
      case Item::kEnds:
        return Wild("*" + Lower(v), 0, Lower(text), 0);
      default:
        return Wild(Lower(v), 0, Lower(text), 0);
    }
  };
  bool any = false, every = true;
  for (const std::string& v : it.values) {
    const bool h = one(v);
    any = any || h;
    every = every && h;
  }
  return it.all ? every : any;
}

bool SelectionHolds(const Selection& s, const Event& e) {
  bool any = false;
  for (const auto& map : s.maps) {
    bool every = true;
    for (const Item& it : map) every = every && ItemHolds(it, e);
    any = any || every;
  }
  return any;
}

bool CondHolds(const Cond& c, const std::vector<Selection>& sels,
               const Event& e) {
  switch (c.kind) {
    case Cond::kId:
      return SelectionHolds(sels[c.id], e);
    case Cond::kNot:
      return !CondHolds(c.kids[0], sels, e);
    case Cond::kAnd:
      for (const Cond& k : c.kids)
        if (!CondHolds(k, sels, e)) return false;
      return true;
    case Cond::kOr:
      for (const Cond& k : c.kids)
        if (CondHolds(k, sels, e)) return true;
      return false;
    case Cond::kOneOf:
    case Cond::kAllOf: {
      const bool all = c.kind == Cond::kAllOf;
      for (const Selection& s : sels)
        if (SelectionHolds(s, e) != all) return !all;
      return all;
    }
  }
  return false;
}

// One bracket pair taken out: the innermost one that the first line with
// brackets opens, and the close that matches it. False when the lines
// have no brackets.
bool DropBracket(std::vector<eventquery::ConditionLine>& lines) {
  for (size_t i = 0; i < lines.size(); ++i) {
    const int level = lines[i].open;
    if (level == 0) continue;
    int depth = level;
    for (size_t j = i; j < lines.size(); ++j) {
      if (j > i) depth += lines[j].open;
      depth -= lines[j].close;
      if (depth < level) {
        --lines[i].open;
        --lines[j].close;
        return true;
      }
    }
  }
  return false;
}

TEST(SigmaPropertyTest, CompiledRulesAnswerAsTheRuleFormatSays) {
  Generator g(20261209);
  size_t pairs = 0, dropped_rules = 0, dropped_wrong = 0;
  for (int rule = 0; rule < 600; ++rule) {
    const int count = 1 + g.Pick(4);
    std::vector<Selection> sels;
    std::string detection;
    for (int s = 0; s < count; ++s) {
      sels.push_back(g.RandomSelection());
      detection += "  sel" + std::to_string(s) + ":\n" + Yaml(sels.back());
    }
    const Cond cond = g.RandomCond(0, count);
    detection += "  condition: " + Print(cond, 0) + "\n";
    const auto load = sigmatest::Compile(sigmatest::RuleText(detection));
    ASSERT_EQ(load.loaded.size(), 1u)
        << detection << (load.rejected.empty() ? "" : load.rejected[0].reason);
    const auto& compiled = load.loaded[0];
    auto broken = compiled;
    const bool has_bracket = DropBracket(broken.lines);
    eventquery::sigma::RuleMatcher matcher(compiled, eventquery::Zone::kUtc);
    std::unique_ptr<eventquery::sigma::RuleMatcher> wrong;
    if (has_bracket) {
      ++dropped_rules;
      wrong = std::make_unique<eventquery::sigma::RuleMatcher>(
          broken, eventquery::Zone::kUtc);
    }
    for (int ev = 0; ev < 20; ++ev) {
      const Event e = g.RandomEvent();
      sigmatest::EventRecord r(e);
      matcher.NewInput();
      const bool expected = CondHolds(cond, sels, e);
      ASSERT_EQ(matcher.Match(r.record, r.columns, nullptr), expected)
          << detection << "event:" << [&] {
               std::string s;
               for (const auto& [k, v] : e) s += " " + k + "='" + v + "'";
               return s;
             }();
      ++pairs;
      if (wrong) {
        wrong->NewInput();
        dropped_wrong += wrong->Match(r.record, r.columns, nullptr) != expected;
      }
    }
  }
  EXPECT_GE(pairs, 10000u);
  // Brackets carry the precedence: without one, some answers go wrong.
  EXPECT_GT(dropped_rules, 100u);
  EXPECT_GT(dropped_wrong, 0u);
  std::printf(
      "%zu pairs; %zu rules with a bracket dropped, %zu answers "
      "wrong then\n",
      pairs, dropped_rules, dropped_wrong);
}

}  // namespace
