#include "sigma/HuntScan.h"

#include <exception>
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

HuntScan::HuntScan(const RuleSet& set, Zone zone, bool profile,
                   std::string product, Detections& out, const HuntScope& scope)
    : set_(set),
      hunter_(set, zone, profile),
      scope_(scope, zone),
      product_(std::move(product)),
      out_(out) {
  if (scope.filters != nullptr && scope.filters->size() > 0)
    filter_.emplace(*scope.filters, zone);
}

bool HuntScan::Begin(const Input& /*input*/, RecordReader& reader) {
  hunter_.NewInput();
  std::vector<std::string> wanted = hunter_.field_names();
  // fieldref's other field is read by the host only.
  for (const std::string& f : set_.host_fields()) wanted.push_back(f);
  // What a detection shows, and what the index reads.
  for (const char* f : {"Channel", "EventID", "Computer"}) wanted.push_back(f);
  scope_.NewInput();
  for (std::string& f : scope_.field_names()) wanted.push_back(std::move(f));
  if (filter_) {
    filter_->NewInput();
    for (std::string& f : filter_->field_names())
      wanted.push_back(std::move(f));
  }
  reader.WantFields(wanted);
  reader_ = &reader;
  classed_ = false;
  return true;
}

void HuntScan::Passed(const Record& /*record*/) { out_.Read(*reader_); }

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
    hunter_.UseSource(source);
    if (filter_) filter_->UseSource(source);
    out_.Classified(source, hunter_.not_run());
  }
  if (!InScope(record, columns)) return true;
  notes_.clear();
  try {
    hunter_.Match(record, columns, matched_, &notes_);
    if (filter_) filter_->Apply(record, columns, matched_);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    out_.Failed(record, e.what());
    return true;
  }
  if (!notes_.empty()) out_.CellNotes(record, hunter_.feeder(), notes_);
  if (!matched_.empty()) out_.DetectedEvent(record, columns, id, matched_);
  return true;
}

bool HuntScan::InScope(const Record& record,
                       const std::vector<std::string>& columns) {
  notes_.clear();
  bool in = false;
  try {
    in = scope_.Admit(record, columns, &notes_);
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    out_.Failed(record, e.what());
    return false;
  }
  if (!notes_.empty()) out_.CellNotes(record, *scope_.where_feeder(), notes_);
  return in;
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
