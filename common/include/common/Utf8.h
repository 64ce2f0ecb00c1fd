// UTF-8 <-> UTF-16 conversion for the tools around the module (the platform
// libraries, the in-memory host and the command-line tool).
//
// Malformed input never fails: each byte that starts no valid UTF-8
// sequence, and an unpaired surrogate, becomes U+FFFD (or, on request, the
// byte's own escape). Cost is linear in the input.

#ifndef COMMON_UTF8_H_
#define COMMON_UTF8_H_

#include <string>
#include <string_view>

namespace common {

// Appends the UTF-8 bytes of the code point `c`. A surrogate (D800-DFFF)
// gets its three bytes too, which are no valid UTF-8: callers that want
// valid text replace it first.
inline void AppendCodePoint(char32_t c, std::string& out) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

// Appends the UTF-8 form of `in` to `out`.
inline void AppendUtf8(std::u16string_view in, std::string& out) {
  auto put = [&out](char32_t c) { AppendCodePoint(c, out); };
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() &&
        in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    put(c);
  }
}

inline std::string ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  AppendUtf8(in, out);
  return out;
}

// The length of the valid UTF-8 sequence at in[i] (1 to 4), or 0 when the
// byte there starts none (a stray continuation byte, an overlong form, a
// surrogate's three bytes, a sequence cut short).
inline size_t Utf8SequenceAt(std::string_view in, size_t i) {
  const auto b0 = static_cast<unsigned char>(in[i]);
  if (b0 < 0x80) return 1;
  size_t need = 0;
  char32_t c = 0, min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    need = 1, c = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    need = 2, c = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    need = 3, c = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (in.size() - i <= need) return 0;
  for (size_t k = 1; k <= need; ++k) {
    const auto b = static_cast<unsigned char>(in[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return need + 1;
}

// True when all of `in` is valid UTF-8. Linear.
inline bool IsValidUtf8(std::string_view in) {
  for (size_t i = 0; i < in.size();) {
    const size_t len = Utf8SequenceAt(in, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

// Appends the UTF-16 form of `in` to `out`; each byte that starts no valid
// sequence becomes U+DC00 + the byte when `escape` (so that two different
// texts stay different, as Python's "surrogateescape" keeps them), else
// U+FFFD. Returns the number of such bytes.
inline size_t AppendUtf16Marked(std::string_view in, std::u16string& out,
                                bool escape) {
  // Most text is ASCII: a byte a unit, written in place up to the first
  // that is not.
  const size_t start = out.size();
  out.resize(start + in.size());
  size_t ascii = 0;
  for (char16_t* to = out.data() + start;
       ascii < in.size() && static_cast<unsigned char>(in[ascii]) < 0x80;
       ++ascii)
    to[ascii] = static_cast<char16_t>(in[ascii]);
  out.resize(start + ascii);
  size_t invalid = 0;
  for (size_t i = ascii; i < in.size();) {
    const auto b0 = static_cast<unsigned char>(in[i]);
    const size_t len = Utf8SequenceAt(in, i);
    char32_t c;
    if (len == 0) {
      ++invalid;
      c = escape ? 0xDC00 + b0 : 0xFFFD;
      i += 1;
    } else {
      // The lead byte's bits, then six from each continuation byte.
      c = len == 1 ? b0 : b0 & (0x7F >> len);
      for (size_t k = 1; k < len; ++k)
        c = (c << 6) | (static_cast<unsigned char>(in[i + k]) & 0x3F);
      i += len;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
  }
  return invalid;
}

// Appends the UTF-16 form of `in` to `out`.
inline void AppendUtf16(std::string_view in, std::u16string& out) {
  AppendUtf16Marked(in, out, false);
}

// `in` as a message may show it: a NUL as \0 and each byte that starts no
// valid sequence as \xNN, the rest as it stands, so that the message is
// text.
inline std::string Printable(std::string_view in) {
  std::u16string wide;
  AppendUtf16Marked(in, wide, true);
  std::string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size()) {
      // A pair from a valid sequence; an escape never follows a lead unit.
      AppendUtf8(std::u16string_view(wide).substr(i, 2), out);
      ++i;
    } else if (c == 0) {
      out += "\\0";
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      out += "\\x";
      out += kHex[(c >> 4) & 0xF];
      out += kHex[c & 0xF];
    } else {
      AppendUtf8(std::u16string_view(&c, 1), out);
    }
  }
  return out;
}

inline std::u16string ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  AppendUtf16(in, out);
  return out;
}

}  // namespace common

#endif  // COMMON_UTF8_H_
