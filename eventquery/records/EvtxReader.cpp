// The reader of Windows event log files (see RecordReader.h): chunks are
// read from the stream in record order and decoded, on threads of their
// own when the front end allows, into records whose raw text is a JSON
// object of the event's fields.

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <set>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "EvtxChunks.h"
#include "Readers.h"
#include "common/Ascii.h"
#include "records/Stop.h"

namespace eventquery {
namespace {

constexpr size_t kNoColumn = static_cast<size_t>(-1);

std::string Folded(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

struct NameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const {
    return std::hash<std::string_view>{}(s);
  }
};
using NameIndex =
    std::unordered_map<std::string, size_t, NameHash, std::equal_to<>>;

// A chunk on its way: its bytes, then what they decoded to.
struct Slot {
  std::string bytes;
  uint64_t number = 0;
  bool started = false;
  bool done = false;
  DecodedChunk decoded;
  std::exception_ptr error;
};

class EvtxReader final : public RecordReader {
 public:
  EvtxReader(std::FILE* file, uint64_t first_chunk, bool piece)
      : file_(file), next_number_(first_chunk), piece_(piece) {
    std::string header(kEvtxHeaderSize, '\0');
    header.resize(ReadUpTo(header.data(), kEvtxHeaderSize));
    const std::string problem = ParseEvtxHeader(header, header_);
    if (!problem.empty()) throw InputError(problem);
    position_ = kEvtxHeaderSize;
    trusted_ = !header_.dirty() && header_.checksum_ok;
    if (piece_) return;
    if (!header_.checksum_ok)
      notes_.push_back(
          "the file header's checksum does not match: its counts were not "
          "trusted, and every chunk of the file was read");
    else if (header_.dirty())
      notes_.push_back(
          "the file was not closed cleanly: the header's counts were not "
          "trusted, and records were read up to the last valid one");
    // A full log wraps round: its oldest chunk is not the first. A header
    // that fails its checksum says nothing of that.
    if (header_.checksum_ok && header_.first_chunk != 0 &&
        (header_.dirty() || header_.first_chunk < header_.chunk_count))
      held_until_ = header_.first_chunk;
  }

  ~EvtxReader() override { StopThreads(); }

  const std::vector<std::string>& columns() const override { return columns_; }

  bool Next(Record& record) override {
    for (;;) {
      if (current_ != nullptr && item_ < current_->decoded.items.size()) {
        const EvtxItem& item = current_->decoded.items[item_++];
        if (!item.problem.empty() && item.first_id != 0) Named(item);
        Fill(item, record);
        if (!item.problem.empty() && item.first_id != 0)
          record.problem = named_problem_;
        return true;
      }
      if (!NextChunk()) {
        // Past the last whole chunk read: the end of the last piece (a
        // chunk cut short was reported, and a piece cannot hold it).
        current_number_ = next_number_ + slots_read_;
        return false;
      }
    }
  }

  uint64_t bytes_read() const override { return position_; }
  // Chunks are the units a piece is cut at: the start of the chunk the
  // next record comes from, and its number as the "line".
  uint64_t position() const override {
    return kEvtxHeaderSize + line() * kEvtxChunkSize;
  }
  uint64_t line() const override {
    // Never past the last whole chunk read (a report of chunks missing
    // comes after it).
    return std::min(current_number_,
                    next_number_ + slots_read_ - (partial_ ? 1 : 0));
  }
  bool divisible() const override { return held_until_ == 0; }

  std::vector<std::string> input_notes() const override { return notes_; }

  void KeepFieldPaths() override { keep_paths_ = true; }

  std::vector<std::pair<std::string, std::string>> field_paths()
      const override {
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t c = 0; c < column_paths_.size(); ++c)
      if (!column_paths_[c].empty() && column_paths_[c] != kTwoPaths &&
          column_paths_[c] != columns_[c])
        out.emplace_back(column_paths_[c], columns_[c]);
    return out;
  }
  LogSource log_source() const override { return {"windows", ""}; }

  void WantFields(const std::vector<std::string>& names) override {
    paths_.clear();
    for (const std::string& name : names) {
      const std::string folded = Folded(name);
      // Its column is made when a record has it: a path no record has is
      // then missing, as any field is.
      if (folded.rfind("event.", 0) == 0)
        paths_.push_back({kNoColumn, name, name});
      else if (std::string path = SystemAttributePath(name); !path.empty())
        paths_.push_back({kNoColumn, name, std::move(path)});
    }
  }

  std::vector<std::string> hint_names() const override {
    return {hints_.begin(), hints_.end()};
  }

  void UseThreads(unsigned threads) override {
    if (threads < 2 || !workers_.empty()) return;
    try {
      for (unsigned i = 0; i < threads; ++i)
        workers_.emplace_back([this] { Work(); });
    } catch (const std::system_error&) {
      StopThreads();  // no threads to be had: decoded on this one
      stopping_ = false;
      return;
    }
    in_flight_ = 2 * threads;
  }

 private:
  size_t ReadUpTo(char* buffer, size_t size) {
    size_t got = 0;
    while (got < size) {
      const size_t n = std::fread(buffer + got, 1, size - got, file_);
      got += n;
      if (n == 0) break;
    }
    if (std::ferror(file_)) {
      const int error = errno;
      throw InputError(error != 0 ? std::strerror(error) : "a read failed");
    }
    return got;
  }

  // Reads the next chunk slot of the file, in file order; false at its end.
  bool ReadSlot(std::string& bytes, uint64_t& number) {
    if (at_end_) return false;
    bytes.resize(kEvtxChunkSize);
    bytes.resize(ReadUpTo(bytes.data(), kEvtxChunkSize));
    if (bytes.empty()) {
      at_end_ = true;
      return false;
    }
    number = slots_read_++ + next_number_;
    if (bytes.size() < kEvtxChunkSize) at_end_ = partial_ = true;
    return true;
  }

  // The next chunk to decode, in record order; false when there is none.
  bool Take(std::string& bytes, uint64_t& number) {
    for (;;) {
      const bool counted = trusted_ && !piece_;
      if (counted && slots_read_ >= header_.chunk_count) {
        if (!extra_checked_) CheckExtra();
        return TakeHeld(bytes, number);
      }
      if (!ReadSlot(bytes, number)) {
        if (counted && !short_reported_) {
          short_reported_ = true;
          bytes.clear();
          number = slots_read_ + next_number_;
          return true;
        }
        return TakeHeld(bytes, number);
      }
      if (number < held_until_) {
        held_.emplace_back(std::move(bytes), number);
        continue;
      }
      return true;
    }
  }

  bool TakeHeld(std::string& bytes, uint64_t& number) {
    if (held_.empty()) return false;
    bytes = std::move(held_.front().first);
    number = held_.front().second;
    held_.pop_front();
    return true;
  }

  // What follows the chunks a clean header counts: unused space (zeros),
  // or data it does not count (chunks, another file after it), which is
  // said and left.
  void CheckExtra() {
    extra_checked_ = true;
    std::string bytes;
    uint64_t number, chunks = 0, other = 0;
    const uint64_t counted = slots_read_;
    const bool partial = partial_;
    while (ReadSlot(bytes, number)) {
      if (bytes.size() >= 8 &&
          std::memcmp(bytes.data(), kEvtxChunkSignature, 8) == 0)
        ++chunks;
      else if (bytes.find_first_not_of('\0') != std::string::npos)
        ++other;
    }
    // Only the counted chunks are the file's: a piece ends with them.
    slots_read_ = counted;
    partial_ = partial;
    if (chunks == 0 && other == 0) return;
    std::string what = std::to_string(chunks) + " chunk(s)";
    if (other > 0)
      what +=
          " and " + std::to_string(other) + " block(s) of 64 KiB of other data";
    notes_.push_back(what + " after the " +
                     std::to_string(header_.chunk_count) +
                     " the file header counts were not read");
  }

  void Decode(Slot& slot, ChunkDecoder& decoder) {
    // Only a file that says it was not closed has records past its
    // checksums; a header that fails its own checksum leaves the chunks'
    // checks as they are.
    decoder.Decode(slot.bytes, slot.number,
                   header_.dirty() && header_.checksum_ok, slot.decoded);
  }

  bool NextChunk() {
    current_ = nullptr;
    item_ = 0;
    // A stop ends the input between chunks, as other readers end between
    // blocks; the chunks in flight are left to the threads.
    if (StopRequested()) return false;
    if (workers_.empty()) {
      Slot& slot = serial_;
      if (!Take(slot.bytes, slot.number)) return false;
      current_number_ = slot.number;
      if (!Special(slot)) {
        try {
          Decode(slot, decoder_);
        } catch (const std::bad_alloc&) {
          throw OutOfMemory(slot.number);
        }
      }
      position_ = kEvtxHeaderSize + slots_read_ * kEvtxChunkSize;
      current_ = &slot;
      return true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (finished_ != nullptr) spare_.push_back(std::move(finished_));
    while (flight_.size() < in_flight_) {
      std::unique_ptr<Slot> slot;
      if (spare_.empty()) {
        slot = std::make_unique<Slot>();
      } else {
        slot = std::move(spare_.back());
        spare_.pop_back();
      }
      slot->started = slot->done = false;
      slot->error = nullptr;
      lock.unlock();
      const bool more = Take(slot->bytes, slot->number);
      if (more && Special(*slot)) slot->started = slot->done = true;
      lock.lock();
      if (!more) break;
      flight_.push_back(std::move(slot));
      work_.notify_one();
    }
    if (flight_.empty()) return false;
    ready_.wait(lock, [&] { return flight_.front()->done; });
    finished_ = std::move(flight_.front());
    flight_.pop_front();
    if (finished_->error) {
      try {
        std::rethrow_exception(finished_->error);
      } catch (const std::bad_alloc&) {
        throw OutOfMemory(finished_->number);
      }
    }
    current_number_ = finished_->number;
    position_ = kEvtxHeaderSize + slots_read_ * kEvtxChunkSize;
    current_ = finished_.get();
    return true;
  }

  // Memory that ran out says nothing of the chunk: the input cannot be
  // read on.
  static InputError OutOfMemory(uint64_t chunk) {
    return InputError("not enough memory to decode chunk " +
                      std::to_string(chunk));
  }

  // A chunk that is no chunk to decode: the file cut short before it.
  bool Special(Slot& slot) {
    if (!slot.bytes.empty()) return false;
    slot.decoded.number = slot.number;
    slot.decoded.empty = false;
    slot.decoded.items.clear();
    EvtxItem& item = slot.decoded.items.emplace_back();
    item.where = "chunk " + std::to_string(slot.number);
    item.problem = "the file ends before it: the header counts " +
                   std::to_string(header_.chunk_count) +
                   " chunks, the file holds " + std::to_string(slots_read_);
    return true;
  }

  void Work() {
    ChunkDecoder decoder;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      Slot* slot = nullptr;
      work_.wait(lock, [&] {
        if (stopping_) return true;
        for (auto& s : flight_)
          if (!s->started) {
            slot = s.get();
            return true;
          }
        return false;
      });
      if (slot == nullptr) return;
      slot->started = true;
      lock.unlock();
      try {
        Decode(*slot, decoder);
      } catch (...) {
        slot->error = std::current_exception();
      }
      lock.lock();
      slot->done = true;
      ready_.notify_all();
    }
  }

  void StopThreads() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    work_.notify_all();
    for (auto& t : workers_) t.join();
    workers_.clear();
  }

  size_t ColumnOf(std::string_view name) {
    if (auto found = exact_.find(name); found != exact_.end())
      return found->second;
    std::string folded = Folded(name);
    size_t column;
    if (auto found = folded_.find(folded); found != folded_.end()) {
      column = found->second;
    } else {
      column = columns_.size();
      columns_.emplace_back(name);
      folded_.emplace(std::move(folded), column);
    }
    exact_.emplace(std::string(name), column);
    return column;
  }

  // The problem of a run of lost records, with their EventRecordIDs: the
  // record header ids moved by what the nearest readable record shows (an
  // exported log numbers its headers from 1), or as header ids when no
  // record told.
  void Named(const EvtxItem& item) {
    bool known = offset_known_;
    int64_t offset = offset_;
    for (size_t i = item_; !known && i < current_->decoded.items.size(); ++i) {
      const EvtxEvent& e = current_->decoded.items[i].event;
      if (current_->decoded.items[i].problem.empty() && e.header_id != 0) {
        offset = static_cast<int64_t>(e.record_id - e.header_id);
        known = true;
      }
    }
    const uint64_t first = item.first_id + static_cast<uint64_t>(offset);
    const uint64_t last = item.last_id + static_cast<uint64_t>(offset);
    const bool one = first == last;
    named_problem_ = item.problem + "; " + std::to_string(item.lost) +
                     " record(s) skipped, " +
                     (known ? (one ? "EventRecordID " : "EventRecordIDs ")
                            : (one ? "record number " : "record numbers ")) +
                     std::to_string(first) +
                     (one ? "" : "-" + std::to_string(last));
  }

  // Notes the full path a field of `column` has: the column's, unless
  // another field of it had another.
  void SeePath(size_t column, const std::string& path) {
    if (column >= column_paths_.size()) column_paths_.resize(columns_.size());
    std::string& seen = column_paths_[column];
    if (seen.empty())
      seen = path;
    else if (seen != kTwoPaths && !common::EqualsNoCase(seen, path))
      seen = kTwoPaths;
  }

  void Fill(const EvtxItem& item, Record& record) {
    record.cells.clear();
    record.keys.clear();
    record.nested.clear();
    record.terminator = kLf;
    record.where = item.where;
    record.fatal = false;
    record.problem = item.problem;
    record.lost = item.lost;
    record.line = item.event.record_id;
    record.raw = item.event.json;
    if (!item.problem.empty()) return;
    offset_ = static_cast<int64_t>(item.event.record_id - item.event.header_id);
    offset_known_ = item.event.header_id != 0;
    const std::vector<EvtxField>& fields = item.event.fields;
    for (const EvtxField& f : fields) {
      const size_t column = ColumnOf(f.key());
      if (record.cells.size() < columns_.size())
        record.cells.resize(columns_.size());
      if (keep_paths_) SeePath(column, f.path);
      record.cells[column] = f.value;
      record.keys.push_back(static_cast<uint32_t>(column));
    }
    record.cells.resize(columns_.size());
    for (WantedPath& wanted : paths_)
      for (const EvtxField& f : fields)
        if (common::EqualsNoCase(f.path, wanted.path)) {
          size_t& column = wanted.column;
          if (column == kNoColumn) column = ColumnOf(wanted.name);
          record.cells.resize(columns_.size());
          record.cells[column] = f.value;
          break;
        }
    if (sampled_ < 64) {
      ++sampled_;
      for (const EvtxField& f : fields)
        if (hints_.size() < 2000) hints_.insert(f.path);
    }
  }

  std::FILE* file_;
  EvtxFileHeader header_;
  uint64_t next_number_;  // the number of the stream's first chunk
  bool piece_;
  bool trusted_ = true;
  bool at_end_ = false;
  bool partial_ = false;  // the last slot read was cut short
  bool extra_checked_ = false;
  bool short_reported_ = false;
  uint64_t slots_read_ = 0;
  uint64_t held_until_ = 0;
  std::deque<std::pair<std::string, uint64_t>> held_;
  uint64_t position_ = 0;
  uint64_t current_number_ = 0;
  std::vector<std::string> notes_;

  std::vector<std::string> columns_;
  // Per column: its fields' full path, or kTwoPaths (KeepFieldPaths).
  bool keep_paths_ = false;
  std::vector<std::string> column_paths_;
  static constexpr const char* kTwoPaths = "\n";
  NameIndex exact_, folded_;
  // Fields asked for by a path or a flattened name: the column made for
  // the name, and the path of the field it reads.
  struct WantedPath {
    size_t column;
    std::string name, path;
  };
  std::vector<WantedPath> paths_;
  // EventRecordID minus record header id of the last record read.
  int64_t offset_ = 0;
  bool offset_known_ = false;
  std::string named_problem_;
  std::set<std::string> hints_;
  uint64_t sampled_ = 0;

  ChunkDecoder decoder_;
  Slot serial_;
  Slot* current_ = nullptr;
  size_t item_ = 0;

  std::mutex mutex_;
  std::condition_variable work_, ready_;
  std::deque<std::unique_ptr<Slot>> flight_;
  std::vector<std::unique_ptr<Slot>> spare_;
  std::unique_ptr<Slot> finished_;
  std::vector<std::thread> workers_;
  size_t in_flight_ = 0;
  bool stopping_ = false;
};

}  // namespace

std::unique_ptr<RecordReader> MakeEvtxReader(std::FILE* file,
                                             uint64_t first_chunk, bool piece) {
  return std::make_unique<EvtxReader>(file, first_chunk, piece);
}

}  // namespace eventquery
