#include "sigma/HuntScan.h"

#include <algorithm>
#include <exception>
#include <future>
#include <new>
#include <system_error>
#include <utility>

#include "common/Ascii.h"

namespace eventquery::sigma {
namespace {

// Fields an event's time may be in, most telling first.
constexpr const char* kTimeFields[] = {
    "TimeCreated",   "UtcTime",   "@timestamp", "timestamp", "TimeGenerated",
    "Date and Time", "EventTime", "time",       "ts"};

}  // namespace

ScopeCheck::ScopeCheck(const HuntScope& scope, Zone zone) {
  if (scope.window && !scope.window->open()) window_ = scope.window;
  if (!scope.where.empty()) wanted_.emplace(scope.where, zone);
}

void ScopeCheck::NewInput() {
  if (wanted_) wanted_->NewInput();
}

std::vector<std::string> ScopeCheck::field_names() const {
  std::vector<std::string> names;
  if (wanted_) names = wanted_->feeder().field_names();
  if (window_)
    for (const char* f : kTimeFields) names.push_back(f);
  return names;
}

bool ScopeCheck::Admit(const Record& record,
                       const std::vector<std::string>& columns,
                       std::vector<FeedNote>* notes) {
  if (window_) {
    const TimeWindow::Place place = window_->Of(EventTime(record, columns));
    if (place != TimeWindow::kInside) {
      ++(place == TimeWindow::kOutside ? left_.outside : left_.no_time);
      return false;
    }
  }
  if (!wanted_) return true;
  const bool match = wanted_->Match(record, columns, notes);
  if (!match) ++left_.not_wanted;
  return match;
}

HuntDecider::HuntDecider(const RuleSet& set, Zone zone, bool profile,
                         const HuntScope& scope)
    : set_(set), hunter_(set, zone, profile), scope_(scope, zone) {
  if (scope.filters != nullptr && scope.filters->size() > 0)
    filter_.emplace(*scope.filters, zone);
}

void HuntDecider::NewInput() {
  hunter_.NewInput();
  scope_.NewInput();
  if (filter_) filter_->NewInput();
}

std::vector<std::string> HuntDecider::field_names() const {
  std::vector<std::string> wanted = hunter_.field_names();
  // fieldref's other field is read by the host only.
  for (const std::string& f : set_.host_fields()) wanted.push_back(f);
  // What a detection shows, and what the index reads.
  for (const char* f : {"Channel", "EventID", "Computer"}) wanted.push_back(f);
  for (std::string& f : scope_.field_names()) wanted.push_back(std::move(f));
  if (filter_)
    for (std::string& f : filter_->field_names())
      wanted.push_back(std::move(f));
  return wanted;
}

void HuntDecider::UseSource(const LogSource& source) {
  hunter_.UseSource(source);
  if (filter_) filter_->UseSource(source);
}

void HuntDecider::Decide(const Record& record,
                         const std::vector<std::string>& columns, Decision& d) {
  d.notes.clear();
  d.scope_notes.clear();
  d.rules.clear();
  d.failure.clear();
  d.cells = static_cast<uint32_t>(record.cells.size());
  d.outcome = Outcome::kLeft;
  try {
    if (!scope_.Admit(record, columns, &d.scope_notes)) return;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    d.scope_notes.clear();
    d.outcome = Outcome::kFailed;
    d.failure = e.what();
    return;
  }
  try {
    hunter_.Match(record, columns, d.rules, &d.notes);
    if (filter_) filter_->Apply(record, columns, d.rules);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    d.outcome = Outcome::kFailed;
    d.failure = e.what();
    return;
  }
  d.outcome = d.rules.empty() ? Outcome::kNoMatch : Outcome::kMatch;
}

HuntScan::HuntScan(const RuleSet& set, Zone zone, bool profile,
                   std::string product, Detections& out, const HuntScope& scope,
                   unsigned threads)
    : product_(std::move(product)), out_(out) {
  const unsigned n = profile ? 1 : std::max(1u, threads);
  // Every decider builds each rule's filter: the threads' are built on
  // threads of their own meanwhile (a large set takes a second each).
  auto build = [&] {
    return std::make_unique<HuntDecider>(set, zone, profile, scope);
  };
  std::vector<std::future<std::unique_ptr<HuntDecider>>> others;
  for (unsigned i = 1; i < n; ++i) {
    try {
      others.push_back(std::async(std::launch::async, build));
    } catch (const std::system_error&) {
      others.push_back(std::async(std::launch::deferred, build));
    }
  }
  deciders_.push_back(build());
  for (auto& other : others) deciders_.push_back(other.get());
  for (const auto& d : deciders_) each_.push_back(d.get());
  // The threads start once, for every input; without them the first
  // decider decides alone.
  if (n > 1) {
    try {
      flight_.emplace(each_, [this](Batch& batch) { Settle(batch); });
    } catch (const std::system_error&) {
    }
  }
}

ScopeCounts HuntScan::left() const {
  ScopeCounts sum;
  for (const auto& d : deciders_) {
    sum.outside += d->left().outside;
    sum.no_time += d->left().no_time;
    sum.not_wanted += d->left().not_wanted;
  }
  return sum;
}

std::vector<uint64_t> HuntScan::removed() const {
  std::vector<uint64_t> sum = deciders_[0]->removed();
  for (size_t i = 1; i < deciders_.size(); ++i) {
    const std::vector<uint64_t> more = deciders_[i]->removed();
    for (size_t f = 0; f < sum.size() && f < more.size(); ++f)
      sum[f] += more[f];
  }
  return sum;
}

bool HuntScan::Begin(const Input& /*input*/, RecordReader& reader) {
  // Records of an input given up halfway (out of memory) are not this
  // one's; then no batch is in flight and every decider is free.
  if (flight_) flight_->Discard();
  for (const auto& d : deciders_) d->NewInput();
  reader.WantFields(deciders_[0]->field_names());
  reader_ = &reader;
  classed_ = false;
  return true;
}

void HuntScan::Passed(const Record& /*record*/) {
  // The records before the line are settled first: their detections and
  // notes come before its report, which may end the run (--strict).
  if (flight_) flight_->Drain();
  out_.Read(*reader_);
}

bool HuntScan::Take(const Record& record, uint64_t id) {
  out_.Read(*reader_);
  if (!out_.Going()) return false;
  const std::vector<std::string>& columns = reader_->columns();
  // The rules that run on this input, by what its first readable record
  // shows.
  if (!classed_) {
    classed_ = true;
    LogSource source;
    if (product_.empty())
      source = SourceOfInput(reader_->log_source(), columns);
    else if (product_ != "any")
      source.product = product_;
    for (const auto& d : deciders_) d->UseSource(source);
    out_.Classified(source, deciders_[0]->hunter().not_run());
  }
  if (flight_) {
    flight_->Add(record, id, columns, false);
    return true;
  }
  deciders_[0]->Decide(record, columns, decision_);
  Report(record, columns, id, decision_);
  return true;
}

bool HuntScan::Drain() {
  // Without threads nothing was read ahead: an input that failed after
  // the output had enough still failed.
  if (!flight_) return true;
  flight_->Drain();
  return out_.Going();
}

void HuntScan::Settle(Batch& batch) {
  Record record;
  std::string scratch;
  for (size_t i = 0; i < batch.size() && out_.Going(); ++i) {
    batch.Get(i, record, scratch);
    Report(record, batch.columns, batch.id(i), batch.decision(i));
  }
}

void HuntScan::Report(const Record& record,
                      const std::vector<std::string>& columns, uint64_t id,
                      const Decision& d) {
  if (!d.scope_notes.empty())
    out_.CellNotes(record, *deciders_[0]->where_feeder(), d.scope_notes);
  if (d.outcome == Outcome::kFailed) {
    out_.Failed(record, d.failure);
    return;
  }
  if (d.outcome == Outcome::kLeft) return;
  if (!d.notes.empty()) out_.CellNotes(record, deciders_[0]->feeder(), d.notes);
  if (d.outcome == Outcome::kMatch)
    out_.DetectedEvent(record, columns, id, d.rules);
}

std::optional<std::string_view> CellNamed(
    const Record& record, const std::vector<std::string>& columns,
    std::string_view name) {
  for (int pass = 0; pass < 2; ++pass)
    for (size_t c = 0; c < columns.size() && c < record.cells.size(); ++c)
      if (pass == 0 ? columns[c] == name
                    : common::EqualsNoCase(columns[c], name))
        if (record.cells[c]) return record.cells[c];
  return std::nullopt;
}

std::optional<std::string_view> EventTime(
    const Record& record, const std::vector<std::string>& columns) {
  for (const char* f : kTimeFields)
    if (auto time = CellNamed(record, columns, f)) return time;
  return std::nullopt;
}

}  // namespace eventquery::sigma
