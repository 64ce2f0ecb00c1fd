// A Sigma value as modifiers transform it: code points, wildcards and
// windash sets, or raw bytes once an encoding modifier made them.
//
// Thread safety: plain data and pure functions.

#ifndef SIGMA_SIGMAVALUE_H_
#define SIGMA_SIGMAVALUE_H_

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace eventquery::sigma {

// Why a rule cannot be compiled exactly; the rule is then reported and
// skipped.
class Unsupported : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Piece {
  enum Kind : unsigned char { kChar, kAny, kOne, kDash };
  Kind kind = kChar;
  char32_t c = 0;
};

struct SigmaValue {
  std::vector<Piece> pieces;  // while text
  bool bytes = false;         // after utf16*: `raw` holds the bytes
  std::string raw;
};

// The dashes windash makes interchangeable.
inline constexpr char32_t kDashes[] = {U'-', U'/', U'\u2013', U'\u2014',
                                       U'\u2015'};

// A rule's text with its wildcards: "*" and "?" are wildcards, "\" before
// "*", "?" or "\" makes that character literal, any other "\" is itself.
SigmaValue WithWildcards(std::string_view utf8);
// A text without wildcards (what base64 makes).
SigmaValue Literal(std::string_view utf8);

bool HasWildcards(const SigmaValue& v);
// The value's text; only for a value without wildcards or sets.
std::string PlainText(const SigmaValue& v);

// windash: every dash becomes a set of all of them.
void Windash(SigmaValue& v);
// utf16le / utf16be / utf16 (with a byte order mark, little-endian).
void EncodeUtf16(SigmaValue& v, bool little_endian, bool bom);
// base64 of the value's bytes (UTF-8 unless encoded); with `offsets`, the
// three forms the value takes at each offset inside a longer encoded text.
std::vector<SigmaValue> Base64(const SigmaValue& v, bool offsets);

// The module's LIKE pattern for the value: "*", "?" and the dash set are
// wildcards; a literal "*", "?" or "[" stands in a set of its own, and a
// literal "%" (which the module reads as "*") in a set that admits only it.
std::string LikePattern(const SigmaValue& v);
// The same as an RE2 pattern (to be matched whole).
std::string RegexPattern(const SigmaValue& v);

// `text` quoted for a message about a rule, cut to a line's worth with its
// size said: a hostile rule (a 1 MB pattern) is not echoed whole.
std::string Quoted(std::string_view text);

}  // namespace eventquery::sigma

#endif  // SIGMA_SIGMAVALUE_H_
