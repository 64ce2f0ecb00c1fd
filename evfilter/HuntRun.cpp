#include "HuntRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

#include "Commands.h"
#include "HuntRules.h"
#include "InputLoop.h"
#include "Output.h"
#include "Reporter.h"
#include "WholeFile.h"
#include "decide/TimeWindow.h"
#include "records/CsvCells.h"
#include "records/Formats.h"
#include "records/JsonCells.h"
#include "records/RecordReports.h"
#include "sigma/HuntReport.h"
#include "sigma/HuntScan.h"
#include "sigma/HuntSummary.h"
#include "sigma/Hunter.h"
#include "sigma/Timeline.h"

namespace evfilter {
namespace {

using eventquery::FeedNote;
using eventquery::Input;
using eventquery::Record;
using eventquery::RecordReader;

class Hunt {
 public:
  explicit Hunt(const HuntOptions& o) : options_(o), reporter_(o.strict) {}

  int Go() {
    rules_ = LoadHuntRules(options_);
    if (options_.list) return ListHuntRules(rules_);
    found_.emplace(*rules_.set, options_.zone);
    if (rules_.set->rules().empty()) {
      reporter_.Failure("no rule could be loaded from the rules given");
      Summary();
      return kError;
    }
    sink_ = std::make_unique<Sink>(*this);
    scan_ = std::make_unique<eventquery::sigma::HuntScan>(
        *rules_.set, options_.zone, options_.profile, options_.product, *sink_,
        Scope(), options_.jobs);
    if (options_.csv)
      Put("timestamp,level,rule_title,rule_id,input,record_id,Computer,"
          "Channel,EventID,details\n");
    if (options_.sort_by_time) timeline_.emplace(options_.sort_memory);
    if (!options_.report.empty()) {
      report_.emplace();
      if (options_.per_event) report_->RowsAreEvents();
    }
    {
      // What the threads decided comes out while an input waits.
      const WaitingTask waiting([this] { scan_->Drain(); });
      ForEachInput(
          InputPaths(options_.inputs, reporter_), options_.input_format,
          options_.encoding, reporter_,
          [this](Input& input) { ReadInput(input); }, options_.follow);
      ThrowWhatTheWaitThrew();
    }
    Correlate();
    WriteTimeline();
    const std::string output_error = FlushStandardOutput();
    if (!output_error.empty())
      reporter_.Failure("standard output: " + output_error);
    WriteReport();
    reporter_.Finish(records_, detections_,
                     output_error.empty() ? Reporter::Output::kWritten
                                          : Reporter::Output::kNotAllWritten);
    Summary();
    if (const int stopped = StoppedStatus(reporter_, records_)) return stopped;
    if (reporter_.failed() || rules_.failed) return kError;
    return detections_ > 0 ? kMatched : 1;
  }

 private:
  // What the hunt looks at: the period, --where, the site's filters. A
  // bound that is no date ends the run.
  eventquery::sigma::HuntScope Scope() const {
    eventquery::sigma::HuntScope scope;
    try {
      scope.window.emplace(options_.since, options_.until, options_.zone,
                           "--since", "--until");
    } catch (const std::invalid_argument& e) {
      Fail(e.what());
    }
    scope.where = options_.where;
    scope.filters = rules_.filters.get();
    return scope;
  }

  // The correlations over the detections of the rules they name, written
  // (or kept for the timeline) in time order.
  void Correlate() {
    eventquery::sigma::Correlator& correlations = *rules_.correlations;
    if (correlations.correlations().empty()) return;
    if (correlations_full_) {
      reporter_.Failure(
          "the detections correlation rules name need more than " +
          std::to_string(options_.sort_memory >> 20) +
          " MiB (--sort-memory): no correlation was decided");
      return;
    }
    if (correlations.without_time() > 0)
      reporter_.Note(std::to_string(correlations.without_time()) +
                     " detection(s) of rules a correlation names have no "
                     "readable time: not correlated");
    correlated_.assign(correlations.correlations().size(), 0);
    for (const auto& found : correlations.Run()) {
      ++correlated_[found.correlation];
      ++detections_;
      if (report_) {
        const auto& meta = correlations.correlations()[found.correlation].meta;
        const std::string details = CorrelationDetails(found);
        eventquery::sigma::HuntReport::Row row;
        row.time = found.events.back().time;
        row.level = meta.level;
        row.rule_title = meta.title;
        row.rule_id = meta.id;
        row.details = details;
        report_->AddRow(row);
      }
      std::string line = CorrelationLine(found);
      if (timeline_) {
        if (!timeline_full_ && !timeline_->Add(found.time, line))
          timeline_full_ = true;
      } else {
        Put(line);
      }
    }
  }

  // What made a correlation detection, for the timeline's details: its
  // type, group and events.
  std::string CorrelationDetails(
      const eventquery::sigma::Correlator::Found& found) const {
    const auto& c = rules_.correlations->correlations()[found.correlation];
    std::string details =
        std::string(eventquery::sigma::CorrelationTypeName(c.type)) + " of";
    for (const auto& [field, value] : found.group)
      details += " " + field + "=" + value;
    details += ": " + std::to_string(found.events.size()) + " detection(s):";
    for (const auto& e : found.events)
      details += " " + rules_.set->rules()[e.rule].meta.id + " " + e.input +
                 "#" + std::to_string(e.record_id) + " " + e.time + ";";
    details.pop_back();
    return details;
  }

  // A correlation detection as a timeline or JSON line.
  std::string CorrelationLine(
      const eventquery::sigma::Correlator::Found& found) const {
    const auto& c = rules_.correlations->correlations()[found.correlation];
    const auto& events = found.events;
    std::string out;
    if (options_.csv) {
      const std::string details = CorrelationDetails(found);
      for (const std::string& cell :
           {events.back().time, c.meta.level, c.meta.title, c.meta.id,
            std::string(), std::string(), std::string(), std::string(),
            std::string()}) {
        out += eventquery::CsvField(cell);
        out.push_back(',');
      }
      out += eventquery::CsvField(details);
      out.push_back('\n');
      return out;
    }
    out = "{";
    JsonField(out, "rule_id", c.meta.id);
    out.push_back(',');
    JsonField(out, "rule_title", c.meta.title);
    out.push_back(',');
    JsonField(out, "level", c.meta.level);
    out.push_back(',');
    JsonField(out, "correlation",
              eventquery::sigma::CorrelationTypeName(c.type));
    out += ",\"group\":{";
    for (size_t i = 0; i < found.group.size(); ++i) {
      if (i > 0) out.push_back(',');
      JsonField(out, found.group[i].first.c_str(), found.group[i].second);
    }
    out += "},\"timestamp\":";
    eventquery::AppendJsonString(out, events.back().time);
    out += ",\"events\":[";
    for (size_t i = 0; i < events.size(); ++i) {
      out += i ? ",{" : "{";
      JsonField(out, "rule_id", rules_.set->rules()[events[i].rule].meta.id);
      out.push_back(',');
      JsonField(out, "input", events[i].input);
      out += ",\"record_id\":" + std::to_string(events[i].record_id) +
             ",\"timestamp\":";
      eventquery::AppendJsonString(out, events[i].time);
      out.push_back('}');
    }
    out += "]}\n";
    return out;
  }

  // The detections kept for --sort time, in time order; none when they
  // did not all fit.
  void WriteTimeline() {
    if (!timeline_) return;
    if (timeline_full_) {
      reporter_.Failure(
          "the detections sorted by time need more than " +
          std::to_string(options_.sort_memory >> 20) +
          " MiB (--sort-memory): none written; raise it, or write them in "
          "input order");
      return;
    }
    timeline_->Drain([](std::string_view line) {
      Put(line);
      return true;
    });
  }

  void Summary() const {
    if (options_.summary_json) {
      SummaryJson();
      return;
    }
    SayRuleSummary(rules_);
    if (scan_ == nullptr) return;
    const eventquery::sigma::Hunter& hunter = scan_->hunter();
    const eventquery::sigma::ScopeCounts& left = scan_->left();
    std::string events = "events: " + std::to_string(records_) + " read";
    if (left.outside > 0)
      events +=
          ", " + std::to_string(left.outside) + " outside --since/--until";
    if (left.no_time > 0)
      events += ", " + std::to_string(left.no_time) +
                " with no readable time, so not placed in the period";
    if (left.not_wanted > 0)
      events +=
          ", " + std::to_string(left.not_wanted) + " not matching --where";
    if (left.outside + left.no_time + left.not_wanted > 0)
      events += " (not hunted)";
    std::fprintf(stderr, "evfilter: %s\n", events.c_str());
    // Which rules met which inputs: a rule of another product's logs is
    // not run on an input.
    for (const auto& [kind, count] : by_source_)
      if (kind.empty())
        std::fprintf(stderr,
                     "evfilter: %zu input(s) of no known product: every rule "
                     "ran on them (--product names one)\n",
                     count.inputs);
      else
        std::fprintf(stderr,
                     "evfilter: %zu %s input(s): %zu rule(s) ran, %zu of "
                     "other log sources not run on them\n",
                     count.inputs, kind.c_str(),
                     rules_.set->rules().size() - count.not_run, count.not_run);
    const auto& by_level = found_->per_level();
    std::string line = "detections: " + std::to_string(found_->detections());
    static constexpr const char* kLevels[] = {"critical", "high", "medium",
                                              "low", "informational"};
    line += " (";
    for (int i = 0; i < 5; ++i)
      line += std::string(i ? ", " : "") + kLevels[i] + " " +
              std::to_string(by_level[5 - i]);
    if (by_level[0] > 0) line += ", no level " + std::to_string(by_level[0]);
    line += ")";
    std::fprintf(stderr, "evfilter: %s\n", line.c_str());
    if (found_->first())
      std::fprintf(stderr, "evfilter: detected events from %s to %s\n",
                   found_->first()->c_str(), found_->last()->c_str());
    if (found_->without_time() > 0)
      std::fprintf(stderr,
                   "evfilter: %llu detection(s) on events with no readable "
                   "time\n",
                   static_cast<unsigned long long>(found_->without_time()));
    Hosts();
    // What each site filter removed.
    const std::vector<uint64_t> removed = scan_->removed();
    for (size_t f = 0; f < removed.size(); ++f) {
      const auto& meta = rules_.filters->set().rules()[f].meta;
      std::fprintf(stderr,
                   "evfilter: filter '%s' (%s) removed %llu detection(s)\n",
                   meta.title.c_str(), meta.id.c_str(),
                   static_cast<unsigned long long>(removed[f]));
    }
    const std::vector<uint32_t> fired = found_->fired();
    if (!fired.empty())
      std::fprintf(stderr, "evfilter: rules that fired (%zu):\n", fired.size());
    for (const uint32_t r : fired) {
      const auto& m = rules_.set->rules()[r].meta;
      std::fprintf(stderr, "  %12llu  %s (%s, %s)\n",
                   static_cast<unsigned long long>(found_->per_rule()[r]),
                   m.title.c_str(), m.id.c_str(),
                   m.level.empty() ? "no level" : m.level.c_str());
    }
    const auto& correlations = rules_.correlations->correlations();
    if (!correlations.empty())
      std::fprintf(stderr, "evfilter: correlations (%zu):\n",
                   correlations.size());
    for (size_t c = 0; c < correlations.size(); ++c)
      std::fprintf(stderr, "  %12llu  %s (%s)\n",
                   static_cast<unsigned long long>(
                       c < correlated_.size() ? correlated_[c] : 0),
                   correlations[c].meta.title.c_str(),
                   correlations[c].meta.id.c_str());
    if (options_.profile) {
      const auto& time = hunter.rule_time();
      Top(
          "slowest rules",
          [&time](size_t r) { return static_cast<uint64_t>(time[r].count()); },
          [&time](size_t r) {
            char ms[32];
            std::snprintf(ms, sizeof ms, "%.3f ms",
                          static_cast<double>(time[r].count()) / 1e6);
            return std::string(ms);
          });
      std::fprintf(stderr,
                   "evfilter: %llu rule decisions, %.1f per event (the index "
                   "skipped the others)\n",
                   static_cast<unsigned long long>(hunter.decisions()),
                   records_ ? static_cast<double>(hunter.decisions()) /
                                  static_cast<double>(records_)
                            : 0.0);
    }
  }

  // The ten hosts with the most detections.
  void Hosts() const {
    const auto hosts = found_->hosts();
    if (hosts.empty()) return;
    std::fprintf(stderr, "evfilter: detections per host (%zu host(s)):\n",
                 hosts.size());
    for (size_t i = 0; i < hosts.size() && i < 10; ++i)
      std::fprintf(
          stderr, "  %12llu  %s\n",
          static_cast<unsigned long long>(hosts[i].second),
          hosts[i].first.empty() ? "(no Computer)" : hosts[i].first.c_str());
    if (hosts.size() > 10)
      std::fprintf(stderr,
                   "  and %zu more host(s) (--summary json lists all)\n",
                   hosts.size() - 10);
    if (found_->other_hosts() > 0)
      std::fprintf(stderr,
                   "evfilter: %llu detection(s) on hosts beyond the first "
                   "%zu, not counted per host\n",
                   static_cast<unsigned long long>(found_->other_hosts()),
                   eventquery::sigma::HuntSummary::kMostHosts);
  }

  // The summary for scripts: one JSON object, the last line.
  void SummaryJson() const {
    std::fprintf(stderr, "%s\n", SummaryJsonText().c_str());
  }

  // The summary as one JSON object: HuntSummary's, with the rules loaded,
  // the events read and left out, the inputs per product, the site
  // filters, the correlations and whether the hunt failed.
  std::string SummaryJsonText() const {
    size_t unsupported = 0;
    for (const auto& r : rules_.rejected) unsupported += !r.unreadable;
    std::string extra =
        "\"rules_loaded\":" + std::to_string(rules_.set->rules().size()) +
        ",\"rules_not_supported\":" + std::to_string(unsupported);
    const eventquery::sigma::ScopeCounts left =
        scan_ ? scan_->left() : eventquery::sigma::ScopeCounts();
    extra += ",\"events\":{\"read\":" + std::to_string(records_) +
             ",\"outside_period\":" + std::to_string(left.outside) +
             ",\"without_time\":" + std::to_string(left.no_time) +
             ",\"not_matching_where\":" + std::to_string(left.not_wanted) +
             "},\"filters\":[";
    const std::vector<uint64_t> removed =
        scan_ ? scan_->removed() : std::vector<uint64_t>();
    for (size_t f = 0; f < removed.size(); ++f) {
      const auto& meta = rules_.filters->set().rules()[f].meta;
      extra += f ? ",{\"id\":" : "{\"id\":";
      eventquery::AppendJsonString(extra, meta.id);
      extra += ",\"title\":";
      eventquery::AppendJsonString(extra, meta.title);
      extra += ",\"removed\":" + std::to_string(removed[f]) + "}";
    }
    extra += "],\"correlations\":[";
    const auto& correlations = rules_.correlations->correlations();
    for (size_t c = 0; c < correlations.size(); ++c) {
      extra += c ? ",{\"id\":" : "{\"id\":";
      eventquery::AppendJsonString(extra, correlations[c].meta.id);
      extra += ",\"title\":";
      eventquery::AppendJsonString(extra, correlations[c].meta.title);
      extra += ",\"detections\":" +
               std::to_string(c < correlated_.size() ? correlated_[c] : 0) +
               "}";
    }
    extra += "],\"products\":[";
    bool first = true;
    for (const auto& [kind, count] : by_source_) {
      extra += first ? "{\"product\":" : ",{\"product\":";
      first = false;
      eventquery::AppendJsonString(extra, kind);
      extra += ",\"inputs\":" + std::to_string(count.inputs) +
               ",\"rules_run\":" +
               std::to_string(rules_.set->rules().size() - count.not_run) +
               ",\"rules_not_run\":" + std::to_string(count.not_run) + "}";
    }
    extra += "],\"failed\":";
    extra += reporter_.failed() || rules_.failed ? "true" : "false";
    return found_->Json(extra);
  }

  // The HTML report (--report), written whole or not at all.
  void WriteReport() {
    if (!report_) return;
    const std::string error =
        WriteWholeFile(options_.report, report_->Page(SummaryJsonText()));
    if (!error.empty())
      reporter_.Failure("--report " + options_.report + ": " + error);
    else if (report_->rows_left_out() > 0)
      reporter_.Note("--report " + options_.report +
                     ": the table lists the first " +
                     std::to_string(report_->rows()) + " detections; " +
                     std::to_string(report_->rows_left_out()) +
                     " more are counted, not listed");
  }

  template <typename Weight, typename Show>
  void Top(const char* title, Weight weight, Show show) const {
    std::vector<size_t> order;
    for (size_t r = 0; r < rules_.set->rules().size(); ++r)
      if (weight(r) > 0) order.push_back(r);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return weight(a) > weight(b); });
    if (order.size() > 10) order.resize(10);
    if (order.empty()) return;
    std::fprintf(stderr, "evfilter: %s:\n", title);
    for (size_t r : order) {
      const auto& m = rules_.set->rules()[r].meta;
      std::fprintf(stderr, "  %12s  %s (%s)\n", show(r).c_str(),
                   m.title.c_str(), m.id.c_str());
    }
  }

  // Detections and notes of the scan, written and said as they come.
  class Sink : public eventquery::sigma::Detections {
   public:
    explicit Sink(Hunt& hunt) : hunt_(hunt) {}
    void Detected(const Record& record, const std::vector<std::string>& columns,
                  uint64_t record_id, uint32_t rule) override {
      hunt_.Detections(record, columns, record_id, {rule});
    }
    void DetectedEvent(const Record& record,
                       const std::vector<std::string>& columns,
                       uint64_t record_id,
                       const std::vector<uint32_t>& rules) override {
      hunt_.Detections(record, columns, record_id, rules);
    }
    void CellNotes(const Record& record, const eventquery::RowFeeder& feeder,
                   const std::vector<FeedNote>& notes) override {
      SayCellNotes(hunt_.reporter_, feeder, hunt_.Place(record), notes);
    }
    void Failed(const Record& record, const std::string& why) override {
      hunt_.reporter_.Failure(hunt_.Place(record) +
                              ": the filter module could not match the "
                              "record (" +
                              why + ")");
    }
    void Classified(const eventquery::LogSource& source,
                    size_t not_run) override {
      // One source, one set of rules: the count of an input is its kind's.
      SourceCount& count =
          hunt_.by_source_[source.service.empty()
                               ? source.product
                               : source.product + " " + source.service];
      ++count.inputs;
      count.not_run = not_run;
    }
    void Read(const RecordReader& reader) override {
      ThrowWhatTheWaitThrew();
      hunt_.reporter_.progress().Tick(++hunt_.records_, reader.bytes_read());
    }
    // A timeline that cannot be whole ends the hunt.
    bool Going() override { return !hunt_.timeline_full_; }

   private:
    Hunt& hunt_;
  };

  void ReadInput(Input& input) {
    if (timeline_full_) return;
    name_ = input.name();
    json_ = eventquery::FormatTraitsOf(input.format()).json_object;
    eventquery::ScanOptions scan;
    scan.threads = options_.jobs;
    ScanSaid said(reporter_);
    const eventquery::ScanResult result =
        eventquery::ScanInput(input, *scan_, said, scan);
    EndIfOutOfMemory(reporter_, result);
  }

  std::string Place(const Record& record) const {
    return eventquery::PlaceOf(name_, record);
  }

  // The rules `rules` detected `record`: kept for the correlations that
  // name them, counted, and written, a line per detection or (--per-event)
  // one for the event.
  void Detections(const Record& record, const std::vector<std::string>& columns,
                  uint64_t record_id, const std::vector<uint32_t>& rules) {
    eventquery::sigma::Correlator& correlations = *rules_.correlations;
    shown_.clear();
    for (const uint32_t rule : rules) {
      if (correlations.Named(rule) && !correlations_full_ &&
          !correlations.Add(record, columns, rule, name_, record_id))
        correlations_full_ = true;
      // A rule a correlation names is the correlation's, unless it
      // generates.
      if (!correlations.Generates(rule)) continue;
      ++detections_;
      found_->Add(record, columns, rule);
      shown_.push_back(rule);
    }
    if (shown_.empty()) return;
    const std::optional<std::string_view> time =
        eventquery::sigma::EventTime(record, columns);
    if (options_.per_event) {
      Write(record, columns, record_id, time, shown_);
      return;
    }
    std::vector<uint32_t> one(1);
    for (const uint32_t rule : shown_) {
      one[0] = rule;
      Write(record, columns, record_id, time, one);
    }
  }

  // One line for the detections of `rules` on `record`: with one rule, its
  // id, title and level; with several (--per-event), their ids and titles
  // and the highest level.
  void Write(const Record& record, const std::vector<std::string>& columns,
             uint64_t record_id, std::optional<std::string_view> time,
             const std::vector<uint32_t>& rules) {
    const auto& all = rules_.set->rules();
    const eventquery::sigma::RuleMeta* top = &all[rules[0]].meta;
    std::string titles, ids, details;
    for (const uint32_t r : rules) {
      const auto& m = all[r].meta;
      if (eventquery::sigma::LevelRank(m.level) >
          eventquery::sigma::LevelRank(top->level))
        top = &m;
      titles += (titles.empty() ? "" : "; ") + m.title;
      ids += (ids.empty() ? "" : "; ") + m.id;
    }
    std::string& out = out_;
    out.clear();
    if (options_.csv || report_)
      for (const uint32_t r : rules) {
        const std::string d =
            eventquery::sigma::DetectionDetails(all[r], record, columns);
        if (!d.empty() && details.find(d) == std::string::npos)
          details += (details.empty() ? "" : "; ") + d;
      }
    const std::optional<int64_t> key =
        time && (timeline_ || report_)
            ? eventquery::TimeKey(*time, options_.zone)
            : std::nullopt;
    // The timeline line's fields: the CSV's columns and the report's row.
    eventquery::sigma::HuntReport::Row row;
    if (options_.csv || report_) {
      row.time = time.value_or("");
      row.level = top->level;
      row.rule_title = titles;
      row.rule_id = ids;
      row.input = name_;
      row.record_id = record_id;
      for (auto [field, into] : {std::pair{"Computer", &row.computer},
                                 std::pair{"Channel", &row.channel},
                                 std::pair{"EventID", &row.event_id}})
        *into =
            eventquery::sigma::CellNamed(record, columns, field).value_or("");
      row.details = details;
    }
    if (report_) {
      for (const uint32_t r : rules) report_->Count(all[r].meta.level, key);
      report_->AddRow(row);
    }
    if (options_.csv) {
      auto cell = [&out](std::string_view text, bool last = false) {
        out += eventquery::CsvField(text);
        out.push_back(last ? '\n' : ',');
      };
      for (const std::string_view text :
           {row.time, row.level, row.rule_title, row.rule_id, row.input})
        cell(text);
      cell(std::to_string(record_id));
      for (const std::string_view text :
           {row.computer, row.channel, row.event_id})
        cell(text);
      cell(row.details, true);
    } else {
      out = "{";
      if (options_.per_event) {
        for (const bool ids : {true, false}) {
          out += ids ? "\"rule_ids\":[" : ",\"rule_titles\":[";
          for (size_t i = 0; i < rules.size(); ++i) {
            if (i > 0) out.push_back(',');
            const auto& m = all[rules[i]].meta;
            eventquery::AppendJsonString(out, ids ? m.id : m.title);
          }
          out.push_back(']');
        }
      } else {
        JsonField(out, "rule_id", top->id);
        out.push_back(',');
        JsonField(out, "rule_title", top->title);
      }
      out.push_back(',');
      JsonField(out, "level", top->level);
      out.push_back(',');
      JsonField(out, "input", name_);
      out += ",\"record_id\":" + std::to_string(record_id) + ",\"timestamp\":";
      if (time)
        eventquery::AppendJsonString(out, *time);
      else
        out += "null";
      out += ",\"event\":";
      if (json_ && !record.raw.empty() && record.raw.front() == '{')
        out.append(record.raw);
      else
        eventquery::AppendJsonObject(out, columns, record);
      out += "}\n";
    }
    if (timeline_) {
      if (!timeline_full_ && !timeline_->Add(key, out)) timeline_full_ = true;
      return;
    }
    reporter_.progress().Clear();
    Put(out);
  }

  const HuntOptions& options_;
  Reporter reporter_;
  HuntRules rules_;
  std::unique_ptr<Sink> sink_;
  std::unique_ptr<eventquery::sigma::HuntScan> scan_;
  std::string name_, out_;
  std::vector<uint32_t> shown_;  // the rules an event's line shows
  bool json_ = false;
  uint64_t records_ = 0, detections_ = 0;
  std::optional<eventquery::sigma::HuntSummary> found_;
  std::optional<eventquery::sigma::Timeline> timeline_;
  std::optional<eventquery::sigma::HuntReport> report_;
  bool timeline_full_ = false;
  bool correlations_full_ = false;
  std::vector<uint64_t> correlated_;  // per correlation: its detections
  struct SourceCount {
    size_t inputs = 0, not_run = 0;
  };
  std::map<std::string, SourceCount> by_source_;
};

}  // namespace

int RunHunt(const HuntOptions& options) {
  try {
    return Hunt(options).Go();
  } catch (const FatalError&) {
    throw Exit{kError};  // the reporter has said why
  }
}

}  // namespace evfilter
