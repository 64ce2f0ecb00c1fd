// Correlation rules over a hunt's detections: the detections of the rules
// a correlation names are kept with their group (the values of its
// group-by fields, through its aliases) and, once the hunt has read every
// input, taken in event-time order, so inputs that cover one period in
// any order correlate alike. Per group and within the timespan:
//
//   event_count       at least N detections
//   value_count       at least N distinct values of the field
//   temporal          a detection of each rule named
//   temporal_ordered  the same, in the order the rules are named
//
// A correlation detection lists the detections that made it (their rule,
// input, record id and time), and its group's window starts anew. A
// detection with no readable time cannot be placed and is counted apart.
// Rules named by a correlation whose `generate` is false give no
// detections of their own.
//
// Memory: every kept detection (about 100 bytes and its group's values)
// until Run, bounded by `max_bytes`: Add refuses one more, and the caller
// says so. Run holds the open groups of one correlation at a time, each
// with at most its window's detections; groups whose window has passed are
// dropped as time moves on.
//
// Thread safety: one thread.

#ifndef SIGMA_CORRELATIONS_H_
#define SIGMA_CORRELATIONS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decide/CellReaders.h"
#include "records/Record.h"
#include "sigma/Hunter.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {

class Correlator {
 public:
  // One detection a correlation detection is made of.
  struct Event {
    uint32_t rule;  // into the rule set
    std::string input;
    uint64_t record_id;
    std::string time;  // as the event wrote it
  };
  struct Found {
    size_t correlation;
    std::vector<std::pair<std::string, std::string>> group;  // field, value
    std::vector<Event> events;                               // in time order
    int64_t time;  // the last event's, for ordering
  };

  // Finds each correlation's rules among `set`'s (by id, else by name),
  // taking only those `run` marks when it is given; a correlation naming
  // one that is not there, or chaining another correlation, is moved to
  // `rejected` with why.
  Correlator(std::vector<CompiledCorrelation> correlations, const RuleSet& set,
             std::vector<RejectedRule>& rejected, size_t max_bytes, Zone zone,
             const std::vector<bool>* run = nullptr);

  const std::vector<CompiledCorrelation>& correlations() const {
    return correlations_;
  }
  // Whether rule `rule`'s detections are written as its own.
  bool Generates(uint32_t rule) const { return generates_[rule] != 0; }
  // Whether some correlation names rule `rule`.
  bool Named(uint32_t rule) const { return !named_[rule].empty(); }

  // Keeps a detection of rule `rule` for the correlations naming it.
  // False, keeping nothing, past the memory bound.
  bool Add(const Record& record, const std::vector<std::string>& columns,
           uint32_t rule, std::string_view input, uint64_t record_id);
  // Every correlation over the kept detections; then forgets them.
  // Cost: O(n log n) in the detections kept.
  std::vector<Found> Run();

  uint64_t without_time() const { return without_time_; }
  size_t bytes() const { return bytes_; }

 private:
  struct Kept {
    int64_t time;
    uint32_t event;        // into events_
    uint32_t correlation;  // into correlations_
    uint32_t position;     // the rule's place in the correlation's list
    std::string group, value;
  };
  void RunOne(size_t c, const std::vector<const Kept*>& items,
              std::vector<Found>& out) const;

  std::vector<CompiledCorrelation> correlations_;
  const RuleSet& set_;
  Zone zone_;
  size_t max_bytes_, bytes_ = 0;
  std::vector<char> generates_;
  // Per rule: (correlation, position) pairs naming it.
  std::vector<std::vector<std::pair<uint32_t, uint32_t>>> named_;
  std::vector<Event> events_;
  std::vector<Kept> kept_;
  uint64_t without_time_ = 0;
};

}  // namespace eventquery::sigma

#endif  // SIGMA_CORRELATIONS_H_
