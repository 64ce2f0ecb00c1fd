#include "EvtxWriter.h"

#include <zlib.h>

#include <cctype>
#include <cstring>
#include <map>
#include <stdexcept>

namespace evtxtest {
namespace {

// Binary XML tokens.
constexpr uint8_t kEndOfFragment = 0x00;
constexpr uint8_t kOpenElement = 0x01;
constexpr uint8_t kHasAttributes =
    0x40;  // on kOpenElement; "more" on kAttribute
constexpr uint8_t kCloseStart = 0x02;
constexpr uint8_t kCloseEmpty = 0x03;
constexpr uint8_t kEndElement = 0x04;
constexpr uint8_t kValueText = 0x05;
constexpr uint8_t kAttribute = 0x06;
constexpr uint8_t kTemplateInstance = 0x0C;
constexpr uint8_t kNormalSubstitution = 0x0D;
constexpr uint8_t kOptionalSubstitution = 0x0E;
constexpr uint8_t kFragmentHeader = 0x0F;

// Value types.
constexpr uint8_t kNull = 0x00;
constexpr uint8_t kString = 0x01;
constexpr uint8_t kStringArray = 0x81;
constexpr uint8_t kUInt8 = 0x04;
constexpr uint8_t kUInt16 = 0x06;
constexpr uint8_t kUInt32 = 0x08;
constexpr uint8_t kUInt64 = 0x0A;
constexpr uint8_t kGuid = 0x0F;
constexpr uint8_t kFiletime = 0x11;
constexpr uint8_t kSid = 0x13;
constexpr uint8_t kHexInt64 = 0x15;

template <typename T>
void PutLe(std::string& out, T v) {
  for (size_t i = 0; i < sizeof(T); ++i)
    out.push_back(
        static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF));
}
template <typename T>
void PatchLe(std::string& out, size_t at, T v) {
  for (size_t i = 0; i < sizeof(T); ++i)
    out[at + i] =
        static_cast<char>((static_cast<uint64_t>(v) >> (8 * i)) & 0xFF);
}
template <typename T>
T GetLe(const std::string& in, size_t at) {
  uint64_t v = 0;
  for (size_t i = 0; i < sizeof(T); ++i)
    v |= static_cast<uint64_t>(static_cast<uint8_t>(in[at + i])) << (8 * i);
  return static_cast<T>(v);
}

// UTF-8 to UTF-16 code units (the tests write valid UTF-8).
std::u16string Utf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<uint8_t>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c, n = 1;
    } else if (c < 0xE0) {
      cp = c & 0x1F, n = 2;
    } else if (c < 0xF0) {
      cp = c & 0x0F, n = 3;
    } else {
      cp = c & 0x07, n = 4;
    }
    for (size_t k = 1; k < n && i + k < s.size(); ++k)
      cp = (cp << 6) | (static_cast<uint8_t>(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

void PutUtf16(std::string& out, const std::u16string& s) {
  for (char16_t c : s) PutLe<uint16_t>(out, c);
}

uint16_t NameHash(const std::u16string& s) {
  uint32_t h = 0;
  for (char16_t c : s) h = h * 65599 + c;
  return static_cast<uint16_t>(h);
}

std::string GuidBytes(const std::string& text) {
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
  std::string hex;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) hex.push_back(c);
  if (hex.size() != 32) throw std::invalid_argument("bad GUID " + text);
  auto byte = [&](size_t i) {
    return static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  };
  std::string out;
  for (int i : {3, 2, 1, 0, 5, 4, 7, 6})
    out.push_back(static_cast<char>(byte(i)));
  for (int i = 8; i < 16; ++i) out.push_back(static_cast<char>(byte(i)));
  return out;
}

std::string SidBytes(const std::string& text) {
  // "S-1-<authority>-<sub>-<sub>..."
  std::vector<uint64_t> parts;
  size_t at = 2;
  while (at < text.size()) {
    size_t end = text.find('-', at);
    if (end == std::string::npos) end = text.size();
    parts.push_back(std::stoull(text.substr(at, end - at)));
    at = end + 1;
  }
  if (parts.size() < 2) throw std::invalid_argument("bad SID " + text);
  std::string out;
  out.push_back(static_cast<char>(parts[0]));
  out.push_back(static_cast<char>(parts.size() - 2));
  for (int i = 5; i >= 0; --i)
    out.push_back(static_cast<char>((parts[1] >> (8 * i)) & 0xFF));
  for (size_t i = 2; i < parts.size(); ++i)
    PutLe<uint32_t>(out, static_cast<uint32_t>(parts[i]));
  return out;
}

// A template's element tree: text or substitutions as content.
struct Value {
  std::string text;  // a literal, when substitution < 0
  int substitution = -1;
  uint8_t type = kString;
  bool optional = false;
};
struct Node {
  std::string name;
  std::vector<std::pair<std::string, Value>> attributes;
  std::vector<Node> children;
  std::optional<Value> content;
};

Node Leaf(std::string name, Value content) {
  Node n;
  n.name = std::move(name);
  n.content = std::move(content);
  return n;
}
Value Sub(int id, uint8_t type, bool optional = false) {
  return Value{"", id, type, optional};
}
Value Text(std::string text) { return Value{std::move(text)}; }

constexpr int kFirstDataSubstitution = 16;

Node EventTemplate(const Event& e) {
  Node system;
  system.name = "System";
  Node provider;
  provider.name = "Provider";
  provider.attributes = {{"Name", Sub(0, kString)}, {"Guid", Sub(1, kGuid)}};
  system.children.push_back(provider);
  Node id = Leaf("EventID", Sub(3, kUInt16));
  id.attributes = {{"Qualifiers", Sub(2, kUInt16, true)}};
  system.children.push_back(id);
  system.children.push_back(Leaf("Version", Sub(4, kUInt8)));
  system.children.push_back(Leaf("Level", Sub(5, kUInt8)));
  system.children.push_back(Leaf("Task", Sub(6, kUInt16)));
  system.children.push_back(Leaf("Opcode", Sub(7, kUInt8)));
  system.children.push_back(Leaf("Keywords", Sub(8, kHexInt64)));
  Node created;
  created.name = "TimeCreated";
  created.attributes = {{"SystemTime", Sub(9, kFiletime)}};
  system.children.push_back(created);
  system.children.push_back(Leaf("EventRecordID", Sub(10, kUInt64)));
  Node correlation;
  correlation.name = "Correlation";
  system.children.push_back(correlation);
  Node execution;
  execution.name = "Execution";
  execution.attributes = {{"ProcessID", Sub(11, kUInt32)},
                          {"ThreadID", Sub(12, kUInt32)}};
  system.children.push_back(execution);
  system.children.push_back(Leaf("Channel", Sub(13, kString)));
  system.children.push_back(Leaf("Computer", Sub(14, kString)));
  Node security;
  security.name = "Security";
  security.attributes = {{"UserID", Sub(15, kSid, true)}};
  system.children.push_back(security);

  Node event;
  event.name = "Event";
  event.attributes = {
      {"xmlns", Text("http://schemas.microsoft.com/win/2004/08/events/event")}};
  event.children.push_back(system);
  int next = kFirstDataSubstitution;
  if (!e.user_data_element.empty()) {
    Node user;
    user.name = "UserData";
    Node element;
    element.name = e.user_data_element;
    for (const auto& [leaf, value] : e.user_data)
      element.children.push_back(Leaf(leaf, Sub(next++, kString)));
    user.children.push_back(element);
    event.children.push_back(user);
  } else {
    Node data;
    data.name = "EventData";
    for (const auto& [name, value] : e.data) {
      Node d = Leaf("Data", Sub(next++, kString, true));
      if (!name.empty()) d.attributes = {{"Name", Text(name)}};
      data.children.push_back(d);
    }
    if (!e.data_array.empty())
      data.children.push_back(Leaf("Data", Sub(next++, kStringArray, true)));
    event.children.push_back(data);
  }
  return event;
}

std::string ShapeOf(const Event& e) {
  std::string shape;
  if (!e.user_data_element.empty()) {
    shape = "U" + e.user_data_element;
    for (const auto& leaf : e.user_data) shape += '\x01' + leaf.first;
  } else {
    shape = "E";
    for (const auto& d : e.data) shape += '\x01' + d.first;
    if (!e.data_array.empty()) shape += "\x02array";
  }
  return shape;
}

// The substitution values of `e`: (type, bytes); type kNull for none.
std::vector<std::pair<uint8_t, std::string>> ValuesOf(const Event& e) {
  std::vector<std::pair<uint8_t, std::string>> v;
  auto str = [](const std::string& s) {
    std::string b;
    PutUtf16(b, Utf16(s));
    return b;
  };
  auto num = [](auto x) {
    std::string b;
    PutLe(b, x);
    return b;
  };
  v.emplace_back(kString, str(e.provider));
  v.emplace_back(kGuid, GuidBytes(e.provider_guid));
  if (e.qualifiers)
    v.emplace_back(kUInt16, num(*e.qualifiers));
  else
    v.emplace_back(kNull, "");
  v.emplace_back(kUInt16, num(e.event_id));
  v.emplace_back(kUInt8, num(e.version));
  v.emplace_back(kUInt8, num(e.level));
  v.emplace_back(kUInt16, num(e.task));
  v.emplace_back(kUInt8, num(e.opcode));
  v.emplace_back(kHexInt64, num(e.keywords));
  v.emplace_back(kFiletime, num(e.filetime));
  v.emplace_back(kUInt64, num(e.record_id));
  v.emplace_back(kUInt32, num(e.process_id));
  v.emplace_back(kUInt32, num(e.thread_id));
  v.emplace_back(kString, str(e.channel));
  v.emplace_back(kString, str(e.computer));
  if (e.user_sid)
    v.emplace_back(kSid, SidBytes(*e.user_sid));
  else
    v.emplace_back(kNull, "");
  if (!e.user_data_element.empty()) {
    for (const auto& leaf : e.user_data)
      v.emplace_back(kString, str(leaf.second));
  } else {
    for (const auto& d : e.data) {
      if (d.second)
        v.emplace_back(kString, str(*d.second));
      else
        v.emplace_back(kNull, "");
    }
    if (!e.data_array.empty()) {
      std::string array;  // each string ended by a NUL
      for (const std::string& item : e.data_array) {
        PutUtf16(array, Utf16(item));
        array.append(2, '\0');
      }
      v.emplace_back(kStringArray, array);
    }
  }
  return v;
}

}  // namespace

// Binary XML written into one chunk at its end.
struct ChunkAccess {
  Writer::Chunk& c;
  // What this event added, to take back when it does not fit.
  std::vector<std::u16string> new_names;
  std::vector<std::string> new_templates;

  uint32_t here() const { return static_cast<uint32_t>(c.bytes.size()); }

  void PutName(const std::string& name) {
    const std::u16string n = Utf16(name);
    if (auto found = c.names.find(n); found != c.names.end()) {
      PutLe<uint32_t>(c.bytes, found->second);
      return;
    }
    const uint32_t at = here() + 4;
    PutLe<uint32_t>(c.bytes, at);
    const uint16_t hash = NameHash(n);
    // Chained into the string table's bucket, newest first.
    const size_t bucket = 128 + 4 * (hash % 64);
    const uint32_t head = GetLe<uint32_t>(c.bytes, bucket);
    PutLe<uint32_t>(c.bytes, head);
    PatchLe<uint32_t>(c.bytes, bucket, at);
    PutLe<uint16_t>(c.bytes, hash);
    PutLe<uint16_t>(c.bytes, static_cast<uint16_t>(n.size()));
    PutUtf16(c.bytes, n);
    PutLe<uint16_t>(c.bytes, 0);
    c.names.emplace(n, at);
    new_names.push_back(n);
  }

  void PutValue(const Value& v) {
    if (v.substitution >= 0) {
      c.bytes.push_back(static_cast<char>(v.optional ? kOptionalSubstitution
                                                     : kNormalSubstitution));
      PutLe<uint16_t>(c.bytes, static_cast<uint16_t>(v.substitution));
      c.bytes.push_back(static_cast<char>(v.type));
      return;
    }
    const std::u16string t = Utf16(v.text);
    c.bytes.push_back(static_cast<char>(kValueText));
    c.bytes.push_back(static_cast<char>(kString));
    PutLe<uint16_t>(c.bytes, static_cast<uint16_t>(t.size()));
    PutUtf16(c.bytes, t);
  }

  void PutNode(const Node& n) {
    c.bytes.push_back(static_cast<char>(
        kOpenElement | (n.attributes.empty() ? 0 : kHasAttributes)));
    PutLe<uint16_t>(c.bytes, 0xFFFF);  // no dependency
    const size_t size_at = c.bytes.size();
    PutLe<uint32_t>(c.bytes, 0);
    PutName(n.name);
    if (!n.attributes.empty()) {
      const size_t list_at = c.bytes.size();
      PutLe<uint32_t>(c.bytes, 0);
      for (size_t i = 0; i < n.attributes.size(); ++i) {
        const bool more = i + 1 < n.attributes.size();
        c.bytes.push_back(static_cast<char>(kAttribute | (more ? 0x40 : 0)));
        PutName(n.attributes[i].first);
        PutValue(n.attributes[i].second);
      }
      PatchLe<uint32_t>(c.bytes, list_at,
                        static_cast<uint32_t>(c.bytes.size() - list_at - 4));
    }
    if (n.children.empty() && !n.content) {
      c.bytes.push_back(static_cast<char>(kCloseEmpty));
    } else {
      c.bytes.push_back(static_cast<char>(kCloseStart));
      if (n.content) PutValue(*n.content);
      for (const Node& child : n.children) PutNode(child);
      c.bytes.push_back(static_cast<char>(kEndElement));
    }
    PatchLe<uint32_t>(c.bytes, size_at,
                      static_cast<uint32_t>(c.bytes.size() - size_at - 4));
  }

  void PutFragmentHeader() {
    for (uint8_t b : {kFragmentHeader, uint8_t{1}, uint8_t{1}, uint8_t{0}})
      c.bytes.push_back(static_cast<char>(b));
  }

  void PutEvent(const Event& e) {
    const size_t start = c.bytes.size();
    PutLe<uint32_t>(c.bytes, 0x00002A2A);
    PutLe<uint32_t>(c.bytes, 0);  // size, patched
    const uint64_t header_id = e.header_id.value_or(e.record_id);
    PutLe<uint64_t>(c.bytes, header_id);
    PutLe<uint64_t>(c.bytes, e.filetime);
    PutFragmentHeader();
    c.bytes.push_back(static_cast<char>(kTemplateInstance));
    c.bytes.push_back(1);
    const std::string shape = ShapeOf(e);
    const auto known = c.templates.find(shape);
    const uint32_t id = known != c.templates.end()
                            ? GetLe<uint32_t>(c.bytes, known->second + 4)
                            : 0x1000 + c.template_count;
    PutLe<uint32_t>(c.bytes, id);
    if (known != c.templates.end()) {
      PutLe<uint32_t>(c.bytes, known->second);
    } else {
      const uint32_t at = here() + 4;
      PutLe<uint32_t>(c.bytes, at);
      // Chained into the template table, newest first.
      const size_t bucket = 384 + 4 * (c.template_count % 32);
      PutLe<uint32_t>(c.bytes, GetLe<uint32_t>(c.bytes, bucket));
      PatchLe<uint32_t>(c.bytes, bucket, at);
      // The GUID's first four bytes are the template's id.
      PutLe<uint32_t>(c.bytes, id);
      for (int i = 0; i < 12; ++i) c.bytes.push_back(static_cast<char>(0x5A));
      const size_t data_at = c.bytes.size();
      PutLe<uint32_t>(c.bytes, 0);
      PutFragmentHeader();
      PutNode(EventTemplate(e));
      c.bytes.push_back(static_cast<char>(kEndOfFragment));
      PatchLe<uint32_t>(c.bytes, data_at,
                        static_cast<uint32_t>(c.bytes.size() - data_at - 4));
      c.templates.emplace(shape, at);
      new_templates.push_back(shape);
      ++c.template_count;
    }
    const auto values = ValuesOf(e);
    PutLe<uint32_t>(c.bytes, static_cast<uint32_t>(values.size()));
    for (const auto& [type, bytes] : values) {
      PutLe<uint16_t>(c.bytes, static_cast<uint16_t>(bytes.size()));
      c.bytes.push_back(static_cast<char>(type));
      c.bytes.push_back(0);
    }
    for (const auto& value : values) c.bytes += value.second;
    c.bytes.push_back(static_cast<char>(kEndOfFragment));
    // Records are 8-byte aligned, as Windows writes them (libevtx reads
    // past the chunk when the free space starts off that grid).
    while ((c.bytes.size() - start + 4) % 8 != 0) c.bytes.push_back(0);
    PutLe<uint32_t>(c.bytes, 0);  // size again
    const auto size = static_cast<uint32_t>(c.bytes.size() - start);
    PatchLe<uint32_t>(c.bytes, start + 4, size);
    PatchLe<uint32_t>(c.bytes, c.bytes.size() - 4, size);
    if (c.first_record == 0) c.first_record = header_id;
    c.last_record = header_id;
    c.last_record_offset = static_cast<uint32_t>(start);
  }
};

void Writer::NewChunk() { chunks_.emplace_back(); }

void Writer::Add(const Event& event) {
  if (chunks_.empty()) NewChunk();
  for (int attempt = 0; attempt < 2; ++attempt) {
    Chunk& chunk = chunks_.back();
    // Written in place; taken back (bytes, tables, names and templates)
    // when it overflows the chunk.
    const size_t size = chunk.bytes.size();
    const std::string tables = chunk.bytes.substr(0, kChunkHeaderSize);
    const Chunk before_counts{std::string(),
                              {},
                              {},
                              chunk.first_record,
                              chunk.last_record,
                              chunk.last_record_offset,
                              chunk.template_count};
    ChunkAccess access{chunk, {}, {}};
    access.PutEvent(event);
    if (chunk.bytes.size() <= kChunkSize) {
      next_record_ = event.header_id.value_or(event.record_id) + 1;
      return;
    }
    chunk.bytes.resize(size);
    chunk.bytes.replace(0, kChunkHeaderSize, tables);
    for (const auto& n : access.new_names) chunk.names.erase(n);
    for (const auto& t : access.new_templates) chunk.templates.erase(t);
    chunk.first_record = before_counts.first_record;
    chunk.last_record = before_counts.last_record;
    chunk.last_record_offset = before_counts.last_record_offset;
    chunk.template_count = before_counts.template_count;
    if (chunk.first_record == 0) break;  // too big for any chunk
    NewChunk();
  }
  throw std::length_error("an event too large for a chunk");
}

std::string Writer::Bytes() const {
  std::string file(kFileHeaderSize, '\0');
  std::memcpy(&file[0], "ElfFile", 8);
  const size_t n = chunks_.size();
  PatchLe<uint64_t>(file, 8, 0);
  PatchLe<uint64_t>(file, 16, n == 0 ? 0 : n - 1);
  PatchLe<uint64_t>(file, 24, next_record_);
  PatchLe<uint32_t>(file, 32, 128);
  PatchLe<uint16_t>(file, 36, 1);
  PatchLe<uint16_t>(file, 38, 3);
  PatchLe<uint16_t>(file, 40, kFileHeaderSize);
  PatchLe<uint16_t>(file, 42, static_cast<uint16_t>(n));
  PatchLe<uint32_t>(file, 124,
                    static_cast<uint32_t>(crc32(
                        0, reinterpret_cast<const Bytef*>(file.data()), 120)));
  for (size_t k = 0; k < n; ++k) {
    const Chunk& c = chunks_[k];
    std::string chunk = c.bytes;
    std::memcpy(&chunk[0], "ElfChnk", 8);
    PatchLe<uint64_t>(chunk, 8, c.first_record);
    PatchLe<uint64_t>(chunk, 16, c.last_record);
    PatchLe<uint64_t>(chunk, 24, c.first_record);
    PatchLe<uint64_t>(chunk, 32, c.last_record);
    PatchLe<uint32_t>(chunk, 40, 128);
    PatchLe<uint32_t>(chunk, 44, c.last_record_offset);
    PatchLe<uint32_t>(chunk, 48, static_cast<uint32_t>(chunk.size()));
    chunk.resize(kChunkSize, '\0');
    file += chunk;
    FixChunkChecksums(file, k);
  }
  return file;
}

void FixChunkChecksums(std::string& file, size_t k) {
  const size_t at = ChunkOffset(k);
  auto* base = reinterpret_cast<const Bytef*>(file.data() + at);
  const uint32_t free_at = GetLe<uint32_t>(file, at + 48);
  const auto records = static_cast<uint32_t>(
      crc32(0, base + kChunkHeaderSize, free_at - kChunkHeaderSize));
  PatchLe<uint32_t>(file, at + 52, records);
  uLong header = crc32(0, base, 120);
  header = crc32(header, base + 128, kChunkHeaderSize - 128);
  PatchLe<uint32_t>(file, at + 124, static_cast<uint32_t>(header));
}

namespace {
void FixHeaderChecksum(std::string& file) {
  PatchLe<uint32_t>(file, 124,
                    static_cast<uint32_t>(crc32(
                        0, reinterpret_cast<const Bytef*>(file.data()), 120)));
}
}  // namespace

void SetDirty(std::string& file, bool dirty) {
  uint32_t flags = GetLe<uint32_t>(file, 120);
  flags = dirty ? (flags | 1u) : (flags & ~1u);
  PatchLe<uint32_t>(file, 120, flags);
  FixHeaderChecksum(file);
}

void SetHeaderChunkCount(std::string& file, uint16_t count) {
  PatchLe<uint16_t>(file, 42, count);
  PatchLe<uint64_t>(file, 16, count == 0 ? 0 : count - 1);
  FixHeaderChecksum(file);
}

void CorruptChunkRecords(std::string& file, size_t k) {
  file[ChunkOffset(k) + kChunkHeaderSize + 30] ^= 0x55;
}

void CorruptChunkHeader(std::string& file, size_t k) {
  file[ChunkOffset(k) + 8] ^= 0x01;
}

void RewindChunkHeader(std::string& file, size_t k, size_t n) {
  const size_t chunk = ChunkOffset(k);
  size_t at = chunk + kChunkHeaderSize, last = at;
  for (size_t i = 0; i < n; ++i) {
    last = at;
    at += GetLe<uint32_t>(file, at + 4);
  }
  const uint64_t last_id = GetLe<uint64_t>(file, last + 8);
  PatchLe<uint64_t>(file, chunk + 16, last_id);
  PatchLe<uint64_t>(file, chunk + 32, last_id);
  PatchLe<uint32_t>(file, chunk + 44, static_cast<uint32_t>(last - chunk));
  PatchLe<uint32_t>(file, chunk + 48, static_cast<uint32_t>(at - chunk));
  FixChunkChecksums(file, k);
}

void BreakRecord(std::string& file, size_t k, size_t n) {
  size_t at = ChunkOffset(k) + kChunkHeaderSize;
  for (size_t i = 0; i < n; ++i) at += GetLe<uint32_t>(file, at + 4);
  // The fragment header becomes a token that no event starts with.
  file[at + 24] = static_cast<char>(0x7F);
  FixChunkChecksums(file, k);
}

void DestroyRecordHeader(std::string& file, size_t k, size_t n) {
  size_t at = ChunkOffset(k) + kChunkHeaderSize;
  for (size_t i = 0; i < n; ++i) at += GetLe<uint32_t>(file, at + 4);
  for (size_t i = 0; i < 8; ++i) file[at + i] = static_cast<char>(0xEE);
  FixChunkChecksums(file, k);
}

}  // namespace evtxtest
