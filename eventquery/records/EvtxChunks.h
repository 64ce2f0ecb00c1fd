// The structure of a Windows event log file (.evtx): a 4096-byte file
// header, then chunks of 64 KiB, each with its own header, string and
// template tables and event records. Private to the records library.
//
// A chunk is decoded on its own (its names and templates are its own), so
// chunks can be decoded on several threads. Each record becomes an
// EvtxEvent: its fields, and the record as one JSON object.
//
// Checks: the file header's signature and checksum; each chunk's
// signature, header checksum and records checksum; each record's
// signature and size. What fails is reported with the chunk's number
// (counted from 0, in file order) and, where known, the record's id.
//
// Thread safety: ChunkDecoder is used by one thread; the functions are
// pure.

#ifndef RECORDS_EVTXCHUNKS_H_
#define RECORDS_EVTXCHUNKS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "BinaryXml.h"

namespace eventquery {

inline constexpr size_t kEvtxHeaderSize = 4096;
inline constexpr size_t kEvtxChunkSize = 65536;
inline constexpr char kEvtxSignature[] = "ElfFile";  // with its NUL: 8 bytes
inline constexpr char kEvtxChunkSignature[] = "ElfChnk";  // 8 bytes too

struct EvtxFileHeader {
  uint64_t first_chunk = 0;  // the oldest chunk (a full log wraps round)
  uint64_t last_chunk = 0;
  uint16_t chunk_count = 0;
  uint16_t major = 0, minor = 0;
  uint32_t flags = 0;
  bool checksum_ok = false;
  // Not closed cleanly: its counts are not to be trusted.
  bool dirty() const { return (flags & 1u) != 0; }
};

// Reads the file header from its first `bytes`; returns "" or why they are
// no EVTX file header.
std::string ParseEvtxHeader(std::string_view bytes, EvtxFileHeader& header);

// The full path of a System attribute field written as the Sigma rule
// format flattens it, element and attribute joined by "_" (any ASCII
// case): Execution_ProcessID is Event.System.Execution.ProcessID. "" for
// any other name.
std::string SystemAttributePath(std::string_view name);

// One field of an event.
struct EvtxField {
  std::string name;  // the short name: EventID, TargetUserName
  std::string path;  // the full one: Event.System.EventID
  std::string value;
  bool number = false;  // written as a JSON number
  // A System field whose short name an EventData or UserData field takes
  // (names compare without case): it goes by its full path.
  bool shadowed = false;
  // The name the record's JSON object uses for it.
  const std::string& key() const { return shadowed ? path : name; }
};

struct EvtxEvent {
  uint64_t record_id = 0;  // its EventRecordID, else the record header's id
  uint64_t header_id = 0;  // the record header's id
  std::vector<EvtxField> fields;
  std::string json;
};

// What one chunk gave, in record order: events, and problems (a record or
// a run of records that could not be read), each naming its place.
struct EvtxItem {
  EvtxEvent event;
  std::string where;    // "chunk 3, record 1234"
  std::string problem;  // not empty for a problem
  // The records a problem stands for: how many (0: not known) and, for a
  // run of them, the first and last record header ids (0: not known), which
  // the reader names by EventRecordID.
  uint64_t lost = 0;
  uint64_t first_id = 0, last_id = 0;
};

struct DecodedChunk {
  uint64_t number = 0;
  bool empty = false;  // a slot of zeros, never written
  std::vector<EvtxItem> items;
};

class ChunkDecoder {
 public:
  // Decodes the chunk `bytes` (kEvtxChunkSize of them, or fewer when the
  // file is cut short), chunk `number` of its file, into `out`. In a file
  // that was not closed (`dirty`) records are read while they are valid,
  // whatever the chunk's header says.
  void Decode(std::string_view bytes, uint64_t number, bool dirty,
              DecodedChunk& out);

 private:
  // The event of the record whose XML is [begin, end); throws
  // BinaryXmlError.
  void Event(uint32_t begin, uint32_t end, EvtxEvent& event);
  // Moves the items of `out` and their fields to the spares.
  void Recycle(DecodedChunk& out);
  // A new, empty item at the end of `out`, a spare's memory reused.
  EvtxItem& NewItem(DecodedChunk& out);
  // A new field at the end of `fields` (its strings to be set), a spare's
  // memory reused.
  EvtxField& NewField(std::vector<EvtxField>& fields);

  BinaryXmlDecoder xml_;
  std::vector<XmlElement> tree_;
  // Items and fields of chunks decoded before, kept with their memory: the
  // strings of a chunk's events are written over, not freed and made
  // again. A slot's chunk is decoded on whichever thread is free, and
  // freeing memory another thread took contends for that thread's
  // allocator.
  std::vector<EvtxItem> items_;
  std::vector<EvtxField> fields_;
};

}  // namespace eventquery

#endif  // RECORDS_EVTXCHUNKS_H_
