#include "SigmaValue.h"

#include <re2/re2.h>

#include "common/Utf8.h"

namespace eventquery::sigma {
namespace {

// The code points of UTF-8 text; an invalid byte is U+FFFD.
std::u32string CodePoints(std::string_view utf8) {
  const std::u16string wide = common::ToUtf16(utf8);
  std::u32string out;
  for (size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() &&
        wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

bool IsDash(char32_t c) {
  for (char32_t d : kDashes)
    if (c == d) return true;
  return false;
}

void RequireText(const SigmaValue& v, const char* modifier) {
  if (v.bytes)
    throw Unsupported(std::string(modifier) +
                      " after an encoding modifier: the value is bytes");
}

}  // namespace

SigmaValue WithWildcards(std::string_view utf8) {
  const std::u32string text = CodePoints(utf8);
  SigmaValue v;
  for (size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c == U'\\' && i + 1 < text.size() &&
        (text[i + 1] == U'*' || text[i + 1] == U'?' || text[i + 1] == U'\\')) {
      v.pieces.push_back({Piece::kChar, text[++i]});
    } else if (c == U'*') {
      v.pieces.push_back({Piece::kAny, 0});
    } else if (c == U'?') {
      v.pieces.push_back({Piece::kOne, 0});
    } else {
      v.pieces.push_back({Piece::kChar, c});
    }
  }
  return v;
}

SigmaValue Literal(std::string_view utf8) {
  SigmaValue v;
  for (char32_t c : CodePoints(utf8)) v.pieces.push_back({Piece::kChar, c});
  return v;
}

bool HasWildcards(const SigmaValue& v) {
  for (const Piece& p : v.pieces)
    if (p.kind != Piece::kChar) return true;
  return false;
}

std::string PlainText(const SigmaValue& v) {
  if (v.bytes) return v.raw;
  std::string out;
  for (const Piece& p : v.pieces) common::AppendCodePoint(p.c, out);
  return out;
}

void Windash(SigmaValue& v) {
  RequireText(v, "windash");
  for (Piece& p : v.pieces)
    if (p.kind == Piece::kChar && IsDash(p.c)) p.kind = Piece::kDash;
}

void EncodeUtf16(SigmaValue& v, bool little_endian, bool bom) {
  RequireText(v, "utf16");
  if (HasWildcards(v))
    throw Unsupported("an encoding modifier on a value with wildcards");
  std::string out;
  auto unit = [&](char16_t u) {
    const char lo = static_cast<char>(u & 0xFF);
    const char hi = static_cast<char>(u >> 8);
    out.push_back(little_endian ? lo : hi);
    out.push_back(little_endian ? hi : lo);
  };
  if (bom) unit(0xFEFF);
  std::string utf8;
  for (const Piece& p : v.pieces) common::AppendCodePoint(p.c, utf8);
  for (char16_t u : common::ToUtf16(utf8)) unit(u);
  v.pieces.clear();
  v.bytes = true;
  v.raw = std::move(out);
}

std::vector<SigmaValue> Base64(const SigmaValue& v, bool offsets) {
  if (!v.bytes && HasWildcards(v))
    throw Unsupported("base64 of a value with wildcards");
  const std::string bytes = v.bytes ? v.raw : PlainText(v);
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  auto encode = [](const std::string& in) {
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
      const unsigned n = (static_cast<unsigned char>(in[i]) << 16) |
                         (static_cast<unsigned char>(in[i + 1]) << 8) |
                         static_cast<unsigned char>(in[i + 2]);
      for (int s = 18; s >= 0; s -= 6) out.push_back(kAlphabet[(n >> s) & 63]);
    }
    if (i < in.size()) {
      unsigned n = static_cast<unsigned char>(in[i]) << 16;
      if (i + 1 < in.size()) n |= static_cast<unsigned char>(in[i + 1]) << 8;
      out.push_back(kAlphabet[(n >> 18) & 63]);
      out.push_back(kAlphabet[(n >> 12) & 63]);
      out.push_back(i + 1 < in.size() ? kAlphabet[(n >> 6) & 63] : '=');
      out.push_back('=');
    }
    return out;
  };
  std::vector<SigmaValue> forms;
  if (!offsets) {
    forms.push_back(Literal(encode(bytes)));
    return forms;
  }
  // At offset i the value follows i unknown bytes: the characters that
  // also depend on bytes before or after it are cut off.
  static constexpr size_t kStartCut[] = {0, 2, 3};
  static constexpr size_t kEndCut[] = {0, 3, 2};
  for (size_t i = 0; i < 3; ++i) {
    const std::string encoded = encode(std::string(i, '\0') + bytes);
    const size_t start = kStartCut[i];
    const size_t end_cut = kEndCut[(bytes.size() + i) % 3];
    if (encoded.size() < start + end_cut + 1)
      throw Unsupported("base64offset of a value too short to be found");
    forms.push_back(
        Literal(encoded.substr(start, encoded.size() - start - end_cut)));
  }
  return forms;
}

std::string LikePattern(const SigmaValue& v) {
  std::string out;
  for (const Piece& p : v.pieces) {
    switch (p.kind) {
      case Piece::kAny:
        out.push_back('*');
        break;
      case Piece::kOne:
        out.push_back('?');
        break;
      case Piece::kDash:
        // "-" first is a member of the set, not a range.
        out += "[-/\u2013\u2014\u2015]";
        break;
      case Piece::kChar:
        // The module's LIKE has no escape character, and turns every "%"
        // into "*" before matching, inside a set too: a "%" is matched by
        // the set of every character but U+0001-"$" and "&"-U+FFFF (a
        // text never holds U+0000).
        if (p.c == U'%') {
          out += "[!\x01-$&-\xEF\xBF\xBF]";
        } else if (p.c == U'*' || p.c == U'?' || p.c == U'[') {
          out.push_back('[');
          out.push_back(static_cast<char>(p.c));
          out.push_back(']');
        } else {
          common::AppendCodePoint(p.c, out);
        }
        break;
    }
  }
  return out;
}

std::string RegexPattern(const SigmaValue& v) {
  std::string out = "(?s)";
  std::string run;
  auto flush = [&] {
    out += RE2::QuoteMeta(run);
    run.clear();
  };
  for (const Piece& p : v.pieces) {
    if (p.kind == Piece::kChar) {
      common::AppendCodePoint(p.c, run);
      continue;
    }
    flush();
    out += p.kind == Piece::kAny   ? ".*"
           : p.kind == Piece::kOne ? "."
                                   : "[-/\u2013\u2014\u2015]";
  }
  flush();
  return out;
}

std::string Quoted(std::string_view text) {
  constexpr size_t kMost = 80;
  if (text.size() <= kMost) return "'" + std::string(text) + "'";
  size_t cut = kMost;
  // Not inside a UTF-8 sequence.
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
    --cut;
  return "'" + std::string(text.substr(0, cut)) + "...' (" +
         std::to_string(text.size()) + " bytes)";
}

}  // namespace eventquery::sigma
