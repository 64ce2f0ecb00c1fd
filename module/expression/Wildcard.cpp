#include "expression/Wildcard.h"

#include "expression/Text.h"

namespace filtermodule {
namespace {

enum class SetResult { kNoMatch, kMatch, kUnterminated };

// Tests `c` against the set whose members start at `p` (just past "[").
// On return `*end` is on the closing "]" unless the set is unterminated.
// Cost: O(length of the set).
SetResult MatchSet(const char16_t* p, char16_t c, const char16_t** end) {
  bool negated = false;
  if (*p == u'!') {
    negated = true;
    ++p;
  }
  bool matched = false;
  bool first = true;
  for (;;) {
    const char16_t m = *p;
    if (m == u'\0') return SetResult::kUnterminated;
    if (m == u']' && !first) break;
    if (!matched) {
      // A "-" makes a range from the member written before it to the one
      // after it when it is not first, not last and the two ascend.
      if (m == u'-' && !first && p[1] != u']' && p[1] != u'\0' &&
          p[-1] < p[1]) {
        if (p[-1] <= c && c <= p[1]) matched = true;
      } else if (m == c) {
        matched = true;
      }
    }
    ++p;
    first = false;
  }
  *end = p;
  return matched != negated ? SetResult::kMatch : SetResult::kNoMatch;
}

// The matcher, reading each text unit through `unit` (as it is, or folded).
template <typename Unit>
bool Match(const char16_t* pattern, const char16_t* text, Unit unit) {
  static constexpr char16_t kEmpty[] = u"";
  const char16_t* p = pattern != nullptr ? pattern : kEmpty;
  const char16_t* t = text != nullptr ? text : kEmpty;
  if (*t == u'\0') return *p == u'\0';

  // Greedy matching with one resume point: the pattern just after the last
  // "*" seen and the text position that star's run ended at. Every element
  // other than "*" takes exactly one character, so on a mismatch it suffices
  // to let the last star take one character more: an earlier star's choice
  // can never help. Each resume moves star_text on by one, hence the
  // O(pattern x text) bound.
  const char16_t* star_pattern = nullptr;
  const char16_t* star_text = nullptr;
  while (*t != u'\0') {
    const char16_t c = *p;
    if (c == u'*') {
      while (*p == u'*') ++p;
      if (*p == u'\0') return true;  // a final "*" takes the rest
      star_pattern = p;
      star_text = t;
      continue;
    }
    const char16_t* next = p + 1;
    bool ok;
    if (c == u'?') {
      ok = true;
    } else if (c == u'[') {
      const char16_t* end = nullptr;
      const SetResult r = MatchSet(p + 1, unit(*t), &end);
      if (r == SetResult::kUnterminated) return false;
      ok = r == SetResult::kMatch;
      next = end + 1;
    } else {
      ok = c != u'\0' && c == unit(*t);
    }
    if (ok) {
      p = next;
      ++t;
      continue;
    }
    if (star_pattern == nullptr) return false;
    // Let the last star take one more character; when the element after it
    // is a plain character, skip straight to the next place it occurs.
    p = star_pattern;
    t = ++star_text;
    const char16_t want = *p;
    if (want != u'?' && want != u'[') {
      while (*t != u'\0' && unit(*t) != want) ++t;
      star_text = t;
    }
  }
  while (*p == u'*') ++p;
  return *p == u'\0';
}

}  // namespace

bool MatchWildcard(const char16_t* pattern, const char16_t* text) noexcept {
  return Match(pattern, text, [](char16_t c) { return c; });
}

bool MatchWildcardFolded(const char16_t* pattern,
                         const char16_t* text) noexcept {
  return Match(pattern, text, [](char16_t c) { return Lowered(c); });
}

}  // namespace filtermodule
