// A hunt's detections as one self-contained HTML page to look at: the
// summary's counts, the detections over time by level, the rules and hosts
// with the most detections, and a table of detections that sorts and
// searches in the browser. The page fetches nothing: its data, styles and
// script are inside it, and its content policy forbids any load.
//
// Front ends count each detection (Count) and add each line of their
// timeline to the table (AddRow: a detection, an event's detections with
// --per-event, a correlation detection), then ask for the page with the
// summary's JSON, whose counts the chart's agree with.
//
// Memory: the table stops taking rows at kMostRows rows or once their
// text passes kMostRowBytes (the page says how many it left out); the
// counts over time keep at most kMostBuckets buckets, widening them as
// the period grows, so every detection with a readable time is counted,
// exactly.
//
// Thread safety: one thread.

#ifndef SIGMA_HUNTREPORT_H_
#define SIGMA_HUNTREPORT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace eventquery::sigma {

class HuntReport {
 public:
  static constexpr size_t kMostRows = 20000;
  static constexpr size_t kMostRowBytes = size_t{32} << 20;
  static constexpr size_t kMostBuckets = 4096;

  // One detection as the table shows it.
  struct Row {
    std::string_view time, level, rule_title, rule_id, input;
    std::optional<uint64_t> record_id;  // nothing: a correlation's
    std::string_view computer, channel, event_id, details;
  };

  // Counts a detection of `level` at `time_key` (its time as TimeKey reads
  // it; nothing: not placed in time). Cost: O(log buckets), and now and
  // then O(buckets) to widen them.
  void Count(std::string_view level, std::optional<int64_t> time_key);
  // Adds `row` to the table. Cost: O(size of the row).
  void AddRow(const Row& row);
  // The rows are events, each with its detections (--per-event).
  void RowsAreEvents() { rows_are_events_ = true; }

  // The page, with `summary_json` (one JSON object, as HuntSummary::Json
  // writes it) for its counts. Cost: O(rows + buckets).
  std::string Page(std::string_view summary_json) const;

  uint64_t rows() const { return rows_; }
  uint64_t rows_left_out() const { return left_out_; }

 private:
  // Counts per level rank + 1, critical last, as HuntSummary keeps them.
  using Counts = std::array<uint64_t, 6>;

  std::string HistogramJson() const;

  std::string rows_json_;  // the table's rows, a JSON array's members
  uint64_t rows_ = 0, left_out_ = 0;
  bool rows_are_events_ = false;
  size_t width_ = 0;  // the buckets' width: an index into the widths
  std::map<int64_t, Counts> buckets_;  // bucket start / width -> counts
};

}  // namespace eventquery::sigma

#endif  // SIGMA_HUNTREPORT_H_
