#include "WildcardOracle.h"

namespace oracle {
namespace {

// Set when a set ran into the end of the pattern.
struct Unterminated {};

bool MatchWildcardAt(const char16_t* p, const char16_t* t);

// p just past "[", t on the character to test; p ends on the closing "]".
bool MatchSet(const char16_t*& p, const char16_t*& t) {
  bool matched = false;
  bool negated = false;
  bool first = true;
  if (*p == u'!') {
    negated = true;
    ++p;
  }
  for (;;) {
    if (*p == u'\0') throw Unterminated();
    if (*p == u']' && !first) break;
    if (matched) {
      ++p;
      first = false;
    } else if (*p == u'-' && !first && p[1] != u']' && p[1] != u'\0' &&
               p[-1] < p[1]) {
      if (p[-1] <= *t && *t <= p[1]) {
        matched = true;
        p += 2;
      } else {
        ++p;
        first = false;
      }
    } else {
      if (*p == *t) matched = true;
      ++p;
      first = false;
    }
  }
  const bool result = negated ? !matched : matched;
  if (result) ++t;
  return result;
}

bool MatchStar(const char16_t*& p, const char16_t*& t) {
  ++p;
  while (*t) {
    if (*p == u'?') {
      ++t;
      ++p;
    } else if (*p == u'*') {
      ++p;
    } else {
      break;
    }
  }
  while (*p == u'*') ++p;
  if (!*t) return !*p;
  if (MatchWildcardAt(p, t)) return true;
  for (;;) {
    ++t;
    if (*p != u'[') {
      while (*t && *t != *p) ++t;
    }
    if (!*t) break;
    if (MatchWildcardAt(p, t)) return true;
  }
  return !*t && !*p;
}

bool MatchWildcardAt(const char16_t* p, const char16_t* t) {
  if (!*t && *p) return false;
  bool ok = true;
  while (ok && *p && *t) {
    switch (*p) {
      case u'*':
        ok = MatchStar(p, t);
        break;
      case u'?':
        ++t;
        ++p;
        break;
      case u'[':
        ++p;
        ok = MatchSet(p, t);
        ++p;
        break;
      default:
        ok = *p == *t;
        ++t;
        ++p;
        break;
    }
  }
  while (*p == u'*') {
    if (!ok) return false;
    ++p;
  }
  return ok && !*t && !*p;
}

}  // namespace

bool MatchWildcard(const char16_t* pattern, const char16_t* text) {
  try {
    return MatchWildcardAt(pattern, text);
  } catch (const Unterminated&) {
    return false;
  }
}

}  // namespace oracle
