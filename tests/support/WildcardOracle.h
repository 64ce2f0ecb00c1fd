// A deliberately literal, recursive wildcard matcher: the reference that
// the production matcher is compared with. Exponential on star-heavy
// patterns and recursive per "*"; for small inputs only.

#ifndef TESTS_WILDCARDORACLE_H_
#define TESTS_WILDCARDORACLE_H_

namespace oracle {

// True when the whole text matches the whole pattern. A pattern that ends
// inside a set matches nothing (the reference stops at the terminator).
bool MatchWildcard(const char16_t* pattern, const char16_t* text);

}  // namespace oracle

#endif  // TESTS_WILDCARDORACLE_H_
