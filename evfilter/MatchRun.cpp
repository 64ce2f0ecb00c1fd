#include "MatchRun.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <system_error>
#include <thread>

#include "FieldStats.h"
#include "GroupCounts.h"
#include "InputLoop.h"
#include "Output.h"
#include "Reporter.h"
#include "common/Utf8.h"
#include "decide/Batch.h"
#include "decide/Deciders.h"
#include "decide/RecordMatcher.h"
#include "query/WhereCompiler.h"
#include "records/Formats.h"
#include "records/RecordReader.h"
#include "records/RecordReports.h"
#include "records/Stop.h"

namespace evfilter {
namespace {

using eventquery::Batch;
using eventquery::ConditionLine;
using eventquery::Deciders;
using eventquery::Decision;
using eventquery::FeedNote;
using eventquery::Format;
using eventquery::Input;
using eventquery::InputError;
using eventquery::Outcome;
using eventquery::Record;
using eventquery::RecordMatcher;
using eventquery::RecordReader;
using eventquery::RowFeeder;

class Run : public eventquery::RecordSink {
 public:
  Run(const std::vector<ConditionLine>& lines, const MatchOptions& o)
      : options_(o), reporter_(o.strict), given_(lines), lines_(lines) {
    Build();
    const RowFeeder& feeder = matchers_[0]->feeder();
    wanted_ = feeder.field_names();
    for (uint32_t f = 0; f < wanted_.size(); ++f)
      if (!feeder.field_implicit(f)) named_.push_back(wanted_[f]);
    filter_named_ = named_.size();
    for (const auto* more : {&o.fields, &o.count_by})
      for (const std::string& name : *more)
        if (std::find(wanted_.begin(), wanted_.end(), name) == wanted_.end()) {
          wanted_.push_back(name);
          named_.push_back(name);
        }
    clashes_.emplace(named_);
    if (!o.count_by.empty()) groups_.emplace(o.count_by, o.max_groups);
    if (o.stats) {
      // The filter's fields, then those written or counted; a field read
      // on the module's behalf only is none of the user's.
      std::vector<std::string> fields;
      const size_t filter_fields = feeder.field_names().size();
      for (uint32_t f = 0; f < wanted_.size(); ++f) {
        const bool implicit = f < filter_fields && feeder.field_implicit(f);
        if (f < filter_fields)
          stats_index_.push_back(implicit ? SIZE_MAX : fields.size());
        if (!implicit) fields.push_back(wanted_[f]);
      }
      stats_.emplace(std::move(fields));
    }
  }

  int Go() {
    inputs_ = InputPaths(options_.inputs, reporter_);
    if (options_.every > 0) {
      every_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(options_.every));
      next_totals_ = std::chrono::steady_clock::now() + every_;
    }
    {
      const WaitingTask waiting([this] { WhileInputWaits(); });
      ForEachInput(
          inputs_, options_.input_format, options_.encoding, reporter_,
          [this](Input& input) {
            ReadInput(input);
            return !done_;
          },
          options_.follow);
      ThrowWhatTheWaitThrew();
    }
    // Which fields the inputs lacked is known only once all were read; a
    // run stopped early (a signal, --limit) left inputs unread.
    if (!done_ && eventquery::StopSignal() == 0) SayMissing();
    // A count is printed only when it was made: after a failed input or a
    // stop it would pass for the answer (n=$(evfilter ... --count)). A
    // followed file ends only by a stop: its count is the count so far.
    const bool counted = options_.count && !reporter_.failed() &&
                         (eventquery::StopSignal() == 0 || options_.follow);
    if (counted)
      std::printf("%llu\n", static_cast<unsigned long long>(written_));
    std::string output_error;
    if (groups_ && group_format_) {
      const std::string counts =
          groups_->Render(*group_format_, options_.limit);
      reporter_.progress().Clear();
      if (std::fwrite(counts.data(), 1, counts.size(), stdout) !=
          counts.size()) {
        EndIfReaderGone(errno);
        output_error = std::strerror(errno);
      }
    }
    // Records stand in the buffer until this flush: only now are they
    // written, or not.
    if (output_error.empty()) output_error = FlushStandardOutput();
    const bool output_failed = !output_error.empty();
    if (output_failed) reporter_.Failure("standard output: " + output_error);
    using Output = Reporter::Output;
    reporter_.Finish(records_, written_,
                     options_.count
                         ? (counted && !output_failed ? Output::kCounted
                            : running_totals_         ? Output::kRunningTotals
                                                      : Output::kNotCounted)
                     : output_failed ? Output::kNotAllWritten
                                     : Output::kWritten);
    bool stats_lost = false;
    if (stats_) {
      for (const std::string& line : stats_->Lines()) reporter_.Note(line);
      // The statistics were asked for: lost, they are a failure.
      stats_lost = std::fflush(stderr) != 0 || std::ferror(stderr);
    }
    if (const int stopped = StoppedStatus(reporter_, records_)) return stopped;
    if (reporter_.failed() || stats_lost) return 2;
    return written_ > 0 ? 0 : 1;
  }

 private:
  void ReadInput(Input& input) {
    eventquery::ScanOptions scan;
    scan.threads = options_.jobs;
    ScanSaid said(reporter_);
    const eventquery::ScanResult result =
        eventquery::ScanInput(input, *this, said, scan);
    flight_.reset();
    EndIfOutOfMemory(reporter_, result);
  }

  // RecordSink: the input is open.
  bool Begin(const Input& input, RecordReader& reader) override {
    // No batch is in flight between inputs: every matcher is free.
    if (!TypesOf(input, reader)) return false;
    for (auto& matcher : matchers_) matcher->NewInput();
    reader.WantFields(wanted_);
    const Format form = eventquery::OutputFormatOf(input.format());
    if (!writer_) {
      writer_.emplace(options_.output_format.value_or(form),
                      reporter_.progress(), options_.fields);
      if (options_.with_input) writer_->WithInput();
    }
    // The filter, --fields, --count-by and --stats read the wanted fields
    // only; a record written in another format reads them all.
    if (options_.count || groups_ || !writer_->ReadsEveryCell(input.format()))
      reader.FillWantedFieldsOnly();
    if (!group_format_) group_format_ = options_.output_format.value_or(form);
    writer_->NewInput(input.name());
    clashes_->Reset();
    clashes_noted_ = 0;
    if (groups_) groups_->NewInput();
    if (stats_) stats_->NewInput();
    name_ = input.name();
    reader_ = &reader;
    source_ = Source{input.format(), &reader.columns(), reader.header_raw(),
                     reader.header_terminator()};
    if (!options_.count && !groups_ && !writer_->CanName(source_)) {
      reporter_.Failure(input.name() +
                        ": --with-input: a Zeek log written as one has no "
                        "place for the input's name; add --output-format csv "
                        "or jsonl");
      return false;
    }
    // A header names every column at once; JSON objects may each lack a
    // field, so JSON is checked at the end of the input.
    header_ = eventquery::FormatTraitsOf(input.format()).header_row;
    if (header_) ReportMissing(reader, false);
    // A lone CSV or TSV input names every column in its header: a field it
    // lacks is no field of the run's, known before any record is written.
    if (header_ && inputs_.size() == 1 && !options_.allow_missing &&
        SayMissing())
      return false;
    before_ = records_;
    settled_ = 0;
    if (UseThreads(input, reader)) {
      try {
        flight_.emplace(deciders_,
                        [this](Batch& batch) { SettleBatch(batch); });
      } catch (const std::system_error&) {
        // No thread to be had: the reading thread decides alone.
      }
    }
    return true;
  }

  // RecordSink: threads take records unsplit.
  bool WantsUnsplit() const override { return flight_.has_value(); }

  // RecordSink: a record, decided here or put in a batch for the threads.
  bool Take(const Record& record, uint64_t /*id*/) override {
    ThrowWhatTheWaitThrew();
    reporter_.progress().Tick(++records_, reader_->bytes_read());
    // The clock is looked at once in 256 records: a busy input's totals
    // come on time as well as a waiting one's.
    if (every_.count() != 0 && (records_ & 255) == 0) TotalsIfDue();
    if (!flight_) {
      Decide(*matchers_[0], record, reader_->columns(), decision_);
      Settle(record, decision_);
      return !done_;
    }
    // CSV records are split on the threads; JSON Lines are parsed here,
    // since their columns grow as keys appear.
    flight_->Add(record, 0, reader_->columns(), reader_->SplitsLater());
    return !done_;
  }

  // RecordSink: a line that is no record, said by the scan next. The
  // records before it are settled first: their output and notes come
  // before its report, which may end the run (--strict).
  void Passed(const Record& /*record*/) override {
    if (flight_) flight_->Drain(done_);
    reporter_.progress().Tick(++records_, reader_->bytes_read());
    ++settled_;
  }

  // RecordSink: every batch in flight settled.
  bool Drain() override {
    if (flight_) flight_->Drain(done_);
    return !done_;
  }

  // RecordSink: the input is read.
  void End(const RecordReader& reader,
           const eventquery::ScanResult& result) override {
    if (done_) {
      // Records read ahead for the threads past the limit were never
      // decided: they count as unread.
      records_ = before_ + settled_;
    }
    if (result.failed) return;
    // Fields are missing from a stopped input's records only as far as it
    // was read (a signal, --limit): nothing to say. An input without a
    // record (an empty pipe from a run that matched nothing) lacks no
    // field either.
    if (!header_ && !eventquery::StopRequested() && !done_ &&
        records_ > before_)
      ReportMissing(reader, true);
    NoteClashes();
  }

  // The input waits for its writer: the records the threads hold are
  // settled, so that each comes out as it arrives, and the totals written
  // when due.
  void WhileInputWaits() {
    if (flight_) flight_->Drain(done_);
    if (every_.count() != 0) TotalsIfDue();
  }

  // --every: the totals so far, when their time has come and they moved.
  void TotalsIfDue() {
    const auto now = std::chrono::steady_clock::now();
    if (now < next_totals_) return;
    next_totals_ = now + every_;
    if (written_ == totals_written_ || (groups_ && !group_format_)) return;
    totals_written_ = written_;
    running_totals_ = true;
    reporter_.progress().Clear();
    // Each table of counts ends with an empty line; the last, at the end,
    // is written as without --every.
    Put(groups_ ? groups_->Render(*group_format_, options_.limit) + "\n"
                : std::to_string(written_) + "\n");
    FlushWhileWaiting();
  }

  // One matcher of lines_ per thread.
  void Build() {
    deciders_.clear();
    adapters_.clear();
    matchers_.clear();
    const unsigned jobs = std::max(1u, options_.jobs);
    for (unsigned j = 0; j < jobs; ++j) {
      matchers_.push_back(
          std::make_unique<RecordMatcher>(lines_, options_.zone));
      adapters_.push_back(
          std::make_unique<eventquery::MatcherDecider>(*matchers_.back()));
      deciders_.push_back(adapters_.back().get());
    }
  }

  // The filter for an input that declares field types of its own (a Zeek
  // log): the expression compiled with them, else as given. False, with
  // the failure said, when the input's types do not fit the expression.
  bool TypesOf(const Input& input, const RecordReader& reader) {
    if (!options_.retype) return true;
    std::vector<ConditionLine> lines = given_;
    try {
      if (const auto declared = reader.declared_types(); !declared.empty())
        lines = options_.retype(declared);
      NoteTextOrder(input, lines);
      if (lines == lines_) return true;
      lines_ = std::move(lines);
      Build();
      return true;
    } catch (const eventquery::SyntaxError& e) {
      reporter_.Failure(input.name() + ": " + e.what() +
                        " (the input declares the field's type; write "
                        "Field:type to choose another)");
    } catch (const eventquery::BuildError& e) {
      reporter_.Failure(input.name() +
                        ": the filter module could not build the filter for "
                        "the input's field types: " +
                        e.what());
    }
    return false;
  }

  // An order comparison that a number would have made, and that the
  // input's declared text type turns into one of texts ("20" > "1000"),
  // is said once per field: it is what the log asks for, but rarely what
  // was meant.
  void NoteTextOrder(const Input& input,
                     const std::vector<ConditionLine>& lines) {
    if (lines.size() != given_.size()) return;
    for (size_t i = 0; i < lines.size(); ++i) {
      const ConditionLine& was = given_[i];
      if (was.type != eventquery::kTypeNumeric ||
          lines[i].type != eventquery::kTypeText ||
          (was.op != eventquery::kOpLess && was.op != eventquery::kOpGreater))
        continue;
      const std::string field = common::ToUtf8(was.field);
      if (std::find(text_order_noted_.begin(), text_order_noted_.end(),
                    field) != text_order_noted_.end())
        continue;
      text_order_noted_.push_back(field);
      reporter_.Note(input.name() + ": '" + field +
                     "' is text in the input's declared types, so its <, "
                     "<=, > and >= compare texts (\"20\" > \"1000\"); write " +
                     field + ":numeric to compare numbers");
    }
  }

  // Fields that records name in two cases ("User", "user"): only the
  // column found first is read, so the other's values are said to be
  // left out.
  void NoteClashes() {
    const auto& clashes = clashes_->clashes();
    for (; clashes_noted_ < clashes.size(); ++clashes_noted_) {
      const auto& [field, taken, other] = clashes[clashes_noted_];
      reporter_.Note(name_ + ": field '" + field + "' is read from '" + taken +
                     "'; the values under '" + other +
                     "' (the same name in another case) are not read for it");
    }
  }

  // Threads pay only where their share of the work outweighs handing
  // records over: records split on the threads (CSV, TSV; JSON is parsed on
  // the reading thread anyway), of some size, on a machine with a core for
  // them.
  bool UseThreads(const Input& input, const RecordReader& reader) const {
    constexpr uint64_t kWorthThreads = 4 << 20;  // bytes
    if (matchers_.size() < 2 || !reader.SplitsLater()) return false;
    // A limit is seen only as batches are settled: threads would read
    // thousands of records past it, and wait for them on a pipe.
    if (options_.limit != 0 && !groups_) return false;
    if (std::thread::hardware_concurrency() < 2) return false;
    // A compressed input's size says little about its records.
    const uint64_t size = input.compressed() ? 0 : input.size();
    return size == 0 || size >= kWorthThreads;
  }

  // Notes which of the named fields this input lacks (--strict: stops at
  // the first). Said once for the run, by SayMissing.
  void ReportMissing(const RecordReader& reader, bool at_end) {
    const auto missing =
        eventquery::MissingNames(named_, reader.columns(), reader.hint_names());
    for (const std::string& field : named_) {
      Presence& p = presence_[field];
      const auto lacked =
          std::find_if(missing.begin(), missing.end(),
                       [&field](const auto& m) { return m.first == field; });
      if (lacked == missing.end()) {
        p.seen = true;
        continue;
      }
      if (options_.strict) {
        std::string message =
            name_ + ": no " +
            std::string(at_end ? "record has a field" : "column") + " '" +
            field + "'";
        if (!lacked->second.empty())
          message += " (closest: '" + lacked->second + "')";
        reporter_.Note(message);
        throw FatalError(message);
      }
      if (p.inputs_lacking++ == 0) {
        p.first_lacking = name_;
        p.closest = lacked->second;
      }
    }
    ++inputs_checked_;
  }

  // Says the fields inputs lacked, once each: one that no input had is an
  // error (status 2) unless --allow-missing, which a typo (MachinName for
  // MachineName) would otherwise pass for; one that only some lacked is
  // a note. True when a field was missing from every input.
  bool SayMissing() {
    bool none_had = false;
    for (size_t i = 0; i < named_.size(); ++i) {
      Presence& p = presence_[named_[i]];
      if (p.inputs_lacking == 0 || p.said) continue;
      p.said = true;
      const bool typed = i < filter_named_;
      const std::string seen_as =
          typed ? "its conditions saw a missing value (false for a typed "
                  "condition, empty text for a text condition)"
                : "its cells were left empty";
      if (p.seen) {
        reporter_.Note("field '" + named_[i] + "' is missing from " +
                       std::to_string(p.inputs_lacking) + " of " +
                       std::to_string(inputs_checked_) + " input(s) (first: " +
                       p.first_lacking + "); there " + seen_as);
        continue;
      }
      none_had = true;
      std::string message =
          (inputs_checked_ == 1 ? p.first_lacking + ": no field '"
                                : "no input has a field '") +
          named_[i] + "'";
      if (!p.closest.empty()) message += " (closest: '" + p.closest + "')";
      if (options_.allow_missing)
        reporter_.Note(message + "; " + seen_as);
      else
        reporter_.Failure(message +
                          "; give --allow-missing when the field is meant to "
                          "be missing");
    }
    return none_had && !options_.allow_missing;
  }

  // A batch the threads decided, settled record by record.
  void SettleBatch(Batch& batch) {
    Record r;
    std::string scratch;
    // Past the limit the batches are only waited for.
    for (size_t i = 0; i < batch.size() && !done_; ++i) {
      // Cells are needed again only to convert a record that is written,
      // or to count it.
      const Decision& d = batch.decision(i);
      const bool selected = (d.outcome == Outcome::kMatch) != options_.invert;
      const bool cells = stats_ || (selected && (groups_ || !options_.count));
      batch.Get(i, r, scratch, cells);
      Settle(r, d);
    }
  }

  std::string Place(const Record& record) const {
    return eventquery::PlaceOf(name_, record);
  }

  void Settle(const Record& record, const Decision& d) {
    ++settled_;
    // The scan says the ragged rows it splits; the threads split these.
    if (flight_ && header_ && d.cells != source_.columns->size())
      reporter_.RecordReport(eventquery::kRaggedRow,
                             eventquery::RaggedRow(Place(record), d.cells,
                                                   source_.columns->size()));
    if (!d.notes.empty())
      SayCellNotes(reporter_, matchers_[0]->feeder(), Place(record), d.notes);
    if (d.outcome == Outcome::kFailed) {
      reporter_.Failure(Place(record) +
                        ": the filter module could not match the record (" +
                        d.failure + ")");
      return;
    }
    // Every decided record's columns are seen by every field lookup, so
    // that a field finds its column in the same record everywhere.
    clashes_->See(*source_.columns);
    if (writer_) writer_->Track(*source_.columns);
    if (groups_) groups_->Track(*source_.columns);
    if (stats_) {
      unreadable_.clear();
      for (const FeedNote& note : d.notes)
        if (note.kind == FeedNote::kUnreadable &&
            stats_index_[note.field] != SIZE_MAX)
          unreadable_.push_back(stats_index_[note.field]);
      stats_->Add(record, *source_.columns, unreadable_);
    }
    if ((d.outcome == Outcome::kMatch) != options_.invert) {
      ++written_;
      if (groups_) {
        try {
          groups_->Add(record, *source_.columns);
        } catch (const FatalError& e) {
          reporter_.Note(e.what());
          throw;
        }
      } else if (!options_.count) {
        writer_->Write(record, source_);
      }
      // Groups are counted over every record; --limit then cuts the list.
      if (options_.limit != 0 && !groups_ && written_ >= options_.limit)
        done_ = true;
    }
  }

  const MatchOptions& options_;
  Reporter reporter_;
  const std::vector<ConditionLine> given_;  // as compiled without an input
  std::vector<ConditionLine> lines_;        // the matchers
  std::vector<std::unique_ptr<RecordMatcher>> matchers_;
  // The matchers as the threads' deciders.
  std::vector<std::unique_ptr<eventquery::MatcherDecider>> adapters_;
  std::vector<eventquery::BatchDecider*> deciders_;
  std::optional<Writer> writer_;
  std::vector<std::string> wanted_;  // fields the reader is asked for
  // The fields a missing column is reported for: the filter's first.
  std::vector<std::string> named_;
  size_t filter_named_ = 0;
  std::optional<GroupCounts> groups_;
  std::optional<Format> group_format_;
  std::optional<FieldStats> stats_;
  std::vector<size_t> stats_index_;  // per filter field, or SIZE_MAX
  std::vector<size_t> unreadable_;   // reused
  bool done_ = false;                // --limit reached
  std::optional<eventquery::FieldColumns> clashes_;  // of named_
  size_t clashes_noted_ = 0;
  uint64_t settled_ = 0;  // records of this input settled
  Source source_;
  std::string name_;
  // Per named field: whether an input had it, which lacked it.
  struct Presence {
    bool seen = false, said = false;
    size_t inputs_lacking = 0;
    std::string first_lacking, closest;
  };
  std::map<std::string, Presence> presence_;
  std::vector<std::string> inputs_;  // the paths, folders read
  size_t inputs_checked_ = 0;
  // The input being read.
  RecordReader* reader_ = nullptr;
  bool header_ = false;  // its columns come from a header
  uint64_t before_ = 0;  // records_ when it began
  Decision decision_;    // reused
  std::optional<eventquery::BatchFlight> flight_;  // with threads
  std::vector<std::string> text_order_noted_;
  uint64_t records_ = 0;
  uint64_t written_ = 0;
  // --every: how often, when next, and written_ when last written.
  std::chrono::steady_clock::duration every_{0};
  std::chrono::steady_clock::time_point next_totals_;
  uint64_t totals_written_ = 0;
  bool running_totals_ = false;  // some written by --every
};

}  // namespace

int RunMatch(const std::vector<ConditionLine>& lines,
             const MatchOptions& options) {
  return Run(lines, options).Go();
}

}  // namespace evfilter
