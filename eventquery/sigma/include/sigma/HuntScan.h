// Sigma rules over an input's records, as one sink of the record scan
// (records/Scan.h): what evfilter hunt, Python's hunt and its Dask tasks
// run alike. At an input's first readable record the rules that run on it
// are chosen by its log source (SourceOfInput, or the product given);
// a record outside the hunt's scope (its period, its events of interest)
// is counted and left; every other record is decided by the Hunter, the
// site's filters remove
// what they filter (RuleFilters), and each (record, rule) that is left is
// handed to the front end's Detections, in record order, then rule order.
// With threads, records are decided in batches by a HuntDecider each, and
// handed on in the same order, on the reading thread.
//
// Thread safety: one thread (its own deciding threads apart); the RuleSet
// is shared and immutable.

#ifndef SIGMA_HUNTSCAN_H_
#define SIGMA_HUNTSCAN_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decide/Batch.h"
#include "decide/Deciders.h"
#include "decide/RecordMatcher.h"
#include "decide/TimeWindow.h"
#include "query/ConditionLine.h"
#include "records/Scan.h"
#include "sigma/Hunter.h"
#include "sigma/RuleFilters.h"

namespace eventquery::sigma {

// What a front end does with detections and with notes on cells.
class Detections {
 public:
  virtual ~Detections() = default;
  // `record` (of `columns`, with its id) matches rule `rule` (into the
  // RuleSet's rules).
  virtual void Detected(const Record& record,
                        const std::vector<std::string>& columns,
                        uint64_t record_id, uint32_t rule) = 0;
  // Every rule (in rule order, at least one) that detected `record`; by
  // default, Detected for each.
  virtual void DetectedEvent(const Record& record,
                             const std::vector<std::string>& columns,
                             uint64_t record_id,
                             const std::vector<uint32_t>& rules) {
    for (uint32_t r : rules) Detected(record, columns, record_id, r);
  }
  // Notes about cells the rules read: a field's value that could not be
  // read as a rule wanted it (FeedNote; field names from `feeder`).
  virtual void CellNotes(const Record& record, const RowFeeder& feeder,
                         const std::vector<FeedNote>& notes) = 0;
  // The module failed on a record; the record is not decided.
  virtual void Failed(const Record& record, const std::string& why) = 0;
  // The input's source is known: `not_run` rules do not run on it.
  virtual void Classified(const LogSource& /*source*/, size_t /*not_run*/) {}
  // A record was read (also one that is no record), for progress.
  virtual void Read(const RecordReader& /*reader*/) {}
  // False ends the input (an interrupt); asked once per record.
  virtual bool Going() { return true; }
};

// What a hunt looks at: the events of a period (by EventTime) that match
// `where`, with the site's `filters` over the rule set (or none).
struct HuntScope {
  std::optional<TimeWindow> window;
  std::vector<ConditionLine> where;  // empty: every event
  const RuleFilters* filters = nullptr;
};

// The events a scope left before the rules ran.
struct ScopeCounts {
  uint64_t outside = 0;     // of the period
  uint64_t no_time = 0;     // with no readable time, so not placed in it
  uint64_t not_wanted = 0;  // not matching `where`
};

// A hunt's scope over records: which are in its period and match its
// `where` (the site's filters are the hunt's own). Used by HuntScan, and
// by a front end that hunts records it makes itself.
class ScopeCheck {
 public:
  // Throws BuildError for a `where` the module cannot build.
  ScopeCheck(const HuntScope& scope, Zone zone);

  // Starts a new input, whose columns are its own.
  void NewInput();
  // The fields a reader asked for fields by name must give.
  std::vector<std::string> field_names() const;
  // True for a record in the scope; a record outside it is counted.
  // Notes on the cells `where` read go to `notes`; throws what the
  // module's IsMatch throws. Cost: a time read, a decision of `where`.
  bool Admit(const Record& record, const std::vector<std::string>& columns,
             std::vector<FeedNote>* notes);
  // The feeder `where` reads cells with (notes name its fields), if any.
  const RowFeeder* where_feeder() const {
    return wanted_ ? &wanted_->feeder() : nullptr;
  }
  const ScopeCounts& left() const { return left_; }

 private:
  std::optional<TimeWindow> window_;
  std::optional<RecordMatcher> wanted_;
  ScopeCounts left_;
};

// One thread's deciding of a hunt's records: its scope, its rules and the
// site's filters, each with state of its own.
class HuntDecider final : public BatchDecider {
 public:
  // Throws BuildError for a `where` the module cannot build.
  HuntDecider(const RuleSet& set, Zone zone, bool profile,
              const HuntScope& scope);

  // Starts a new input, whose columns are its own.
  void NewInput();
  // The fields a reader asked for fields by name must give.
  std::vector<std::string> field_names() const;
  // The rules (and filters) that run on the input's records.
  void UseSource(const LogSource& source);
  // kLeft for a record outside the scope (counted in left()); kFailed with
  // the module's message; else the rules the filters left (kMatch, in
  // rule order) or none. Notes on the cells the rules read go to `notes`,
  // those of the scope's `where` to `scope_notes`. Throws bad_alloc.
  void Decide(const Record& record, const std::vector<std::string>& columns,
              Decision& d) override;

  const Hunter& hunter() const { return hunter_; }
  const ScopeCounts& left() const { return scope_.left(); }
  // The feeders notes name their fields by.
  const RowFeeder& feeder() const { return hunter_.feeder(); }
  const RowFeeder* where_feeder() const { return scope_.where_feeder(); }
  // Per filter: the detections it removed (none without filters).
  std::vector<uint64_t> removed() const {
    return filter_ ? filter_->removed() : std::vector<uint64_t>();
  }

 private:
  const RuleSet& set_;
  Hunter hunter_;
  std::optional<FilterRunner> filter_;
  ScopeCheck scope_;
};

class HuntScan : public RecordSink {
 public:
  // `product`: "" tells each input's own, "any" runs every rule, another
  // names every input's product. `threads` decide records (one when
  // `profile`, whose times are one thread's). Throws BuildError for a
  // `where` the module cannot build.
  HuntScan(const RuleSet& set, Zone zone, bool profile, std::string product,
           Detections& out, const HuntScope& scope = {}, unsigned threads = 1);

  bool Begin(const Input& input, RecordReader& reader) override;
  bool Take(const Record& record, uint64_t id) override;
  void Passed(const Record& record) override;
  bool Drain() override;

  const Hunter& hunter() const { return deciders_[0]->hunter(); }
  // Summed over the deciders.
  ScopeCounts left() const;
  std::vector<uint64_t> removed() const;

 private:
  // Hands what was decided of `record` to the front end.
  void Report(const Record& record, const std::vector<std::string>& columns,
              uint64_t id, const Decision& d);
  // A batch decided by the threads, handed on record by record.
  void Settle(Batch& batch);

  std::vector<std::unique_ptr<HuntDecider>> deciders_;
  std::vector<BatchDecider*> each_;
  std::optional<BatchFlight> flight_;  // with threads
  std::string product_;
  Detections& out_;
  const RecordReader* reader_ = nullptr;
  bool classed_ = false;
  Decision decision_;  // reused
};

// The time of an event, from the first of the fields an event's time is
// usually in (TimeCreated, UtcTime, @timestamp, ...) that it has.
std::optional<std::string_view> EventTime(
    const Record& record, const std::vector<std::string>& columns);
// The cell of the first column named `name` (exactly, else ignoring ASCII
// case), or nothing.
std::optional<std::string_view> CellNamed(
    const Record& record, const std::vector<std::string>& columns,
    std::string_view name);

}  // namespace eventquery::sigma

#endif  // SIGMA_HUNTSCAN_H_
