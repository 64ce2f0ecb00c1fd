// Records copied out of a reader to be decided on another thread, and what
// was decided of each.
//
// A batch holds its records' bytes in one arena, so that the reader may
// move on while the batch is decided. CSV records may travel unsplit: their
// cells are made on the deciding thread (split_later). Every record is
// decided into an Outcome; a failure of the module on it is kFailed with
// its message, never a silent no-match. (Lines that are no record are said
// by the scan and never batched.)
//
// Thread safety: a batch is filled by the reading thread, then decided by
// one thread (see Deciders), then settled by the reading thread again.

#ifndef EVFILTER_BATCH_H_
#define EVFILTER_BATCH_H_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decide/RecordMatcher.h"
#include "decide/RowFeeder.h"
#include "records/Record.h"

namespace evfilter {

enum class Outcome : uint8_t { kNoMatch, kMatch, kFailed };

// What a matcher decided about one record, settled later in input order.
struct Decision {
  Outcome outcome = Outcome::kNoMatch;
  uint32_t cells = 0;  // cells the record has (for ragged CSV rows)
  std::vector<eventquery::FeedNote> notes;
  std::string failure;
};

// Decides `record`, whose cells `columns` names, into `d`.
void Decide(eventquery::RecordMatcher& matcher,
            const eventquery::Record& record,
            const std::vector<std::string>& columns, Decision& d);

class Batch {
 public:
  // Appends a copy of `record`.
  void Add(const eventquery::Record& record);
  // Record `i`, viewing the batch's arena; `scratch` holds cells that had
  // to be unquoted. Split-later cells are made only `with_cells`.
  void Get(size_t i, eventquery::Record& record, std::string& scratch,
           bool with_cells = true) const;
  // Decides every record into decisions().
  void DecideAll(eventquery::RecordMatcher& matcher);
  // Empties the batch, keeping its memory for the next one.
  void Clear();

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  const Decision& decision(size_t i) const { return decisions_[i]; }

  // The columns the records' cells are named by.
  std::vector<std::string> columns;
  // CSV records whose cells Get makes.
  bool split_later = false;
  // Set by Deciders under its lock.
  bool decided = false;
  std::exception_ptr error;  // what DecideAll threw, for the reading thread

 private:
  struct Entry {
    size_t raw_begin, raw_size, cells_begin, cells_end, keys_begin, keys_end;
    std::string_view terminator;  // one of the reader's static texts
    uint64_t line;
    std::string problem;
    bool fatal;
  };
  std::string arena_;
  std::vector<Entry> entries_;
  std::vector<std::pair<size_t, size_t>> cells_;  // (begin, size); npos: none
  std::vector<uint32_t> keys_;
  std::vector<Decision> decisions_;
};

}  // namespace evfilter

#endif  // EVFILTER_BATCH_H_
