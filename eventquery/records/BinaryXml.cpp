#include "BinaryXml.h"

#include <charconv>
#include <cstring>

#include "common/Utf8.h"

namespace eventquery {
namespace {

// Tokens; bit 0x40 of an element's token says it has attributes, of an
// attribute's or a value's that more follow.
constexpr uint8_t kEndOfFragment = 0x00;
constexpr uint8_t kOpenElement = 0x01;
constexpr uint8_t kCloseStart = 0x02;
constexpr uint8_t kCloseEmpty = 0x03;
constexpr uint8_t kEndElement = 0x04;
constexpr uint8_t kValueText = 0x05;
constexpr uint8_t kAttribute = 0x06;
constexpr uint8_t kCData = 0x07;
constexpr uint8_t kCharRef = 0x08;
constexpr uint8_t kEntityRef = 0x09;
constexpr uint8_t kPiTarget = 0x0A;
constexpr uint8_t kPiData = 0x0B;
constexpr uint8_t kTemplateInstance = 0x0C;
constexpr uint8_t kNormalSubstitution = 0x0D;
constexpr uint8_t kOptionalSubstitution = 0x0E;
constexpr uint8_t kFragmentHeader = 0x0F;

constexpr uint8_t kBinaryXmlValue = 0x21;
constexpr uint8_t kArray = 0x80;

std::string Hex(uint64_t v) {
  char buf[24] = "0x";
  auto r = std::to_chars(buf + 2, buf + 24, v, 16);
  return std::string(buf, r.ptr);
}

template <typename T>
void Decimal(T v, std::string& out) {
  char buf[32];
  auto r = std::to_chars(buf, buf + 32, v);
  out.append(buf, r.ptr);
}

void Digits(std::string& out, uint64_t v, int width) {
  char buf[24];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out.append(buf, static_cast<size_t>(width));
}

// Civil date of a count of days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
}

// "2026-12-08T22:00:00.1234567Z" from 100 ns units since 1601-01-01.
void FileTime(uint64_t t, std::string& out) {
  constexpr uint64_t kPerSecond = 10000000;
  constexpr int64_t kDays1601To1970 = 134774;
  const uint64_t seconds = t / kPerSecond;
  const auto days = static_cast<int64_t>(seconds / 86400) - kDays1601To1970;
  const uint64_t of_day = seconds % 86400;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  Digits(out, static_cast<uint64_t>(y), 4);
  out.push_back('-');
  Digits(out, m, 2);
  out.push_back('-');
  Digits(out, d, 2);
  out.push_back('T');
  Digits(out, of_day / 3600, 2);
  out.push_back(':');
  Digits(out, of_day / 60 % 60, 2);
  out.push_back(':');
  Digits(out, of_day % 60, 2);
  out.push_back('.');
  Digits(out, t % kPerSecond, 7);
  out.push_back('Z');
}

size_t FixedSize(uint8_t type) {
  switch (type) {
    case 0x03:
    case 0x04:
      return 1;
    case 0x05:
    case 0x06:
      return 2;
    case 0x07:
    case 0x08:
    case 0x0B:
    case 0x0D:
    case 0x14:
      return 4;
    case 0x09:
    case 0x0A:
    case 0x0C:
    case 0x11:
    case 0x15:
      return 8;
    case 0x0F:
    case 0x12:
      return 16;
    default:
      return 0;
  }
}

// A string value without the terminating NULs Windows often stores.
std::string_view WithoutTrailingNuls(std::string_view utf16) {
  while (utf16.size() >= 2 && utf16[utf16.size() - 1] == 0 &&
         utf16[utf16.size() - 2] == 0)
    utf16.remove_suffix(2);
  return utf16;
}

}  // namespace

void AppendUtf16Le(std::string_view bytes, std::string& out) {
  const size_t n = bytes.size() / 2;
  auto unit = [&](size_t i) {
    return static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                 static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  };
  // Most names and values are ASCII: a unit a byte, written in place up
  // to the first that is not.
  const size_t start = out.size();
  out.resize(start + n);
  size_t ascii = 0;
  for (char* to = out.data() + start; ascii < n && unit(ascii) < 0x80; ++ascii)
    to[ascii] = static_cast<char>(unit(ascii));
  out.resize(start + ascii);
  for (size_t i = ascii; i < n; ++i) {
    char32_t c = unit(i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n) {
      const char16_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    common::AppendCodePoint(c, out);
  }
}

uint8_t BinaryXmlDecoder::Byte(Cursor& c) {
  if (c.at >= c.end) throw BinaryXmlError("the record's XML ends too soon");
  return static_cast<uint8_t>(chunk_[c.at++]);
}

uint16_t BinaryXmlDecoder::U16(Cursor& c) {
  return LoadLe<uint16_t>(Bytes(c, 2));
}

uint32_t BinaryXmlDecoder::U32(Cursor& c) {
  return LoadLe<uint32_t>(Bytes(c, 4));
}

std::string_view BinaryXmlDecoder::Bytes(Cursor& c, uint32_t n) {
  if (n > c.end - c.at) throw BinaryXmlError("the record's XML ends too soon");
  std::string_view b = chunk_.substr(c.at, n);
  c.at += n;
  return b;
}

std::string_view BinaryXmlDecoder::Name(Cursor& c) {
  const uint32_t offset = U32(c);
  // A name is defined where it is first used, and referred to after that.
  if (offset == c.at) {
    if (c.end - c.at < 8) throw BinaryXmlError("a name is cut short");
    const uint16_t count = LoadLe<uint16_t>(chunk_.substr(c.at + 6, 2));
    Bytes(c, 8 + 2u * count + 2);
  }
  if (auto found = names_.find(offset); found != names_.end())
    return found->second;
  if (offset > chunk_.size() || chunk_.size() - offset < 8)
    throw BinaryXmlError("a name lies outside the chunk");
  const uint16_t count = LoadLe<uint16_t>(chunk_.substr(offset + 6, 2));
  if (chunk_.size() - offset - 8 < 2u * count)
    throw BinaryXmlError("a name lies outside the chunk");
  std::string name;
  AppendUtf16Le(chunk_.substr(offset + 8, 2u * count), name);
  return names_.emplace(offset, std::move(name)).first->second;
}

void BinaryXmlDecoder::Spend(size_t units) {
  work_ += units;
  if (work_ > kMaxWork)
    throw BinaryXmlError("the record's XML expands beyond " +
                         std::to_string(kMaxWork) + " units of work");
}

void BinaryXmlDecoder::Reset(std::string_view chunk) {
  chunk_ = chunk;
  names_.clear();
}

void BinaryXmlDecoder::Decode(uint32_t begin, uint32_t end,
                              std::vector<XmlElement>& tree) {
  tree.clear();
  tree_ = &tree;
  work_ = 0;
  if (end > chunk_.size() || begin > end)
    throw BinaryXmlError("the record lies outside the chunk");
  Cursor c{begin, end};
  Fragment(c, nullptr, -1, 0);
  if (tree.empty()) throw BinaryXmlError("the record holds no element");
}

void BinaryXmlDecoder::Fragment(Cursor& c, const std::vector<Value>* values,
                                int parent, int depth) {
  if (depth > kMaxDepth) throw BinaryXmlError("the XML nests too deep");
  for (;;) {
    if (c.at >= c.end) return;
    const uint8_t token = static_cast<uint8_t>(chunk_[c.at]);
    switch (token & 0xBF) {
      case kFragmentHeader:
        Bytes(c, 4);
        break;
      case kTemplateInstance:
        TemplateInstance(c, parent, depth + 1);
        break;
      case kOpenElement:
        Element(c, values, parent, depth + 1);
        break;
      case kEndOfFragment:
        ++c.at;
        return;
      case kPiTarget:
        ++c.at;
        Name(c);
        break;
      case kPiData: {
        ++c.at;
        Bytes(c, 2u * U16(c));
        break;
      }
      default:
        throw BinaryXmlError("unexpected token 0x" + Hex(token).substr(2) +
                             " at offset " + std::to_string(c.at));
    }
  }
}

void BinaryXmlDecoder::TemplateInstance(Cursor& c, int parent, int depth) {
  Bytes(c, 2);  // token, unknown
  U32(c);       // template id
  const uint32_t definition = U32(c);
  if (definition > chunk_.size() || chunk_.size() - definition < 24)
    throw BinaryXmlError("a template lies outside the chunk");
  const uint32_t size = LoadLe<uint32_t>(chunk_.substr(definition + 20, 4));
  if (chunk_.size() - definition - 24 < size)
    throw BinaryXmlError("a template lies outside the chunk");
  // Defined here, at its first use in the chunk: the values follow it.
  if (definition == c.at) Bytes(c, 24 + size);
  const uint32_t count = U32(c);
  if (count > (c.end - c.at) / 4)
    throw BinaryXmlError("a template instance has too many values");
  std::vector<Value> values(count);
  std::vector<uint16_t> sizes(count);
  for (uint32_t i = 0; i < count; ++i) {
    sizes[i] = U16(c);
    values[i].type = Byte(c);
    Byte(c);
  }
  for (uint32_t i = 0; i < count; ++i) values[i].bytes = Bytes(c, sizes[i]);
  Spend(size);  // its body is decoded again at every use
  Cursor body{definition + 24, definition + 24 + size};
  Fragment(body, &values, parent, depth);
}

void BinaryXmlDecoder::Element(Cursor& c, const std::vector<Value>* values,
                               int parent, int depth) {
  if (depth > kMaxDepth) throw BinaryXmlError("the XML nests too deep");
  Spend(1);
  const uint8_t token = Byte(c);
  U16(c);  // dependency
  const uint32_t size = U32(c);
  if (size > c.end - c.at) throw BinaryXmlError("an element is cut short");
  std::vector<XmlElement>& tree = *tree_;
  const auto self = static_cast<uint32_t>(tree.size());
  tree.emplace_back();
  tree[self].name = Name(c);
  if (parent >= 0) tree[static_cast<size_t>(parent)].children.push_back(self);
  if ((token & 0x40) != 0) {
    U32(c);  // size of the attribute list
    while (c.at < c.end &&
           (static_cast<uint8_t>(chunk_[c.at]) & 0xBF) == kAttribute) {
      ++c.at;
      const std::string_view name = Name(c);
      std::string value;
      if (ValueTokens(c, values, -1, depth, value, nullptr))
        tree[self].attributes.emplace_back(name, std::move(value));
    }
  }
  const uint8_t close = Byte(c);
  if (close == kCloseEmpty) return;
  if (close != kCloseStart)
    throw BinaryXmlError("an element's start is not closed");
  bool content = false;   // anything but optional values that are absent
  bool optional = false;  // optional values that are absent
  ArrayContent arrays;
  for (;;) {
    if (c.at >= c.end) throw BinaryXmlError("an element is not ended");
    const uint8_t next = static_cast<uint8_t>(chunk_[c.at]);
    if (next == kEndElement) {
      ++c.at;
      break;
    }
    if ((next & 0xBF) == kOpenElement) {
      Element(c, values, static_cast<int>(self), depth + 1);
      content = true;
      continue;
    }
    // A processing instruction inside an element is skipped.
    if ((next & 0xBF) == kPiTarget) {
      ++c.at;
      Name(c);
      continue;
    }
    if ((next & 0xBF) == kPiData) {
      ++c.at;
      Bytes(c, 2u * U16(c));
      continue;
    }
    std::string text;
    const size_t children = tree[self].children.size();
    const uint32_t before = c.at;
    const int arrays_before = arrays.count;
    const bool present =
        ValueTokens(c, values, static_cast<int>(self), depth, text, &arrays);
    if (c.at == before)
      throw BinaryXmlError("unexpected token 0x" + Hex(next).substr(2) +
                           " at offset " + std::to_string(c.at));
    if (present || tree[self].children.size() != children) content = true;
    if (!present) optional = true;
    if (arrays.count != arrays_before) {
      arrays.begin += tree[self].text.size();
      arrays.end += tree[self].text.size();
    }
    tree[self].text += text;
  }
  // An element whose whole content is one array value is shown by Windows
  // as one element per item (the <Data> of MSSQL's and MsiInstaller's
  // events): the element is repeated, an item in each.
  if (arrays.count == 1 && arrays.items.size() > 1 && parent >= 0 &&
      tree[self].children.empty() && arrays.begin == 0 &&
      arrays.end == tree[self].text.size()) {
    tree[self].text = std::move(arrays.items[0]);
    for (size_t i = 1; i < arrays.items.size(); ++i) {
      Spend(1);
      XmlElement copy;
      copy.name = tree[self].name;
      copy.attributes = tree[self].attributes;
      copy.text = std::move(arrays.items[i]);
      tree[static_cast<size_t>(parent)].children.push_back(
          static_cast<uint32_t>(tree.size()));
      tree.push_back(std::move(copy));
    }
    return;
  }
  // An element whose only content is an optional value that is absent is
  // left out, as Windows renders it. It has no children: it is the last.
  if (optional && !content && tree.size() == self + 1) {
    tree.pop_back();
    if (parent >= 0) tree[static_cast<size_t>(parent)].children.pop_back();
  }
}

bool BinaryXmlDecoder::ValueTokens(Cursor& c, const std::vector<Value>* values,
                                   int parent, int depth, std::string& out,
                                   ArrayContent* arrays) {
  const bool in_attribute = arrays == nullptr;
  bool present = false, any = false;
  while (c.at < c.end) {
    const uint8_t token = static_cast<uint8_t>(chunk_[c.at]);
    switch (token & 0xBF) {
      case kValueText: {
        c.at += 1;
        const uint8_t type = Byte(c);
        if (type != 0x01) throw BinaryXmlError("a text value is no string");
        AppendUtf16Le(Bytes(c, 2u * U16(c)), out);
        present = true;
        break;
      }
      case kCData: {
        c.at += 1;
        AppendUtf16Le(Bytes(c, 2u * U16(c)), out);
        present = true;
        break;
      }
      case kCharRef: {
        c.at += 1;
        common::AppendCodePoint(U16(c), out);
        present = true;
        break;
      }
      case kEntityRef: {
        c.at += 1;
        const std::string_view name = Name(c);
        if (name == "amp")
          out += '&';
        else if (name == "lt")
          out += '<';
        else if (name == "gt")
          out += '>';
        else if (name == "quot")
          out += '"';
        else if (name == "apos")
          out += '\'';
        else
          out += "&" + std::string(name) + ";";
        present = true;
        break;
      }
      case kNormalSubstitution:
      case kOptionalSubstitution: {
        c.at += 1;
        const uint16_t id = U16(c);
        Byte(c);  // the type the template expects; the value's own decides
        if (values == nullptr || id >= values->size())
          throw BinaryXmlError("a substitution has no value");
        const Value& v = (*values)[id];
        if (v.type == 0x00 || (v.type != 0x01 && v.bytes.empty())) {
          if ((token & 0xBF) == kNormalSubstitution) present = true;
          break;
        }
        if (v.type == kBinaryXmlValue && in_attribute)
          throw BinaryXmlError("an attribute holds XML");
        const size_t begin = out.size();
        Substitution(v, parent, depth, out);
        if (arrays != nullptr && (v.type & kArray) != 0) {
          ++arrays->count;
          ArrayItems(v, arrays->items);
          arrays->begin = begin;
          arrays->end = out.size();
        }
        present = true;
        break;
      }
      default:
        return present || !any;
    }
    any = true;
  }
  return present || !any;
}

void BinaryXmlDecoder::Substitution(const Value& v, int parent, int depth,
                                    std::string& out) {
  Spend(v.bytes.size());
  if (v.type == kBinaryXmlValue) {
    const auto begin = static_cast<uint32_t>(v.bytes.data() - chunk_.data());
    Cursor inner{begin, begin + static_cast<uint32_t>(v.bytes.size())};
    Fragment(inner, nullptr, parent, depth + 1);
    return;
  }
  RenderValue(v, out);
}

void BinaryXmlDecoder::ArrayItems(const Value& v,
                                  std::vector<std::string>& items) {
  const std::string_view b = v.bytes;
  items.clear();
  const uint8_t type = v.type & 0x7F;
  if (type == 0x01) {
    // Strings, each ended by a NUL.
    size_t start = 0;
    for (size_t i = 0; i + 1 < b.size(); i += 2) {
      if (b[i] != 0 || b[i + 1] != 0) continue;
      AppendUtf16Le(b.substr(start, i - start), items.emplace_back());
      start = i + 2;
    }
    if (start + 1 < b.size())
      AppendUtf16Le(b.substr(start), items.emplace_back());
    return;
  }
  const size_t size = FixedSize(type);
  if (size == 0 || b.size() % size != 0)
    throw BinaryXmlError("an array value of type 0x" + Hex(v.type).substr(2) +
                         " has " + std::to_string(b.size()) + " bytes");
  for (size_t i = 0; i < b.size(); i += size)
    RenderValue(Value{type, b.substr(i, size)}, items.emplace_back());
}

void BinaryXmlDecoder::RenderValue(const Value& v, std::string& out) {
  const std::string_view b = v.bytes;
  if ((v.type & kArray) != 0) {
    // Where one text is wanted (an attribute, mixed content): the items
    // joined by commas.
    std::vector<std::string> items;
    ArrayItems(v, items);
    for (size_t i = 0; i < items.size(); ++i) {
      if (i > 0) out += ',';
      out += items[i];
    }
    return;
  }
  const size_t fixed = FixedSize(v.type);
  if (fixed != 0 && b.size() != fixed)
    throw BinaryXmlError("a value of type 0x" + Hex(v.type).substr(2) +
                         " has " + std::to_string(b.size()) + " bytes");
  switch (v.type) {
    case 0x01:
      AppendUtf16Le(WithoutTrailingNuls(b), out);
      return;
    case 0x02: {
      // Text in the system's code page: read as Latin-1.
      std::string_view s = b;
      while (!s.empty() && s.back() == '\0') s.remove_suffix(1);
      for (char ch : s) common::AppendCodePoint(static_cast<uint8_t>(ch), out);
      return;
    }
    case 0x03:
      return Decimal(LoadLe<int8_t>(b), out);
    case 0x04:
      return Decimal(LoadLe<uint8_t>(b), out);
    case 0x05:
      return Decimal(LoadLe<int16_t>(b), out);
    case 0x06:
      return Decimal(LoadLe<uint16_t>(b), out);
    case 0x07:
      return Decimal(LoadLe<int32_t>(b), out);
    case 0x08:
      return Decimal(LoadLe<uint32_t>(b), out);
    case 0x09:
      return Decimal(LoadLe<int64_t>(b), out);
    case 0x0A:
      return Decimal(LoadLe<uint64_t>(b), out);
    case 0x0B:
      return Decimal(LoadLe<float>(b), out);
    case 0x0C:
      return Decimal(LoadLe<double>(b), out);
    case 0x0D:
      out += LoadLe<uint32_t>(b) != 0 ? "true" : "false";
      return;
    case 0x0E: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      for (char ch : b) {
        out += kDigits[static_cast<uint8_t>(ch) >> 4];
        out += kDigits[static_cast<uint8_t>(ch) & 15];
      }
      return;
    }
    case 0x0F: {
      static constexpr char kDigits[] = "0123456789ABCDEF";
      auto put = [&](uint64_t x, int nibbles) {
        for (int i = nibbles - 1; i >= 0; --i)
          out += kDigits[(x >> (4 * i)) & 15];
      };
      out += '{';
      put(LoadLe<uint32_t>(b), 8);
      out += '-';
      put(LoadLe<uint16_t>(b.substr(4)), 4);
      out += '-';
      put(LoadLe<uint16_t>(b.substr(6)), 4);
      out += '-';
      for (int i = 8; i < 16; ++i) {
        if (i == 10) out += '-';
        put(static_cast<uint8_t>(b[static_cast<size_t>(i)]), 2);
      }
      out += '}';
      return;
    }
    case 0x10:
      if (b.size() == 4)
        out += Hex(LoadLe<uint32_t>(b));
      else if (b.size() == 8)
        out += Hex(LoadLe<uint64_t>(b));
      else
        throw BinaryXmlError("a size value has " + std::to_string(b.size()) +
                             " bytes");
      return;
    case 0x11:
      return FileTime(LoadLe<uint64_t>(b), out);
    case 0x12: {
      Digits(out, LoadLe<uint16_t>(b), 4);
      out += '-';
      Digits(out, LoadLe<uint16_t>(b.substr(2)), 2);
      out += '-';
      Digits(out, LoadLe<uint16_t>(b.substr(6)), 2);
      out += 'T';
      Digits(out, LoadLe<uint16_t>(b.substr(8)), 2);
      out += ':';
      Digits(out, LoadLe<uint16_t>(b.substr(10)), 2);
      out += ':';
      Digits(out, LoadLe<uint16_t>(b.substr(12)), 2);
      out += '.';
      Digits(out, LoadLe<uint16_t>(b.substr(14)), 3);
      out += 'Z';
      return;
    }
    case 0x13: {
      if (b.size() < 8 || b.size() != 8 + 4u * static_cast<uint8_t>(b[1]))
        throw BinaryXmlError("a SID value has " + std::to_string(b.size()) +
                             " bytes");
      uint64_t authority = 0;
      for (int i = 2; i < 8; ++i)
        authority =
            authority << 8 | static_cast<uint8_t>(b[static_cast<size_t>(i)]);
      out += "S-";
      Decimal(static_cast<uint8_t>(b[0]), out);
      out += '-';
      Decimal(authority, out);
      for (size_t i = 8; i < b.size(); i += 4) {
        out += '-';
        Decimal(LoadLe<uint32_t>(b.substr(i)), out);
      }
      return;
    }
    case 0x14:
      out += Hex(LoadLe<uint32_t>(b));
      return;
    case 0x15:
      out += Hex(LoadLe<uint64_t>(b));
      return;
    default:
      throw BinaryXmlError("a value of unknown type 0x" +
                           Hex(v.type).substr(2));
  }
}

}  // namespace eventquery
