#include "EvtxChunks.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstring>

#include "common/Ascii.h"
#include "records/JsonCells.h"

namespace eventquery {
namespace {

constexpr size_t kChunkHeaderSize = 512;
constexpr size_t kRecordHeaderSize = 24;  // signature, size, id, time

uint32_t Crc(std::string_view b) {
  return static_cast<uint32_t>(crc32(0,
                                     reinterpret_cast<const Bytef*>(b.data()),
                                     static_cast<uInt>(b.size())));
}

bool Digits(std::string_view s) {
  return !s.empty() && s.size() <= 19 &&
         std::all_of(s.begin(), s.end(),
                     [](char c) { return c >= '0' && c <= '9'; }) &&
         (s.size() == 1 || s[0] != '0');
}

const XmlElement* Child(const std::vector<XmlElement>& tree,
                        const XmlElement& parent, std::string_view name) {
  for (uint32_t i : parent.children)
    if (tree[i].name == name) return &tree[i];
  return nullptr;
}

const std::string* Attribute(const XmlElement& e, std::string_view name) {
  for (const auto& [n, v] : e.attributes)
    if (n == name) return &v;
  return nullptr;
}

// The System fields, in the order a record's JSON object has them: the
// element, its attribute ("" for its text), the short name, the path.
struct SystemField {
  const char* element;
  const char* attribute;
  const char* name;
  const char* path;
  bool number;
};
constexpr SystemField kSystemFields[] = {
    {"EventID", "", "EventID", "Event.System.EventID", true},
    {"Version", "", "Version", "Event.System.Version", true},
    {"Level", "", "Level", "Event.System.Level", true},
    {"Task", "", "Task", "Event.System.Task", true},
    {"Opcode", "", "Opcode", "Event.System.Opcode", true},
    {"Keywords", "", "Keywords", "Event.System.Keywords", false},
    {"EventRecordID", "", "EventRecordID", "Event.System.EventRecordID", true},
    {"Channel", "", "Channel", "Event.System.Channel", false},
    {"Computer", "", "Computer", "Event.System.Computer", false},
    {"Provider", "Name", "Provider_Name", "Event.System.Provider.Name", false},
    {"Provider", "Guid", "Provider_Guid", "Event.System.Provider.Guid", false},
    {"TimeCreated", "SystemTime", "TimeCreated",
     "Event.System.TimeCreated.SystemTime", false},
    {"Execution", "ProcessID", "ProcessID", "Event.System.Execution.ProcessID",
     true},
    {"Execution", "ThreadID", "ThreadID", "Event.System.Execution.ThreadID",
     true},
    {"Security", "UserID", "UserID", "Event.System.Security.UserID", false},
};

void UserDataLeaves(const std::vector<XmlElement>& tree, const XmlElement& e,
                    const std::string& path, std::vector<EvtxField>& out) {
  for (uint32_t i : e.children) {
    const XmlElement& child = tree[i];
    std::string child_path = path + "." + std::string(child.name);
    if (child.children.empty())
      out.push_back(
          {std::string(child.name), std::move(child_path), child.text});
    else
      UserDataLeaves(tree, child, child_path, out);
  }
}

// Sets `where` to "chunk C, record R", in the memory it has.
void SetWhere(std::string& where, uint64_t chunk, uint64_t record) {
  where.assign("chunk ");
  where += std::to_string(chunk);
  where += ", record ";
  where += std::to_string(record);
}

}  // namespace

std::string SystemAttributePath(std::string_view name) {
  for (const SystemField& f : kSystemFields) {
    if (*f.attribute == '\0') continue;
    const std::string flat = std::string(f.element) + "_" + f.attribute;
    if (common::EqualsNoCase(name, flat)) return f.path;
  }
  return "";
}

std::string ParseEvtxHeader(std::string_view bytes, EvtxFileHeader& header) {
  if (bytes.empty()) return "empty file (0 bytes), no EVTX file header";
  if (bytes.size() < 8 || std::memcmp(bytes.data(), kEvtxSignature, 8) != 0)
    return "not an EVTX file (no \"ElfFile\" signature)";
  if (bytes.size() < kEvtxHeaderSize)
    return "cut short: " + std::to_string(bytes.size()) + " of the " +
           std::to_string(kEvtxHeaderSize) + " bytes of the file header";
  header.first_chunk = LoadLe<uint64_t>(bytes, 8);
  header.last_chunk = LoadLe<uint64_t>(bytes, 16);
  header.minor = LoadLe<uint16_t>(bytes, 36);
  header.major = LoadLe<uint16_t>(bytes, 38);
  header.chunk_count = LoadLe<uint16_t>(bytes, 42);
  header.flags = LoadLe<uint32_t>(bytes, 120);
  header.checksum_ok =
      Crc(bytes.substr(0, 120)) == LoadLe<uint32_t>(bytes, 124);
  if (header.major != 3)
    return "EVTX format version " + std::to_string(header.major) + "." +
           std::to_string(header.minor) + " is not supported (3.x is)";
  return {};
}

namespace {

// True when a valid record header stands at `at` of the chunk: its
// signature, a size that fits before `limit`, and the size again at its
// end.
bool RecordAt(std::string_view bytes, uint32_t at, uint32_t limit) {
  if (at + kRecordHeaderSize + 4 > limit ||
      LoadLe<uint32_t>(bytes, at) != 0x00002A2A)
    return false;
  const uint32_t size = LoadLe<uint32_t>(bytes, at + 4);
  return size >= kRecordHeaderSize + 4 && size <= limit - at &&
         LoadLe<uint32_t>(bytes, at + size - 4) == size;
}

}  // namespace

void ChunkDecoder::Decode(std::string_view bytes, uint64_t number, bool dirty,
                          DecodedChunk& out) {
  out.number = number;
  out.empty = false;
  Recycle(out);
  const std::string chunk_name = "chunk " + std::to_string(number);
  auto problem = [&](std::string where, std::string text, uint64_t first = 0,
                     uint64_t last = 0) -> EvtxItem& {
    EvtxItem& item = NewItem(out);
    item.where = std::move(where);
    item.problem = std::move(text);
    // A run of ids only when the header's ids make one.
    if (first != 0 && last >= first && last - first < (uint64_t{1} << 32)) {
      item.first_id = first;
      item.last_id = last;
      item.lost = last - first + 1;
    }
    return item;
  };
  if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == 0; })) {
    out.empty = true;
    return;
  }
  if (bytes.size() < kEvtxChunkSize) {
    problem(chunk_name, "cut short at " + std::to_string(bytes.size()) +
                            " of its " + std::to_string(kEvtxChunkSize) +
                            " bytes; its records skipped");
    return;
  }
  if (std::memcmp(bytes.data(), kEvtxChunkSignature, 8) != 0) {
    problem(chunk_name, "no chunk signature; its records skipped");
    return;
  }
  const uint64_t first_id = LoadLe<uint64_t>(bytes, 24);
  const uint64_t last_id = LoadLe<uint64_t>(bytes, 32);
  const uint32_t header_crc = static_cast<uint32_t>(
      crc32(Crc(bytes.substr(0, 120)),
            reinterpret_cast<const Bytef*>(bytes.data() + 128),
            static_cast<uInt>(kChunkHeaderSize - 128)));
  if (header_crc != LoadLe<uint32_t>(bytes, 124) && !dirty) {
    problem(chunk_name,
            "the chunk header's checksum does not match; its records skipped");
    return;
  }
  uint32_t limit = LoadLe<uint32_t>(bytes, 48);  // where free space starts
  bool checked = limit >= kChunkHeaderSize && limit <= kEvtxChunkSize;
  // Where the chunk's header says its records end: short of it, a record
  // that is not whole is lost data, also in a file that was not closed.
  const uint32_t stated = checked ? limit : 0;
  if (checked &&
      Crc(bytes.substr(kChunkHeaderSize, limit - kChunkHeaderSize)) !=
          LoadLe<uint32_t>(bytes, 52))
    checked = false;
  if (!checked && !dirty) {
    problem(chunk_name, "the records' checksum does not match", first_id,
            last_id);
    return;
  }
  // A file that was not closed may have records past what its chunk header
  // says: they are read while they are whole.
  if (dirty) limit = static_cast<uint32_t>(kEvtxChunkSize);
  xml_.Reset(bytes);
  uint32_t at = kChunkHeaderSize;
  // The last record header's id read (first_id - 1 before the first).
  uint64_t previous_id = first_id > 0 ? first_id - 1 : 0;
  while (at + kRecordHeaderSize + 4 <= limit) {
    if (!RecordAt(bytes, at, limit)) {
      // The rest of a chunk of a file that was not closed is unused.
      if (dirty && at >= stated) break;
      // A damaged record: the next one is found by its signature (records
      // start on 8-byte boundaries), and what lies between is said.
      uint32_t next = at + 8;
      while (next + kRecordHeaderSize + 4 <= limit &&
             !(RecordAt(bytes, next, limit) &&
               LoadLe<uint64_t>(bytes, next + 8) > previous_id))
        next += 8;
      const bool found = next + kRecordHeaderSize + 4 <= limit;
      const uint64_t next_id =
          found ? LoadLe<uint64_t>(bytes, next + 8) : last_id + 1;
      problem(chunk_name,
              "bytes " + std::to_string(at) + "-" +
                  std::to_string((found ? next : limit) - 1) +
                  " of the chunk hold no readable record" +
                  (found ? "; read on after them" : ""),
              previous_id + 1, next_id - 1);
      if (!found) break;
      at = next;
      continue;
    }
    const uint32_t size = LoadLe<uint32_t>(bytes, at + 4);
    const uint64_t id = LoadLe<uint64_t>(bytes, at + 8);
    previous_id = id;
    EvtxItem& item = NewItem(out);
    SetWhere(item.where, number, id);
    try {
      item.event.record_id = id;
      item.event.header_id = id;
      Event(at + kRecordHeaderSize, at + size - 4, item.event);
      // An exported log numbers its record headers from 1; users, filters
      // and other tools know a record by its EventRecordID.
      if (item.event.record_id != id)
        SetWhere(item.where, number, item.event.record_id);
    } catch (const BinaryXmlError& e) {
      item.event = EvtxEvent();
      item.problem = std::string(e.what()) + "; record skipped";
      item.lost = 1;
    }
    at += size;
  }
}

void ChunkDecoder::Recycle(DecodedChunk& out) {
  // The memory of a rare large value (a script block) is not kept: spares
  // would come to hold as much as the largest of each.
  constexpr size_t kKeptValue = 4096, kKeptJson = 16384;
  for (EvtxItem& item : out.items) {
    for (EvtxField& field : item.event.fields) {
      if (field.value.capacity() > kKeptValue) std::string().swap(field.value);
      fields_.push_back(std::move(field));
    }
    item.event.fields.clear();
    if (item.event.json.capacity() > kKeptJson)
      std::string().swap(item.event.json);
    items_.push_back(std::move(item));
  }
  out.items.clear();
}

EvtxItem& ChunkDecoder::NewItem(DecodedChunk& out) {
  if (items_.empty()) return out.items.emplace_back();
  EvtxItem& item = out.items.emplace_back(std::move(items_.back()));
  items_.pop_back();
  item.where.clear();
  item.problem.clear();
  item.lost = item.first_id = item.last_id = 0;
  item.event.record_id = item.event.header_id = 0;
  item.event.json.clear();
  return item;
}

EvtxField& ChunkDecoder::NewField(std::vector<EvtxField>& fields) {
  if (fields_.empty()) return fields.emplace_back();
  EvtxField& field = fields.emplace_back(std::move(fields_.back()));
  fields_.pop_back();
  field.number = false;
  field.shadowed = false;
  return field;
}

void ChunkDecoder::Event(uint32_t begin, uint32_t end, EvtxEvent& event) {
  xml_.Decode(begin, end, tree_);
  const XmlElement& root = tree_[0];
  if (root.name != "Event") throw BinaryXmlError("the record is no Event");
  std::vector<EvtxField>& fields = event.fields;
  for (EvtxField& field : fields) fields_.push_back(std::move(field));
  fields.clear();
  if (const XmlElement* system = Child(tree_, root, "System")) {
    for (const SystemField& f : kSystemFields) {
      const XmlElement* e = Child(tree_, *system, f.element);
      if (e == nullptr) continue;
      const std::string* value =
          *f.attribute == '\0' ? &e->text : Attribute(*e, f.attribute);
      if (value == nullptr) continue;
      EvtxField& field = NewField(fields);
      field.name = f.name;
      field.path = f.path;
      field.value = *value;
      field.number = f.number && Digits(*value);
    }
  }
  const size_t system_end = fields.size();
  for (const EvtxField& f : fields) {
    if (f.name != "EventRecordID" || !f.number) continue;
    uint64_t id = 0;
    const auto r =
        std::from_chars(f.value.data(), f.value.data() + f.value.size(), id);
    if (r.ec == std::errc() && r.ptr == f.value.data() + f.value.size())
      event.record_id = id;
  }
  if (const XmlElement* data = Child(tree_, root, "EventData")) {
    for (uint32_t i : data->children) {
      const XmlElement& e = tree_[i];
      EvtxField& field = NewField(fields);
      field.name = e.name;
      if (e.name == "Data")
        if (const std::string* n = Attribute(e, "Name"); n != nullptr)
          field.name = *n;
      field.path.assign("Event.EventData.");
      field.path += field.name;
      field.value = e.text;
    }
  }
  if (const XmlElement* user = Child(tree_, root, "UserData"))
    UserDataLeaves(tree_, *user, "Event.UserData", fields);
  // Later fields of a name taken (without case) become name_2, name_3.
  for (size_t i = system_end; i < fields.size(); ++i) {
    auto taken = [&](std::string_view name) {
      for (size_t j = system_end; j < i; ++j)
        if (common::EqualsNoCase(fields[j].name, name)) return true;
      return false;
    };
    if (!taken(fields[i].name)) continue;
    for (int k = 2;; ++k) {
      std::string candidate = fields[i].name + "_" + std::to_string(k);
      if (taken(candidate)) continue;
      const size_t cut = fields[i].path.size() - fields[i].name.size();
      fields[i].path = fields[i].path.substr(0, cut) + candidate;
      fields[i].name = std::move(candidate);
      break;
    }
  }
  for (size_t i = 0; i < system_end; ++i)
    for (size_t j = system_end; j < fields.size(); ++j)
      if (common::EqualsNoCase(fields[i].name, fields[j].name))
        fields[i].shadowed = true;
  std::string& json = event.json;
  json.clear();
  json += '{';
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) json += ',';
    AppendJsonString(json, fields[i].key());
    json += ':';
    if (fields[i].number)
      json += fields[i].value;
    else
      AppendJsonString(json, fields[i].value);
  }
  json += '}';
}

}  // namespace eventquery
