// Whole-text wildcard matching.
//
// Pattern elements: "*" any run of characters (the empty run included), "?"
// exactly one character, "[...]" one character of a set, anything else the
// same 16-bit code unit. In a set, a leading "!" negates it; a "]" first (or
// first after the "!") is a member; "a-z" is a range when the "-" is neither
// first nor last and its neighbours ascend (otherwise "-" is a member: [a-],
// [-a], [z-a]); a range may start at the upper end of the one before it, so
// [a-c-e] admits a to e. There is no escape character: match "*", "?" or "["
// literally through a set holding only that character ("[*]").
//
// An empty text matches only the empty pattern ("*" included). A pattern that
// ends inside a set with no closing "]" matches nothing.
//
// The answers are those of a complete backtracking search in which every "*"
// may take any run of characters, found without recursion: the stack depth
// is constant, and the worst case is O(pattern length x text length) code
// unit comparisons. Nothing is allocated or copied; no character past either
// terminator is read. Safe on any thread.

#ifndef FILTERMODULE_EXPRESSION_WILDCARD_H_
#define FILTERMODULE_EXPRESSION_WILDCARD_H_

namespace filtermodule {

// True when the whole `text` matches the whole `pattern`; null counts as
// empty.
bool MatchWildcard(const char16_t* pattern, const char16_t* text) noexcept;
// The same as matching the lower-cased `text` (see Text.h), without making
// it: each text unit is folded as it is read.
bool MatchWildcardFolded(const char16_t* pattern,
                         const char16_t* text) noexcept;

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_WILDCARD_H_
