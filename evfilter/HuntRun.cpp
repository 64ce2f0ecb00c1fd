#include "HuntRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "Commands.h"
#include "InputLoop.h"
#include "Output.h"
#include "Reporter.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/CsvCells.h"
#include "records/Formats.h"
#include "records/JsonCells.h"
#include "records/RecordReader.h"
#include "records/RecordReports.h"
#include "records/Stop.h"
#include "sigma/HuntScan.h"
#include "sigma/Hunter.h"

namespace evfilter {
namespace {

using eventquery::FeedNote;
using eventquery::Format;
using eventquery::Input;
using eventquery::InputError;
using eventquery::Record;
using eventquery::RecordReader;
using eventquery::sigma::CompiledRule;
using eventquery::sigma::RejectedRule;
using eventquery::sigma::RuleLoad;
using eventquery::sigma::RuleSet;

// The kind of a reason, for the summary: its text up to the first quote
// or colon ("modifier 'x' is not supported" -> "modifier").
std::string ReasonKind(const std::string& reason) {
  const size_t cut = reason.find_first_of("':");
  std::string kind = reason.substr(0, cut);
  while (!kind.empty() && kind.back() == ' ') kind.pop_back();
  return kind.empty() ? reason : kind;
}

void Put(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    EndIfReaderGone(errno);
    const std::string message =
        std::string("standard output: ") + std::strerror(errno);
    std::fprintf(stderr, "evfilter: %s\n", message.c_str());
    throw FatalError(message);
  }
}

void JsonField(std::string& out, const char* key, const std::string& value) {
  eventquery::AppendJsonString(out, key);
  out.push_back(':');
  eventquery::AppendJsonString(out, value);
}

class Hunt {
 public:
  explicit Hunt(const HuntOptions& o) : options_(o), reporter_(o.strict) {}

  int Go() {
    Load();
    if (options_.list) return List();
    if (set_->rules().empty()) {
      reporter_.Failure("no rule could be loaded from the rules given");
      Summary();
      return kError;
    }
    sink_ = std::make_unique<Sink>(*this);
    scan_ = std::make_unique<eventquery::sigma::HuntScan>(
        *set_, options_.zone, options_.profile, options_.product, *sink_);
    per_rule_.assign(set_->rules().size(), 0);
    if (options_.csv)
      Put("timestamp,level,rule_title,rule_id,input,record_id,Computer\n");
    ForEachInput(InputPaths(options_.inputs, reporter_), options_.input_format,
                 options_.encoding, reporter_,
                 [this](Input& input) { ReadInput(input); });
    const std::string output_error = FlushStandardOutput();
    if (!output_error.empty())
      reporter_.Failure("standard output: " + output_error);
    reporter_.Finish(records_, detections_,
                     output_error.empty() ? Reporter::Output::kWritten
                                          : Reporter::Output::kNotAllWritten);
    Summary();
    if (const int stopped = StoppedStatus(reporter_, records_)) return stopped;
    if (reporter_.failed() || rules_failed_) return kError;
    return detections_ > 0 ? kMatched : 1;
  }

 private:
  void Load() {
    eventquery::sigma::CompileOptions compile;
    for (const std::string& p : options_.placeholders) {
      const size_t eq = p.find('=');
      if (eq == std::string::npos || eq == 0)
        Fail("--placeholder wants NAME=VALUE, not '" + p + "'");
      compile.placeholders[p.substr(0, eq)].push_back(p.substr(eq + 1));
    }
    compile.max_bytes = options_.max_rule_bytes;
    int min_rank = -1;
    if (!options_.min_level.empty()) {
      min_rank = eventquery::sigma::LevelRank(options_.min_level);
      if (min_rank < 0)
        Fail("unknown level '" + options_.min_level +
             "'; accepted: informational, low, medium, high, critical");
    }
    RuleLoad load = eventquery::sigma::LoadRules(options_.rules, compile);
    files_ = load.files;
    // Folder entries that are no rule file are said, and fail --strict.
    skipped_ = load.skipped;
    for (const std::string& s : skipped_)
      std::fprintf(stderr, "evfilter: %s; skipped\n", s.c_str());
    if (options_.strict && !skipped_.empty()) rules_failed_ = true;
    std::vector<CompiledRule> chosen;
    for (CompiledRule& rule : load.loaded) {
      std::string why;
      if (min_rank >= 0 &&
          eventquery::sigma::LevelRank(rule.meta.level) < min_rank)
        why = "level '" + rule.meta.level + "' is below --min-level";
      else if (!options_.statuses.empty() &&
               std::find(options_.statuses.begin(), options_.statuses.end(),
                         rule.meta.status) == options_.statuses.end())
        why = "status '" + rule.meta.status + "' is not in --status";
      if (why.empty())
        chosen.push_back(std::move(rule));
      else
        left_out_.push_back({rule.meta, why, false});
    }
    // JSON output escapes such bytes; the file is said once.
    std::string noted;
    for (const CompiledRule& rule : chosen) {
      const auto& m = rule.meta;
      if (m.file == noted) continue;
      for (const std::string* text : {&m.title, &m.id, &m.level, &m.status})
        if (!common::IsValidUtf8(*text)) {
          noted = m.file;
          std::fprintf(stderr,
                       "evfilter: %s: a rule's title, id, level or status "
                       "holds bytes that are no UTF-8; JSON output writes "
                       "each as \\udcNN\n",
                       common::Printable(m.file).c_str());
          break;
        }
    }
    // A --product no rule names can only be a mistake (windwos): it would
    // run the rules without a product alone.
    if (!options_.product.empty() && options_.product != "any" &&
        std::none_of(
            chosen.begin(), chosen.end(), [this](const CompiledRule& r) {
              return common::EqualsNoCase(r.meta.product, options_.product);
            }))
      Fail("--product " + options_.product +
           ": no rule names this product (any runs every rule on every "
           "input)");
    rejected_ = std::move(load.rejected);
    set_ = std::make_unique<RuleSet>(std::move(chosen), rejected_);
    for (const RejectedRule& r : rejected_) {
      if (r.unreadable) {
        rules_failed_ = true;
        std::fprintf(stderr, "evfilter: %s: %s\n", r.meta.file.c_str(),
                     r.reason.c_str());
      } else if (!options_.list) {
        // Each rule not run is named; --list writes them as data instead.
        std::fprintf(stderr, "evfilter: %s%s: not supported: %s\n",
                     r.meta.file.c_str(),
                     r.meta.id.empty() ? "" : (" (" + r.meta.id + ")").c_str(),
                     r.reason.c_str());
      }
    }
  }

  static void Meta(std::string& out, const eventquery::sigma::RuleMeta& m) {
    JsonField(out, "file", m.file);
    out += ",\"document\":" + std::to_string(m.document) + ",";
    JsonField(out, "id", m.id);
    out.push_back(',');
    JsonField(out, "title", m.title);
    out.push_back(',');
    JsonField(out, "level", m.level);
    out.push_back(',');
  }

  int List() {
    std::string out;
    for (const CompiledRule& rule : set_->rules()) {
      out = "{";
      Meta(out, rule.meta);
      JsonField(out, "load", "loaded");
      out += ",\"lines\":" + std::to_string(rule.lines.size()) +
             ",\"host_checks\":" + std::to_string(rule.checks.size());
      if (!rule.notes.empty()) {
        out += ",\"notes\":[";
        for (size_t i = 0; i < rule.notes.size(); ++i) {
          if (i > 0) out.push_back(',');
          eventquery::AppendJsonString(out, rule.notes[i]);
        }
        out.push_back(']');
      }
      out += "}\n";
      Put(out);
    }
    for (const auto* list : {&rejected_, &left_out_})
      for (const RejectedRule& r : *list) {
        out = "{";
        Meta(out, r.meta);
        JsonField(out, "load",
                  (r.unreadable         ? "unreadable: "
                   : list == &rejected_ ? "not supported: "
                                        : "left out: ") +
                      r.reason);
        out += "}\n";
        Put(out);
      }
    const std::string output_error = FlushStandardOutput();
    if (!output_error.empty()) {
      std::fprintf(stderr, "evfilter: standard output: %s\n",
                   output_error.c_str());
      return kError;
    }
    RuleSummary();
    return rules_failed_ ? kError : kMatched;
  }

  void RuleSummary() const {
    size_t unsupported = 0, unreadable = 0;
    std::map<std::string, size_t> kinds;
    for (const RejectedRule& r : rejected_) {
      if (r.unreadable) {
        ++unreadable;
      } else {
        ++unsupported;
        ++kinds[ReasonKind(r.reason)];
      }
    }
    std::string line = "rules: " + std::to_string(set_->rules().size()) +
                       " loaded, " + std::to_string(unsupported) +
                       " not supported";
    if (!kinds.empty()) {
      line += " (";
      bool first = true;
      for (const auto& [kind, n] : kinds) {
        line += (first ? "" : "; ") + kind + ": " + std::to_string(n);
        first = false;
      }
      line += ")";
    }
    if (unreadable > 0)
      line += ", " + std::to_string(unreadable) + " unreadable file(s)";
    if (!skipped_.empty())
      line += ", " + std::to_string(skipped_.size()) +
              " folder entr(ies) skipped that are no rule file";
    if (!left_out_.empty())
      line += ", " + std::to_string(left_out_.size()) +
              " left out by --min-level or --status";
    line += ", from " + std::to_string(files_) + " file(s)";
    std::fprintf(stderr, "evfilter: %s\n", line.c_str());
    size_t unmapped = 0;
    for (const CompiledRule& r : set_->rules())
      unmapped += r.notes.empty() ? 0 : 1;
    if (unmapped > 0)
      std::fprintf(stderr,
                   "evfilter: %zu rule(s) with a log source that has no "
                   "mapping to event log fields, run on more events (see "
                   "--list)\n",
                   unmapped);
  }

  void Summary() const {
    RuleSummary();
    if (scan_ == nullptr) return;
    const eventquery::sigma::Hunter& hunter = scan_->hunter();
    std::fprintf(stderr, "evfilter: events: %llu read\n",
                 static_cast<unsigned long long>(records_));
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
                     "evfilter: %zu %s input(s): %zu rule(s) of other log "
                     "sources not run on them\n",
                     count.inputs, kind.c_str(), count.not_run);
    std::map<int, uint64_t> by_level;
    for (size_t r = 0; r < per_rule_.size(); ++r)
      by_level[eventquery::sigma::LevelRank(set_->rules()[r].meta.level)] +=
          per_rule_[r];
    std::string line = "detections: " + std::to_string(detections_);
    static constexpr const char* kLevels[] = {"critical", "high", "medium",
                                              "low", "informational"};
    line += " (";
    for (int i = 0; i < 5; ++i)
      line += std::string(i ? ", " : "") + kLevels[i] + " " +
              std::to_string(by_level[4 - i]);
    if (by_level[-1] > 0) line += ", no level " + std::to_string(by_level[-1]);
    line += ")";
    std::fprintf(stderr, "evfilter: %s\n", line.c_str());
    Top(
        "most detections", [this](size_t r) { return per_rule_[r]; },
        [this](size_t r) { return std::to_string(per_rule_[r]); });
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

  template <typename Weight, typename Show>
  void Top(const char* title, Weight weight, Show show) const {
    std::vector<size_t> order;
    for (size_t r = 0; r < set_->rules().size(); ++r)
      if (weight(r) > 0) order.push_back(r);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return weight(a) > weight(b); });
    if (order.size() > 10) order.resize(10);
    if (order.empty()) return;
    std::fprintf(stderr, "evfilter: %s:\n", title);
    for (size_t r : order) {
      const auto& m = set_->rules()[r].meta;
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
      hunt_.Detection(record, columns, record_id, rule);
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
      hunt_.reporter_.progress().Tick(++hunt_.records_, reader.bytes_read());
    }

   private:
    Hunt& hunt_;
  };

  void ReadInput(Input& input) {
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

  void Detection(const Record& record, const std::vector<std::string>& columns,
                 uint64_t record_id, uint32_t rule) {
    ++detections_;
    ++per_rule_[rule];
    const auto& meta = set_->rules()[rule].meta;
    const std::optional<std::string_view> time =
        eventquery::sigma::EventTime(record, columns);
    std::string& out = out_;
    out.clear();
    if (options_.csv) {
      auto cell = [&out](std::string_view text, bool last = false) {
        out += eventquery::CsvField(text);
        out.push_back(last ? '\n' : ',');
      };
      cell(time.value_or(""));
      cell(meta.level);
      cell(meta.title);
      cell(meta.id);
      cell(name_);
      cell(std::to_string(record_id));
      cell(eventquery::sigma::CellNamed(record, columns, "Computer")
               .value_or(""),
           true);
    } else {
      out = "{";
      JsonField(out, "rule_id", meta.id);
      out.push_back(',');
      JsonField(out, "rule_title", meta.title);
      out.push_back(',');
      JsonField(out, "level", meta.level);
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
    reporter_.progress().Clear();
    Put(out);
  }

  const HuntOptions& options_;
  Reporter reporter_;
  std::vector<RejectedRule> rejected_, left_out_;
  std::unique_ptr<RuleSet> set_;
  std::unique_ptr<Sink> sink_;
  std::unique_ptr<eventquery::sigma::HuntScan> scan_;
  size_t files_ = 0;
  bool rules_failed_ = false;
  std::vector<std::string> skipped_;
  std::string name_, out_;
  bool json_ = false;
  uint64_t records_ = 0, detections_ = 0;
  std::vector<uint64_t> per_rule_;
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
