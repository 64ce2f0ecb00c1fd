#include "RuleKeys.h"

#include <algorithm>

#include "common/Ascii.h"
#include "common/Utf8.h"

namespace eventquery::sigma {
namespace {

// The ASCII-lowered text, or nothing for text with other characters (the
// module folds those its own way).
std::optional<std::string> AsciiKey(const std::u16string& value) {
  std::string out;
  for (char16_t c : value) {
    if (c == 0 || c >= 0x80) return std::nullopt;
    out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
  }
  return out;
}

template <typename T>
void Intersect(std::optional<std::vector<T>>& into, std::vector<T> more) {
  std::sort(more.begin(), more.end());
  more.erase(std::unique(more.begin(), more.end()), more.end());
  if (!into) {
    into = std::move(more);
    return;
  }
  std::vector<T> both;
  std::set_intersection(into->begin(), into->end(), more.begin(), more.end(),
                        std::back_inserter(both));
  *into = std::move(both);
}

// The top-level terms as [first, last] line ranges, each a single line or
// a bracketed OR with no brackets inside; nothing when the top level is not
// an AND of terms. Terms of other shapes are left out.
std::optional<std::vector<std::pair<size_t, size_t>>> SimpleTerms(
    const std::vector<ConditionLine>& lines, const std::vector<bool>& host) {
  std::vector<std::pair<size_t, size_t>> terms;
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (depth == 0) start = i;
    depth += lines[i].open - lines[i].close;
    if (depth < 0) return std::nullopt;
    if (depth == 0) {
      terms.emplace_back(start, i);
      // Any top-level link but AND: the terms are no conjuncts.
      if (i + 1 < lines.size() && lines[i].link != kLinkAnd)
        return std::nullopt;
    }
  }
  if (depth != 0) return std::nullopt;
  std::vector<std::pair<size_t, size_t>> simple_terms;
  for (const auto& [first, last] : terms) {
    if (lines[last].close != lines[first].open) continue;
    bool simple = true;
    for (size_t i = first; i <= last && simple; ++i) {
      const ConditionLine& l = lines[i];
      if ((i != first && l.open != 0) || (i != last && l.close != 0) ||
          (i != last && l.link != kLinkOr) || l.negate || l.inverted ||
          l.has_tag || l.type != kTypeText || l.field != lines[first].field ||
          (i < host.size() && host[i]))
        simple = false;
    }
    if (simple) simple_terms.emplace_back(first, last);
  }
  return simple_terms;
}

// The longest run of a LIKE pattern's characters that stand for
// themselves: outside sets, not "*", "?" or "%" (which the module reads
// as "*").
std::u16string LongestLiteral(const std::u16string& pattern) {
  std::u16string best, run;
  auto end_run = [&] {
    if (run.size() > best.size()) best = run;
    run.clear();
  };
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char16_t c = pattern[i];
    if (c == u'[') {
      end_run();
      size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == u'!') ++j;
      ++j;  // a first "]" is a member
      while (j < pattern.size() && pattern[j] != u']') ++j;
      if (j >= pattern.size()) return {};  // an unclosed set matches nothing
      i = j;
    } else if (c == u'*' || c == u'?' || c == u'%') {
      end_run();
    } else {
      run.push_back(c);
    }
  }
  end_run();
  return best;
}

}  // namespace

RuleKeys KeysOf(const std::vector<ConditionLine>& lines,
                const std::vector<bool>& host) {
  RuleKeys keys;
  const auto terms = SimpleTerms(lines, host);
  if (!terms) return keys;
  for (const auto& [first, last] : *terms) {
    const std::u16string& field = lines[first].field;
    if (field != u"Channel" && field != u"EventID") continue;
    std::vector<std::string> values;
    bool usable = true;
    for (size_t i = first; i <= last && usable; ++i) {
      const auto key = AsciiKey(lines[i].value);
      if (key && lines[i].op == kOpEquals)
        values.push_back(*key);
      else
        usable = false;
    }
    if (usable)
      Intersect(field == u"Channel" ? keys.channels : keys.event_ids,
                std::move(values));
  }
  return keys;
}

namespace {

// What a group of lines needs: one of these (field, literal) pairs, or
// nothing known (`open` true).
struct Need {
  bool open = true;
  std::vector<std::pair<std::string, std::string>> any;
};

class GateParser {
 public:
  GateParser(const std::vector<ConditionLine>& lines,
             const std::vector<bool>& host)
      : lines_(lines), host_(host) {
    for (size_t i = 0; i < lines.size(); ++i) {
      for (int32_t k = 0; k < lines[i].open; ++k) tokens_.push_back(kOpen);
      tokens_.push_back(static_cast<int64_t>(i));
      for (int32_t k = 0; k < lines[i].close; ++k) tokens_.push_back(kClose);
      if (i + 1 < lines.size()) tokens_.push_back(kLink - lines[i].link);
    }
  }

  // The root's members' needs when it is an AND, else the root's need;
  // nothing when the brackets do not pair.
  std::vector<Need> RootNeeds() {
    std::vector<Need> members;
    int link = -1;
    if (!Group(members, link) || at_ != tokens_.size()) return {};
    if (link == kLinkOr) return {Combine(members, kLinkOr)};
    if (link != kLinkAnd && members.size() > 1) return {};
    return members;
  }

 private:
  static constexpr int64_t kOpen = -1, kClose = -2, kLink = -10;

  // Reads members up to a ")" or the end; `link` is the group's one link
  // (kLinkAnd or kLinkOr), -1 for a single member, -2 for mixed or negated
  // links.
  bool Group(std::vector<Need>& members, int& link) {
    for (;;) {
      Need n;
      if (!Term(n)) return false;
      members.push_back(std::move(n));
      if (at_ >= tokens_.size() || tokens_[at_] > kLink) return true;
      const int l = static_cast<int>(kLink - tokens_[at_++]);
      link = link == -1 || link == l ? l : -2;
      if (l != kLinkAnd && l != kLinkOr) link = -2;
    }
  }

  bool Term(Need& need) {
    if (at_ >= tokens_.size()) return false;
    const int64_t t = tokens_[at_++];
    if (t == kOpen) {
      // Bound by the module's own nesting limit, which built this rule.
      std::vector<Need> members;
      int link = -1;
      if (!Group(members, link)) return false;
      if (at_ >= tokens_.size() || tokens_[at_] != kClose) return false;
      ++at_;
      need = link < 0 && link != -1 ? Need{} : Combine(members, link);
      return true;
    }
    if (t < 0) return false;
    need = Leaf(lines_[static_cast<size_t>(t)], static_cast<size_t>(t));
    return true;
  }

  static Need Combine(std::vector<Need>& members, int link) {
    if (link == kLinkOr) {  // one of every member's needs
      Need all{false, {}};
      for (Need& m : members) {
        if (m.open) return Need{};
        all.any.insert(all.any.end(), m.any.begin(), m.any.end());
      }
      return all;
    }
    // AND (or one member): the most selective known need.
    Need* best = nullptr;
    for (Need& m : members)
      if (!m.open && (best == nullptr || m.any.size() < best->any.size()))
        best = &m;
    return best == nullptr ? Need{} : std::move(*best);
  }

  Need Leaf(const ConditionLine& l, size_t index) const {
    // An empty REL_EXT_TAGS is read from EXT_TAGS by the module: its
    // literals may stand in another field.
    if (l.negate || l.inverted || l.has_tag || l.type != kTypeText ||
        (index < host_.size() && host_[index]) || l.field == u"Channel" ||
        l.field == u"EventID" ||
        common::EqualsNoCase(common::ToUtf8(l.field), "REL_EXT_TAGS"))
      return {};
    std::optional<std::string> needle;
    if (l.op == kOpEquals || l.op == kOpContains)
      needle = AsciiKey(l.value);
    else if (l.op == kOpLike)
      needle = AsciiKey(LongestLiteral(l.value));
    if (!needle || needle->empty()) return {};
    return Need{false, {{common::ToUtf8(l.field), *needle}}};
  }

  const std::vector<ConditionLine>& lines_;
  const std::vector<bool>& host_;
  std::vector<int64_t> tokens_;
  size_t at_ = 0;
};

}  // namespace

std::vector<Gate> GatesOf(const std::vector<ConditionLine>& lines,
                          const std::vector<bool>& host) {
  std::vector<Gate> gates;
  for (Need& n : GateParser(lines, host).RootNeeds())
    if (!n.open) gates.push_back(Gate{std::move(n.any)});
  return gates;
}

}  // namespace eventquery::sigma
