// A hunt's detections as a timeline: each detection's written line, kept
// until the end and then given out in event-time order, stably (lines of
// one time keep the order they came in; lines whose event has no readable
// time come last, in their order). Inputs that cover one period in any
// order give one timeline.
//
// Memory: every line, plus an entry of 24 bytes, until Drain; Add refuses a
// line that would pass the bound, and the caller says so rather than write a
// timeline that is not whole.
//
// Thread safety: one thread.

#ifndef SIGMA_TIMELINE_H_
#define SIGMA_TIMELINE_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "records/Record.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {

class Timeline {
 public:
  explicit Timeline(size_t max_bytes) : max_bytes_(max_bytes) {}

  // Keeps `line` for the event time `time` (nanoseconds, TimeKey; nothing:
  // no readable time). False, keeping nothing, when the lines would need
  // more than the bound. Cost: O(1) amortized.
  bool Add(std::optional<int64_t> time, std::string_view line);
  // Hands every line to `write` in time order, then forgets them; stops
  // at the first false. Cost: O(n log n).
  bool Drain(const std::function<bool(std::string_view)>& write);

  size_t bytes() const { return bytes_; }
  size_t lines() const { return entries_.size(); }

 private:
  struct Entry {
    int64_t time;
    size_t at;  // into text_
    uint32_t size;
    bool timed;
  };
  size_t max_bytes_, bytes_ = 0;
  std::string text_;
  std::vector<Entry> entries_;
};

// The fields `rule` tests (in any of its forms, Channel and EventID left
// out) that `record` has, as "name=value" joined by "; ", each value cut
// to 200 bytes: what made the detection, for a timeline's details column.
std::string DetectionDetails(const CompiledRule& rule, const Record& record,
                             const std::vector<std::string>& columns);

}  // namespace eventquery::sigma

#endif  // SIGMA_TIMELINE_H_
