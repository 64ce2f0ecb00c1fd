// A period that limits which records are decided: from `since`, up to
// `until`, both included, each a date or a timestamp read as a cell is
// (CellReaders), in the same zone, but never digits alone (which a cell
// may hold as an epoch count). A date alone as `until` takes the whole
// day. A record is placed by one of its times; one with no readable time
// cannot be placed, which the caller says rather than guess.
//
// Thread safety: immutable.

#ifndef DECIDE_TIMEWINDOW_H_
#define DECIDE_TIMEWINDOW_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "decide/CellReaders.h"

namespace eventquery {

// Nanoseconds from 1970-01-01 in `zone` of a date or timestamp read as a
// cell is; nothing for a text that is neither, or of a year before 1678 or
// after 2261 (beyond 64 bits of nanoseconds). `date_only` (if given) says
// it had no time of day. Cost: one read of the text as a date and a time.
std::optional<int64_t> TimeKey(std::string_view text, Zone zone,
                               bool* date_only = nullptr);

class TimeWindow {
 public:
  enum Place : uint8_t { kInside, kOutside, kNoTime };

  // "" leaves that side open. Throws std::invalid_argument, naming the
  // bound as the caller names it, for one that is no date or timestamp,
  // or a `since` after `until`.
  TimeWindow(const std::string& since, const std::string& until, Zone zone,
             const char* since_name = "since",
             const char* until_name = "until");

  // True when neither side is set.
  bool open() const { return !since_ && !until_; }
  // Where a record whose time is `time` (or none) lies. Cost: one read of
  // the text as a date and a time.
  Place Of(std::optional<std::string_view> time) const;

 private:
  Zone zone_;
  std::optional<int64_t> since_, until_;  // until_ included
};

}  // namespace eventquery

#endif  // DECIDE_TIMEWINDOW_H_
