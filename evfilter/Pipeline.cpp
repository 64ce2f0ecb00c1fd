#include "evfilter/Pipeline.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "evfilter/CsvReader.h"
#include "evfilter/Output.h"
#include "evfilter/Reporter.h"

namespace evfilter {

bool RecordMatcher::Match(const Record& record,
                          const std::vector<std::string>& columns,
                          std::vector<FeedNote>* notes) {
  feeder_.Feed(record, columns, row_, forced_, notes);
  return variants_.For(forced_)->IsMatch(&row_);
}

namespace {

enum class Outcome : uint8_t { kNoMatch, kMatch, kFailed, kNotRecord };

// What a matcher decided about one record, settled later in input order.
struct Decision {
  Outcome outcome = Outcome::kNoMatch;
  uint32_t cells = 0;  // cells the record has (for ragged CSV rows)
  std::vector<FeedNote> notes;
  std::string failure;
};

void Decide(RecordMatcher& matcher, const Record& record,
            const std::vector<std::string>& columns, Decision& d) {
  d.notes.clear();
  d.failure.clear();
  d.cells = static_cast<uint32_t>(record.cells.size());
  if (!record.problem.empty()) {
    d.outcome = Outcome::kNotRecord;
    return;
  }
  try {
    d.outcome = matcher.Match(record, columns, &d.notes) ? Outcome::kMatch
                                                         : Outcome::kNoMatch;
  } catch (const std::exception& e) {
    d.outcome = Outcome::kFailed;
    d.failure = e.what();
  }
}

// Records copied out of the reader, to be decided on another thread.
struct Batch {
  std::string arena;
  struct Entry {
    size_t raw_begin, raw_size, cells_begin, cells_end, keys_begin, keys_end;
    std::string_view terminator;  // one of the reader's static texts
    uint64_t line;
    std::string problem;
    bool fatal;
  };
  std::vector<Entry> entries;
  std::vector<std::pair<size_t, size_t>> cells;  // (begin, size); npos: none
  std::vector<uint32_t> keys;
  std::vector<std::string> columns;
  bool split_later = false;  // CSV records whose cells Get makes
  std::vector<Decision> decisions;
  // Set by Deciders under its lock.
  bool decided = false;
  std::exception_ptr error;  // what DecideAll threw, for the reading thread

  // Empties the batch, keeping its memory for the next one.
  void Clear() {
    arena.clear();
    entries.clear();
    cells.clear();
    keys.clear();
    columns.clear();
    decisions.clear();
    decided = false;
    error = nullptr;
  }
  void Add(const Record& r) {
    Entry e{arena.size(), r.raw.size(), cells.size(), 0,      keys.size(), 0,
            r.terminator, r.line,       r.problem,    r.fatal};
    arena.append(r.raw);
    for (const auto& cell : r.cells) {
      if (!cell) {
        cells.emplace_back(std::string::npos, 0);
        continue;
      }
      cells.emplace_back(arena.size(), cell->size());
      arena.append(*cell);
    }
    e.cells_end = cells.size();
    keys.insert(keys.end(), r.keys.begin(), r.keys.end());
    e.keys_end = keys.size();
    entries.push_back(std::move(e));
  }
  // Record `i`; `scratch` holds cells that had to be unquoted. CSV cells
  // are split again only `with_cells`.
  void Get(size_t i, Record& r, std::string& scratch,
           bool with_cells = true) const {
    const Entry& e = entries[i];
    r.raw = std::string_view(arena).substr(e.raw_begin, e.raw_size);
    r.terminator = e.terminator;
    r.line = e.line;
    r.problem = e.problem;
    r.fatal = e.fatal;
    r.keys.assign(keys.begin() + static_cast<ptrdiff_t>(e.keys_begin),
                  keys.begin() + static_cast<ptrdiff_t>(e.keys_end));
    if (split_later) {
      if (e.problem.empty() && with_cells)
        SplitCsv(r.raw, scratch, r.cells);
      else
        r.cells.clear();
      return;
    }
    r.cells.clear();
    for (size_t c = e.cells_begin; c < e.cells_end; ++c)
      r.cells.push_back(cells[c].first == std::string::npos
                            ? std::nullopt
                            : std::optional(std::string_view(arena).substr(
                                  cells[c].first, cells[c].second)));
  }
  void DecideAll(RecordMatcher& matcher) {
    Record r;
    std::string scratch;
    decisions.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      Get(i, r, scratch);
      Decide(matcher, r, columns, decisions[i]);
    }
  }
};

// Decides batches on a fixed set of threads and on the reading thread:
// a batch is claimed by whichever is free first, and the reading thread,
// while it waits for a batch, decides those nobody has claimed. So a run
// never waits for a thread that gets no core, and no thread is started
// per batch. Each thread has its own matcher (matchers[0] is the reading
// thread's).
class Deciders {
 public:
  explicit Deciders(const std::vector<std::unique_ptr<RecordMatcher>>& m)
      : own_(m[0].get()) {
    try {
      for (size_t i = 1; i < m.size(); ++i)
        threads_.emplace_back([this, matcher = m[i].get()] { Work(*matcher); });
    } catch (...) {
      Stop();  // a thread that cannot start: those started are joined
      throw;
    }
  }
  // Stops the threads once their current batch is decided; batches not yet
  // claimed are left undecided.
  ~Deciders() { Stop(); }
  Deciders(const Deciders&) = delete;
  Deciders& operator=(const Deciders&) = delete;

  void Submit(Batch* batch) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      unclaimed_.push_back(batch);
    }
    work_.notify_one();
  }

  // Returns once `batch` is decided; rethrows what deciding it threw.
  void Wait(Batch* batch) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!batch->decided) {
      if (unclaimed_.empty()) {
        done_.wait(lock);
        continue;
      }
      Batch* next = unclaimed_.front();
      unclaimed_.pop_front();
      lock.unlock();
      DecideOne(*next, *own_);
      lock.lock();
      next->decided = true;
    }
    if (batch->error) std::rethrow_exception(batch->error);
  }

 private:
  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    work_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  static void DecideOne(Batch& batch, RecordMatcher& matcher) {
    try {
      batch.DecideAll(matcher);
    } catch (...) {
      batch.error = std::current_exception();
    }
  }

  void Work(RecordMatcher& matcher) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_.wait(lock, [this] { return stop_ || !unclaimed_.empty(); });
      if (stop_) return;
      Batch* batch = unclaimed_.front();
      unclaimed_.pop_front();
      lock.unlock();
      DecideOne(*batch, matcher);
      lock.lock();
      batch->decided = true;
      done_.notify_all();
    }
  }

  RecordMatcher* own_;
  std::mutex mutex_;
  std::condition_variable work_;  // a batch to claim, or stop
  std::condition_variable done_;  // a batch decided
  std::deque<Batch*> unclaimed_;
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

class Run {
 public:
  Run(const std::vector<memhost::LineSpec>& lines, const MatchOptions& o)
      : options_(o), reporter_(o.strict) {
    const unsigned jobs = std::max(1u, o.jobs);
    for (unsigned j = 0; j < jobs; ++j)
      matchers_.push_back(std::make_unique<RecordMatcher>(lines, o.zone));
  }

  int Go() {
    std::vector<std::string> inputs = options_.inputs;
    if (inputs.empty()) inputs.push_back("-");
    for (const std::string& path : inputs) {
      Input input(path, options_.input_format);
      if (!input.ok()) {
        // Like grep: say why, go on with the others, fail at the end.
        reporter_.Failure(input.name() + ": " + input.error());
        continue;
      }
      ReadInput(input);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
      reporter_.Failure(std::string("standard output: ") +
                        std::strerror(errno));
    if (options_.count)
      std::printf("%llu\n", static_cast<unsigned long long>(written_));
    std::fflush(stdout);
    reporter_.Finish(records_, written_);
    if (reporter_.failed()) return 2;
    return written_ > 0 ? 0 : 1;
  }

 private:
  void ReadInput(Input& input) {
    std::unique_ptr<RecordReader> reader;
    try {
      reader = MakeRecordReader(input.format(), input.file());
    } catch (const InputError& e) {
      reporter_.Failure(input.name() + ": " + Why(input, e));
      return;
    }
    // No batch is in flight between inputs: every matcher is free.
    for (auto& matcher : matchers_) matcher->NewInput();
    reader->WantFields(matchers_[0]->feeder().field_names());
    const Format form = OutputFormatOf(input.format());
    if (!writer_)
      writer_.emplace(options_.output_format.value_or(form),
                      reporter_.progress());
    name_ = input.name();
    source_ = Source{form, &reader->columns(), reader->header_raw(),
                     reader->header_terminator()};
    const std::vector<std::string> renamed = reader->header_notes();
    if (!renamed.empty()) {
      std::string message = name_ + ": duplicate column names: ";
      for (size_t i = 0; i < renamed.size(); ++i)
        message += (i > 0 ? ", " : "") + renamed[i];
      reporter_.Note(message);
    }
    // A header names every column at once; JSON objects may each lack a
    // field, so JSON is checked at the end of the input.
    const bool header = form != Format::kJsonLines;
    if (header) ReportMissing(*reader, false);
    const uint64_t before = records_;
    read_error_.clear();
    if (UseThreads(input, *reader))
      ReadParallel(*reader, input);
    else
      ReadSerial(*reader, input);
    if (!read_error_.empty()) {
      // Every record before the failure was decided and written.
      reporter_.Failure(name_ + ": " + read_error_ +
                        "; reading stopped after " +
                        std::to_string(records_ - before) + " record(s)");
      return;
    }
    if (!header) ReportMissing(*reader, true);
  }

  static std::string Why(const Input& input, const InputError& e) {
    return input.stream_error().empty() ? e.what() : input.stream_error();
  }

  // The next record, or false at the end or when the input fails (then
  // read_error_ says why).
  bool NextRecord(RecordReader& reader, const Input& input, Record& record,
                  bool unsplit) {
    try {
      return unsplit ? reader.NextUnsplit(record) : reader.Next(record);
    } catch (const InputError& e) {
      read_error_ = Why(input, e);
      return false;
    }
  }

  // Threads pay only where their share of the work outweighs handing
  // records over: records split on the threads (CSV, TSV; JSON is parsed on
  // the reading thread anyway), of some size, on a machine with a core for
  // them.
  bool UseThreads(const Input& input, const RecordReader& reader) const {
    constexpr uint64_t kWorthThreads = 4 << 20;  // bytes
    if (matchers_.size() < 2 || !reader.SplitsLater()) return false;
    if (std::thread::hardware_concurrency() < 2) return false;
    // A compressed input's size says little about its records.
    const uint64_t size = input.compressed() ? 0 : input.size();
    return size == 0 || size >= kWorthThreads;
  }

  void ReportMissing(const RecordReader& reader, bool at_end) {
    for (const auto& [field, closest] : matchers_[0]->feeder().MissingFields(
             reader.columns(), reader.hint_names())) {
      std::string message =
          name_ + ": no " +
          std::string(at_end ? "record has a field" : "column") + " '" + field +
          "'";
      if (!closest.empty()) message += " (closest: '" + closest + "')";
      if (options_.strict) {
        reporter_.Note(message);
        throw FatalError(message);
      }
      if (std::find(missing_.begin(), missing_.end(), message) ==
          missing_.end()) {
        missing_.push_back(message);
        reporter_.Note(message +
                       (at_end ? "" : "; typed conditions on it are false"));
      }
    }
  }

  void ReadSerial(RecordReader& reader, const Input& input) {
    Record record;
    Decision d;
    while (NextRecord(reader, input, record, false)) {
      reporter_.progress().Tick(++records_, reader.bytes_read());
      Decide(*matchers_[0], record, reader.columns(), d);
      Settle(record, d);
    }
  }

  void ReadParallel(RecordReader& reader, const Input& input) {
    // Batches are decided by the threads and the reading thread (Deciders)
    // and settled in input order; up to two per thread are in flight, so
    // the threads have the next one ready when they finish one.
    constexpr size_t kBatch = 4096;
    const size_t in_flight = 2 * matchers_.size();
    std::deque<std::unique_ptr<Batch>> flight;
    // Settled batches are filled again: fresh memory for every batch costs
    // more in page faults than the copying itself.
    std::vector<std::unique_ptr<Batch>> spare;
    // Declared after the batches, so its threads stop before they go.
    Deciders deciders(matchers_);
    auto settle_front = [&] {
      std::unique_ptr<Batch> batch = std::move(flight.front());
      flight.pop_front();
      deciders.Wait(batch.get());
      Record r;
      std::string scratch;
      for (size_t i = 0; i < batch->entries.size(); ++i) {
        // Cells are needed again only to convert a record that is written.
        const Decision& d = batch->decisions[i];
        const bool written = !options_.count &&
                             (d.outcome == Outcome::kMatch) != options_.invert;
        batch->Get(i, r, scratch, written);
        Settle(r, d);
      }
      batch->Clear();
      spare.push_back(std::move(batch));
    };
    Record record;
    bool more = true;
    while (more) {
      std::unique_ptr<Batch> batch;
      if (spare.empty()) {
        batch = std::make_unique<Batch>();
      } else {
        batch = std::move(spare.back());
        spare.pop_back();
      }
      // CSV records are split on the threads; JSON Lines are parsed here,
      // since their columns grow as keys appear.
      batch->split_later = reader.SplitsLater();
      while (batch->entries.size() < kBatch &&
             (more = NextRecord(reader, input, record, true))) {
        reporter_.progress().Tick(++records_, reader.bytes_read());
        batch->Add(record);
      }
      if (batch->entries.empty()) break;
      batch->columns = reader.columns();
      if (flight.size() == in_flight) settle_front();
      // Owned by the flight before any thread may see it.
      flight.push_back(std::move(batch));
      deciders.Submit(flight.back().get());
    }
    while (!flight.empty()) settle_front();
  }

  std::string Place(const Record& record) const {
    return name_ + ":" + std::to_string(record.line);
  }

  void Settle(const Record& record, const Decision& d) {
    if (d.outcome == Outcome::kNotRecord) {
      if (record.fatal)
        reporter_.Failure(Place(record) + ": " + record.problem);
      else
        reporter_.RecordReport(
            "unreadable line",
            Place(record) + ": " + record.problem + "; line skipped");
      return;
    }
    if (source_.format != Format::kJsonLines &&
        d.cells != source_.columns->size())
      reporter_.RecordReport("ragged row",
                             Place(record) + ": " + std::to_string(d.cells) +
                                 " cell(s) where the header has " +
                                 std::to_string(source_.columns->size()) +
                                 "; read as far as it goes");
    const RowFeeder& feeder = matchers_[0]->feeder();
    for (const FeedNote& note : d.notes) {
      if (note.kind == FeedNote::kUnreadable)
        reporter_.Unreadable(feeder.field_name(note.field), note.wanted,
                             Place(record), note.cell);
      else
        reporter_.Inexact(feeder.field_name(note.field), Place(record),
                          note.cell);
    }
    if (d.outcome == Outcome::kFailed) {
      reporter_.Failure(Place(record) +
                        ": the filter module could not match the record (" +
                        d.failure + ")");
      return;
    }
    if ((d.outcome == Outcome::kMatch) != options_.invert) {
      ++written_;
      if (!options_.count) writer_->Write(record, source_);
    }
  }

  const MatchOptions& options_;
  Reporter reporter_;
  std::vector<std::unique_ptr<RecordMatcher>> matchers_;
  std::optional<Writer> writer_;
  Source source_;
  std::string name_;
  std::vector<std::string> missing_;
  std::string read_error_;
  uint64_t records_ = 0;
  uint64_t written_ = 0;
};

}  // namespace

int RunMatch(const std::vector<memhost::LineSpec>& lines,
             const MatchOptions& options) {
  return Run(lines, options).Go();
}

}  // namespace evfilter
