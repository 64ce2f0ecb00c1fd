// A small writer of Windows event log files (.evtx), for tests and
// benchmarks: the repository holds no files made on Windows, so the tests
// make their own, with known content and with the faults they need.
//
// The files it writes are valid: a file header, chunks of 64 KiB with
// their string and template tables, records in binary XML and every
// checksum. Each event is a template instance; events with the same shape
// (the same EventData names, or the same UserData element and leaves)
// share one template per chunk, defined inline by the first record that
// uses it and referenced by the later ones. Element and attribute names
// are defined once per chunk and referenced after that, as Windows does.
//
// Faults are made on the finished bytes (Corrupt..., SetDirty, ...), so a
// test states exactly what is wrong with the file.
//
// Thread safety: one thread per writer.

#ifndef SUPPORT_EVTXWRITER_H_
#define SUPPORT_EVTXWRITER_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace evtxtest {

inline constexpr size_t kFileHeaderSize = 4096;
inline constexpr size_t kChunkSize = 65536;
inline constexpr size_t kChunkHeaderSize = 512;

// One event as the tests describe it. Texts are UTF-8.
struct Event {
  uint64_t record_id = 1;  // the EventRecordID
  // The record header's id when it differs: an exported log numbers its
  // headers from 1 and keeps the EventRecordIDs.
  std::optional<uint64_t> header_id;
  // Written and created time, 100 ns units since 1601-01-01 UTC.
  uint64_t filetime = 132000000000000000ULL;
  std::string provider = "Microsoft-Windows-Security-Auditing";
  std::string provider_guid = "{54849625-5478-4994-A5BA-3E3B0328C30D}";
  uint16_t event_id = 4624;
  std::optional<uint16_t> qualifiers;
  uint8_t version = 2;
  uint8_t level = 0;
  uint16_t task = 12544;
  uint8_t opcode = 0;
  uint64_t keywords = 0x8020000000000000ULL;
  uint32_t process_id = 612;
  uint32_t thread_id = 2240;
  std::string channel = "Security";
  std::string computer = "WS01.example.org";
  std::optional<std::string> user_sid;  // "S-1-5-18"
  // EventData's Data elements: (Name, value); an empty name writes a Data
  // element without one. A value of nullopt is an empty optional value.
  std::vector<std::pair<std::string, std::optional<std::string>>> data;
  // After `data`: one Data element without a name whose value is a string
  // array (value type 0x81), as MSSQL's and MsiInstaller's events hold
  // theirs; Windows shows one Data element per string.
  std::vector<std::string> data_array;
  // UserData instead of EventData when `user_data_element` is not empty:
  // <UserData><element><leaf>value</leaf>...</element></UserData>.
  std::string user_data_element;
  std::vector<std::pair<std::string, std::string>> user_data;
};

class Writer {
 public:
  // Appends `event`, in a new chunk when the current one is full.
  void Add(const Event& event);
  // Starts a new chunk even if the current one has room.
  void NewChunk();
  // The whole file.
  std::string Bytes() const;
  size_t chunks() const { return chunks_.size(); }

 private:
  // A chunk being filled: its bytes so far and the offsets of the names
  // and templates it defines.
  struct Chunk {
    std::string bytes = std::string(kChunkHeaderSize, '\0');
    std::map<std::u16string, uint32_t> names;
    std::map<std::string, uint32_t> templates;  // by event shape
    uint64_t first_record = 0, last_record = 0;
    uint32_t last_record_offset = 0;
    uint32_t template_count = 0;
  };
  std::vector<Chunk> chunks_;
  uint64_t next_record_ = 1;

  friend struct ChunkAccess;
};

// The offset in the file of chunk `k`.
inline size_t ChunkOffset(size_t k) { return kFileHeaderSize + k * kChunkSize; }
// Sets or clears the header's "not closed" flag (and fixes its checksum).
void SetDirty(std::string& file, bool dirty);
// Sets the header's chunk count (and fixes its checksum).
void SetHeaderChunkCount(std::string& file, uint16_t count);
// Flips a byte of chunk `k`'s records, leaving its checksums as they were.
void CorruptChunkRecords(std::string& file, size_t k);
// Flips a byte of chunk `k`'s header, leaving its checksum as it was.
void CorruptChunkHeader(std::string& file, size_t k);
// Breaks the binary XML of the `n`th record of chunk `k` (its first
// token), then fixes the chunk's checksums: the chunk is sound, the record
// cannot be parsed.
void BreakRecord(std::string& file, size_t k, size_t n);
// Destroys the record header of the `n`th record of chunk `k` (its
// signature and size), then fixes the chunk's checksums: the records
// around it are sound.
void DestroyRecordHeader(std::string& file, size_t k, size_t n);
// Makes chunk `k`'s header say it holds only its first `n` records (as a
// header not written since then does), its checksums fixed to match.
void RewindChunkHeader(std::string& file, size_t k, size_t n);
// Recomputes the checksums of chunk `k`.
void FixChunkChecksums(std::string& file, size_t k);

}  // namespace evtxtest

#endif  // SUPPORT_EVTXWRITER_H_
