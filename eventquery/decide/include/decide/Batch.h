// Records copied out of a reader to be decided on another thread, and what
// was decided of each.
//
// A batch holds its records' bytes in one arena, so that the reader may
// move on while the batch is decided. CSV records may travel unsplit: their
// cells are made on the deciding thread (split_later). Every record is
// decided into an Outcome by a BatchDecider (a matcher's filter, a hunt's
// rules); a failure of the module on it is kFailed with its message, never
// a silent no-match. (Lines that are no record are said by the scan and
// never batched.)
//
// Thread safety: a batch is filled by the reading thread, then decided by
// one thread (see Deciders), then settled by the reading thread again.

#ifndef DECIDE_BATCH_H_
#define DECIDE_BATCH_H_

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

namespace eventquery {

// kLeft: not decided, by the decider's choice (outside a hunt's scope).
enum class Outcome : uint8_t { kNoMatch, kMatch, kFailed, kLeft };

// What was decided about one record, settled later in input order.
struct Decision {
  Outcome outcome = Outcome::kNoMatch;
  uint32_t cells = 0;  // cells the record has (for ragged CSV rows)
  std::vector<FeedNote> notes;
  std::string failure;
  // A hunt's: the rules that detected the record (kMatch), and notes on
  // the cells its scope's `where` read.
  std::vector<uint32_t> rules;
  std::vector<FeedNote> scope_notes;
};

// Decides records one by one; a batch is decided by one at a time, and a
// decider by one thread at a time.
class BatchDecider {
 public:
  virtual ~BatchDecider() = default;
  // Decides `record`, whose cells `columns` names, into `d` (all of it
  // set), a failure of the module on it included.
  virtual void Decide(const Record& record,
                      const std::vector<std::string>& columns, Decision& d) = 0;
};

// Decides `record`, whose cells `columns` names, into `d`.
void Decide(RecordMatcher& matcher, const Record& record,
            const std::vector<std::string>& columns, Decision& d);

// A matcher's filter as a BatchDecider.
class MatcherDecider final : public BatchDecider {
 public:
  explicit MatcherDecider(RecordMatcher& matcher) : matcher_(matcher) {}
  void Decide(const Record& record, const std::vector<std::string>& columns,
              Decision& d) override {
    eventquery::Decide(matcher_, record, columns, d);
  }

 private:
  RecordMatcher& matcher_;
};

class Batch {
 public:
  // Appends a copy of `record`, known by `id` (see id()).
  void Add(const Record& record, uint64_t id = 0);
  // Record `i`, viewing the batch's arena; `scratch` holds cells that had
  // to be unquoted. Split-later cells are made only `with_cells`.
  void Get(size_t i, Record& record, std::string& scratch,
           bool with_cells = true) const;
  // The id record `i` was added with.
  uint64_t id(size_t i) const { return entries_[i].id; }
  // Decides every record into decisions().
  void DecideAll(BatchDecider& decider);
  // Empties the batch, keeping its memory for the next one.
  void Clear();

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // The bytes its records hold.
  size_t bytes() const { return arena_.size(); }
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
    size_t nested_begin, nested_end, where_begin, where_size;
    std::string_view terminator;  // one of the reader's static texts
    uint64_t line, id;
    std::string problem;
    bool fatal;
  };
  std::string arena_;
  std::vector<Entry> entries_;
  std::vector<std::pair<size_t, size_t>> cells_;  // (begin, size); npos: none
  std::vector<uint32_t> keys_;
  std::vector<uint32_t> nested_;
  std::vector<Decision> decisions_;
};

}  // namespace eventquery

#endif  // DECIDE_BATCH_H_
