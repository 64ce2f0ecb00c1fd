// Windows event log binary XML, as the records of an .evtx chunk hold it,
// decoded into a small element tree. Private to the records library.
//
// A record's XML is a template instance: a template defined once in the
// chunk (element tree with substitution slots) and the record's values.
// Names and templates are referred to by their offset in the chunk, so a
// decoder works on one whole chunk. Values are rendered as Windows renders
// them in an event's XML: decimal integers, hexadecimal ones as "0x3e7",
// GUIDs in braces and upper case, SIDs as "S-1-5-18", times as ISO 8601
// UTC ("2026-12-08T22:00:00.1234567Z"), binary as upper-case hex. UTF-16
// text becomes UTF-8; an unpaired surrogate is kept as its three-byte
// (invalid UTF-8) form, so that what reads the value can say so.
//
// Cost: a template's body is decoded again at each use and a binary XML
// value at each substitution that names it, so a record could make work
// grow as a power of its size; the work of one record is therefore
// bounded (kMaxWork: elements plus the bytes of templates and values
// decoded), as is nesting (kMaxDepth). A record past either bound, or
// malformed, throws BinaryXmlError; nothing is read outside the chunk.
//
// Thread safety: a decoder is used by one thread.

#ifndef RECORDS_BINARYXML_H_
#define RECORDS_BINARYXML_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace eventquery {

class BinaryXmlError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One element of a decoded record.
struct XmlElement {
  std::string_view name;  // valid while the decoder's chunk is
  std::vector<std::pair<std::string_view, std::string>> attributes;
  std::string text;
  std::vector<uint32_t> children;  // indexes in the tree
};

class BinaryXmlDecoder {
 public:
  // Elements, templates and values nest at most this deep.
  static constexpr int kMaxDepth = 64;
  // The most work one record may take (a real event takes a few
  // thousand units).
  static constexpr size_t kMaxWork = size_t{1} << 24;

  // Decodes records of `chunk` (the whole chunk, kept by the caller while
  // the decoder is used on it). Forgets what it knew of another chunk.
  void Reset(std::string_view chunk);
  // Decodes the binary XML at [begin, end) of the chunk into `tree`; the
  // root element is tree[0]. Throws BinaryXmlError.
  void Decode(uint32_t begin, uint32_t end, std::vector<XmlElement>& tree);

 private:
  struct Value {
    uint8_t type;
    std::string_view bytes;
  };
  struct Cursor {
    uint32_t at, end;
  };
  // The array values of an element's content: how many, and the items and
  // place in the element's text of the last one.
  struct ArrayContent {
    int count = 0;
    std::vector<std::string> items;
    size_t begin = 0, end = 0;
  };

  uint8_t Byte(Cursor& c);
  uint16_t U16(Cursor& c);
  uint32_t U32(Cursor& c);
  std::string_view Bytes(Cursor& c, uint32_t n);
  std::string_view Name(Cursor& c);
  // Parses a fragment (header, then one element or template instance);
  // appends the elements to `parent` (or makes the root).
  void Fragment(Cursor& c, const std::vector<Value>* values, int parent,
                int depth);
  void TemplateInstance(Cursor& c, int parent, int depth);
  void Element(Cursor& c, const std::vector<Value>* values, int parent,
               int depth);
  // Appends the text of value tokens to `out`; returns false when the only
  // content was optional substitutions without a value. Array values are
  // noted in `arrays` (null in an attribute).
  bool ValueTokens(Cursor& c, const std::vector<Value>* values, int parent,
                   int depth, std::string& out, ArrayContent* arrays);
  void RenderValue(const Value& v, std::string& out);
  // The items of an array value, each rendered as a value of its type.
  void ArrayItems(const Value& v, std::vector<std::string>& items);
  void Substitution(const Value& v, int parent, int depth, std::string& out);
  // Counts `units` of work against kMaxWork.
  void Spend(size_t units);

  std::string_view chunk_;
  std::unordered_map<uint32_t, std::string> names_;
  std::vector<XmlElement>* tree_ = nullptr;
  size_t work_ = 0;
};

// Appends UTF-16LE `bytes` (an odd last byte ignored) as UTF-8.
void AppendUtf16Le(std::string_view bytes, std::string& out);

// The little-endian T at `at` of `bytes` (the caller checks the bounds);
// floating-point types get their bits.
template <typename T>
T LoadLe(std::string_view bytes, size_t at = 0) {
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    v |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[at + i])) << (8 * i);
  T out;
  std::memcpy(&out, &v, sizeof(T));  // little-endian host
  return out;
}

}  // namespace eventquery

#endif  // RECORDS_BINARYXML_H_
