// Property: for random filters over three fields and random JSON records in
// which each field is present, absent, null or unreadable, evfilter's
// answer (the module run on the variant the record needs) equals a direct
// evaluation of the same lines under the rule "a typed condition on a value
// it cannot use is false before its NOT; text sees empty text". Conditions
// written with >=, <= and != are built as inverted lines and must follow
// the same rule as written.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "decide/FilterVariants.h"
#include "decide/RecordMatcher.h"
#include "query/ConditionLine.h"
#include "records/RecordReader.h"

namespace eventquery {
namespace {

constexpr const char* kFields[] = {"a", "b", "c"};

// A field's state in one record: 0..3 a number, or one of these.
constexpr int kAbsent = -1;
constexpr int kNull = -2;
constexpr int kWord = -3;  // the string "x": no number

struct Node {
  bool leaf = true;
  int field = 0;
  bool numeric = true;
  // numeric: 0 =, 3 <, 4 >, and as written 5 >=, 6 <=, 7 != (built as the
  // inverted lines NOT <, NOT >, NOT =); text: 0 =, 1 LIKE 'x%'
  int op = 0;
  int value = 0;  // numeric value, or text choice: 0 "", 1 "1", 2 "x"
  bool negate = false;
  std::vector<Node> kids;
  std::vector<int> links;  // links[k] joins kid k to kid k+1
};

const char* TextChoice(int v) { return v == 0 ? "" : v == 1 ? "1" : "x"; }

Node RandomNode(std::mt19937& rng, int depth, int* budget) {
  Node n;
  if (depth < 2 && *budget > 1 && rng() % 3 == 0) {
    n.leaf = false;
    const int kids = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k<kids&& * budget> 0; ++k) {
      if (k > 0) n.links.push_back(static_cast<int>(rng() % 4));
      n.kids.push_back(RandomNode(rng, depth + 1, budget));
    }
    return n;
  }
  --*budget;
  n.field = static_cast<int>(rng() % 3);
  n.numeric = rng() % 3 != 0;
  if (n.numeric) {
    const int ops[] = {0, 3, 4, 5, 6, 7};
    n.op = ops[rng() % 6];
    n.value = static_cast<int>(rng() % 4);
  } else {
    n.op = static_cast<int>(rng() % 2);
    n.value = static_cast<int>(rng() % 3);
  }
  n.negate = rng() % 3 == 0;
  return n;
}

void Emit(const Node& n, std::vector<ConditionLine>& lines, bool root) {
  if (n.leaf) {
    ConditionLine l;
    l.field = std::u16string(1, static_cast<char16_t>(kFields[n.field][0]));
    l.type = n.numeric ? kTypeNumeric : kTypeText;
    l.op = static_cast<FieldOperator>(n.op);
    l.negate = n.negate;
    if (n.numeric && n.op >= 5) {
      l.op = n.op == 5 ? kOpLess : n.op == 6 ? kOpGreater : kOpEquals;
      l.inverted = true;
      l.negate = !n.negate;
    }
    if (n.numeric)
      l.value = std::u16string(1, static_cast<char16_t>(u'0' + n.value));
    else if (n.op == 1)
      l.value = u"x%";
    else
      for (const char* p = TextChoice(n.value); *p; ++p)
        l.value.push_back(static_cast<char16_t>(*p));
    lines.push_back(l);
    return;
  }
  const size_t first = lines.size();
  for (size_t k = 0; k < n.kids.size(); ++k) {
    Emit(n.kids[k], lines, false);
    if (k + 1 < n.kids.size())
      lines.back().link = static_cast<LineLinkOperator>(n.links[k]);
  }
  if (!root) {
    lines[first].open += 1;
    lines.back().close += 1;
  }
}

bool Eval(const Node& n, const int* state) {
  if (n.leaf) {
    const int s = state[n.field];
    bool result;
    if (n.numeric) {
      if (s < 0) {
        result = false;  // absent, null or unreadable, whatever the operator
      } else {
        result = n.op == 0   ? s == n.value
                 : n.op == 3 ? s < n.value
                 : n.op == 4 ? s > n.value
                 : n.op == 5 ? s >= n.value
                 : n.op == 6 ? s <= n.value
                             : s != n.value;
      }
    } else {
      const std::string text = s >= 0       ? std::to_string(s)
                               : s == kWord ? "x"
                                            : "";
      result = n.op == 1 ? !text.empty() && text[0] == 'x'
                         : text == TextChoice(n.value);
    }
    return n.negate ? !result : result;
  }
  bool result = true;
  int pending = 0;
  for (size_t k = 0; k < n.kids.size(); ++k) {
    const bool kid = Eval(n.kids[k], state);
    switch (pending) {
      case 0:
        result = result && kid;
        break;
      case 1:
        result = result || kid;
        break;
      case 2:
        result = result && !kid;
        break;
      default:
        result = result || !kid;
        break;
    }
    if (k + 1 < n.kids.size()) pending = n.links[k];
  }
  return result;
}

std::string RecordJson(const int* state) {
  std::string json = "{";
  bool first = true;
  for (int f = 0; f < 3; ++f) {
    if (state[f] == kAbsent) continue;
    if (!first) json += ",";
    first = false;
    json += "\"" + std::string(kFields[f]) + "\":";
    json += state[f] >= 0       ? std::to_string(state[f])
            : state[f] == kNull ? "null"
                                : "\"x\"";
  }
  return json + "}";
}

TEST(RecordMatcherTest, VariantsAgreeWithADirectEvaluation) {
  ModuleLog::Setup(std::getenv("KVAL_LOG_FOLDER"), false);
  std::mt19937 rng(20261208);
  // Under valgrind every trial costs fifty times as much.
  const int trials = std::getenv("FM_UNDER_VALGRIND") != nullptr ? 25 : 200;
  for (int trial = 0; trial < trials; ++trial) {
    Node root;
    root.leaf = false;
    int budget = 1 + static_cast<int>(rng() % 8);
    while (budget > 0) {
      if (!root.kids.empty()) root.links.push_back(static_cast<int>(rng() % 4));
      root.kids.push_back(RandomNode(rng, 1, &budget));
    }
    std::vector<ConditionLine> lines;
    Emit(root, lines, true);
    RecordMatcher matcher(lines, Zone::kLocal);

    std::string input;
    std::vector<std::array<int, 3>> states;
    for (int r = 0; r < 40; ++r) {
      std::array<int, 3> s{};
      for (int& v : s) v = static_cast<int>(rng() % 7) - 3;
      states.push_back(s);
      input += RecordJson(s.data()) + "\n";
    }
    std::FILE* file = fmemopen(input.data(), input.size(), "rb");
    ASSERT_NE(file, nullptr);
    auto reader = MakeRecordReader(*FormatNamed("jsonl"), file);
    Record record;
    std::vector<FeedNote> notes;
    for (size_t r = 0; reader->Next(record); ++r) {
      ASSERT_TRUE(record.problem.empty());
      const bool got = matcher.Match(record, reader->columns(), &notes);
      ASSERT_EQ(got, Eval(root, states[r].data()))
          << "trial " << trial << ", record " << RecordJson(states[r].data());
    }
    std::fclose(file);
  }
}

}  // namespace
}  // namespace eventquery
