// evfilter: filters event files (CSV, JSON Lines) with FilterModule.
//
// A host like any other: it builds condition lines from a definition file
// or a --where expression, hands them to the module through the public
// interface, and feeds the module one in-memory row per input record.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "evfilter/Definition.h"
#include "evfilter/RecordReaders.h"
#include "evfilter/RowFeeder.h"
#include "evfilter/WhereCompiler.h"
#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"
#include "textconv/Utf8.h"

namespace evfilter {
namespace {

constexpr int kMatched = 0;
constexpr int kNoMatch = 1;
constexpr int kError = 2;

// Thrown to end the program with a status after a message was printed.
struct Exit {
  int status;
};

[[noreturn]] void Fail(const std::string& message) {
  std::cerr << "evfilter: " << message << "\n";
  throw Exit{kError};
}

struct FilterOptions {
  std::string filter_file;
  std::string where;
  std::vector<std::string> types;  // Field=type
  std::string log_dir;
  bool debug_log = false;
};

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<memhost::LineSpec> LoadLines(const FilterOptions& o) {
  if (o.filter_file.empty() == o.where.empty())
    Fail("give either --filter FILE or --where EXPRESSION");
  if (!o.filter_file.empty()) {
    try {
      return ParseDefinition(ReadWholeFile(o.filter_file));
    } catch (const DefinitionError& e) {
      Fail(o.filter_file + ": " + e.what());
    }
  }
  TypeOverrides types;
  for (const std::string& t : o.types) {
    const size_t eq = t.find('=');
    const int32_t type =
        eq == std::string::npos ? -1 : TypeFromName(t.substr(eq + 1));
    if (type < 0)
      Fail("--type wants FIELD=numeric|text|date|time, not '" + t + "'");
    types[t.substr(0, eq)] = type;
  }
  try {
    return CompileWhere(o.where, types);
  } catch (const SyntaxError& e) {
    std::cerr << "evfilter: syntax error at column " << e.column() << ": "
              << e.what() << "\n  " << o.where << "\n  "
              << std::string(e.column() - 1, ' ') << "^\n";
    throw Exit{kError};
  }
}

// Points the module's log where the options say; before the first filter.
void ApplyLogOptions(const FilterOptions& o) {
  if (!o.log_dir.empty()) setenv("KVAL_LOG_FOLDER", o.log_dir.c_str(), 1);
  if (o.debug_log) setenv("KVAL_DEBUG_LOG", "1", 1);
}

// Owns a filter built from lines.
class BuiltFilter {
 public:
  explicit BuiltFilter(const std::vector<memhost::LineSpec>& lines)
      : list_(lines), definition_(&list_) {
    filter_ = CreateFilterFromFilterDefinition(&definition_);
    if (filter_ == nullptr) Fail("the filter module could not create a filter");
  }
  ~BuiltFilter() { DestroyFilter(filter_); }
  BuiltFilter(const BuiltFilter&) = delete;
  BuiltFilter& operator=(const BuiltFilter&) = delete;
  IFilter* operator->() { return filter_; }

 private:
  memhost::MemoryFilterLineList list_;
  memhost::MemoryFilterDefinition definition_;
  IFilter* filter_;
};

enum class Format { kCsv, kJsonLines };

Format FormatNamed(const std::string& name) {
  if (name == "csv") return Format::kCsv;
  if (name == "jsonl") return Format::kJsonLines;
  Fail("unknown format '" + name + "'; accepted: csv, jsonl");
}

// By extension, else by the first byte of the stream.
Format DetectFormat(const std::string& path, std::FILE* file) {
  const std::string ext = std::filesystem::path(path).extension().string();
  if (ext == ".csv") return Format::kCsv;
  if (ext == ".jsonl" || ext == ".ndjson" || ext == ".json")
    return Format::kJsonLines;
  int c;
  while ((c = std::fgetc(file)) == ' ' || c == '\t' || c == '\r' || c == '\n') {
  }
  if (c != EOF) std::ungetc(c, file);
  return c == '{' ? Format::kJsonLines : Format::kCsv;
}

void AppendJsonString(std::string& out, std::string_view s) {
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
}

// Writes matching records in the chosen format.
class Writer {
 public:
  explicit Writer(Format format) : format_(format) {}

  void Write(const Record& record, Format input,
             const std::vector<std::string>& columns) {
    out_.clear();
    if (format_ == Format::kJsonLines) {
      if (input == Format::kJsonLines) {
        out_.append(record.raw);
      } else {
        out_.push_back('{');
        for (size_t c = 0; c < columns.size(); ++c) {
          if (c > 0) out_.push_back(',');
          AppendJsonString(out_, columns[c]);
          out_.push_back(':');
          const auto cell =
              c < record.cells.size() ? record.cells[c] : std::nullopt;
          AppendJsonString(out_, cell.value_or(""));
        }
        out_.push_back('}');
      }
    } else {
      if (header_.empty()) {
        header_ = columns;
        for (size_t c = 0; c < header_.size(); ++c) {
          if (c > 0) out_.push_back(',');
          out_ += CsvField(header_[c]);
        }
        out_.push_back('\n');
      }
      if (input == Format::kCsv && columns == header_) {
        out_.append(record.raw);
      } else {
        // Cells placed under the header's columns, by name.
        for (size_t h = 0; h < header_.size(); ++h) {
          if (h > 0) out_.push_back(',');
          for (size_t c = 0; c < columns.size() && c < record.cells.size(); ++c)
            if (columns[c] == header_[h] && record.cells[c])
              out_ += CsvField(*record.cells[c]);
        }
      }
    }
    out_.push_back('\n');
    std::fwrite(out_.data(), 1, out_.size(), stdout);
  }

 private:
  Format format_;
  std::vector<std::string> header_;
  std::string out_;
};

// A progress line on standard error for long inputs, when it is a terminal.
class Progress {
 public:
  Progress() : enabled_(isatty(STDERR_FILENO) == 1) {}
  ~Progress() {
    if (shown_) std::fputs("\r\033[K", stderr);
  }
  void Tick(uint64_t records, uint64_t bytes) {
    if (!enabled_ || (records & 0xFFFF) != 0) return;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_)
            .count();
    if (seconds < 1.0) return;
    shown_ = true;
    std::fprintf(stderr, "\revfilter: %llu records, %.1f MB, %.0f records/s",
                 static_cast<unsigned long long>(records),
                 static_cast<double>(bytes) / 1e6,
                 static_cast<double>(records) / seconds);
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_ =
      std::chrono::steady_clock::now();
};

struct MatchOptions {
  std::vector<std::string> inputs;
  bool count = false;
  bool invert = false;
  bool strict = false;
  std::string input_format;
  std::string output_format;
  unsigned jobs = 1;
};

// What a thread needs to match records: its own filter (a filter is used
// by one thread at a time), feeder and row.
struct MatchContext {
  explicit MatchContext(const std::vector<memhost::LineSpec>& lines)
      : filter(lines), feeder(lines) {}
  BuiltFilter filter;
  RowFeeder feeder;
  memhost::MemoryDataRow row;
};

enum class Outcome : uint8_t { kNoMatch, kMatch, kSkippedMissing, kProblem };

// Matches one record; a problem's description goes to `problem`.
Outcome MatchRecord(MatchContext& c, const Record& record,
                    const std::vector<std::string>& columns,
                    const std::string& name, std::string* problem) {
  if (const auto p = c.feeder.Feed(record, columns, c.row)) {
    if (p->missing_column) return Outcome::kSkippedMissing;
    *problem = name + ":" + std::to_string(record.line) + ": field '" +
               p->field + "': cannot read '" + p->cell + "' as " + p->wanted;
    return Outcome::kProblem;
  }
  try {
    return c.filter->IsMatch(&c.row) ? Outcome::kMatch : Outcome::kNoMatch;
  } catch (const std::exception& e) {
    *problem = name + ":" + std::to_string(record.line) +
               ": the row could not be matched (" + e.what() + ")";
    return Outcome::kProblem;
  }
}

// Records copied out of the reader, to be matched on another thread.
struct Batch {
  std::string arena;
  struct Entry {
    size_t raw_begin, raw_size, cells_begin, cells_end;
    uint64_t line;
  };
  std::vector<Entry> entries;
  std::vector<std::pair<size_t, size_t>> cells;  // (begin, size); npos: none
  std::vector<std::string> columns;
  bool split_later = false;  // CSV records whose cells Get makes
  std::vector<Outcome> outcomes;
  std::vector<std::string> problems;

  void Add(const Record& r) {
    Entry e{arena.size(), r.raw.size(), cells.size(), 0, r.line};
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
    entries.push_back(e);
  }
  // Record `i`; `scratch` holds cells that had to be unquoted.
  void Get(size_t i, Record& r, std::string& scratch) const {
    const Entry& e = entries[i];
    r.raw = std::string_view(arena).substr(e.raw_begin, e.raw_size);
    r.line = e.line;
    if (split_later) {
      SplitCsv(r.raw, scratch, r.cells);
      return;
    }
    r.cells.clear();
    for (size_t c = e.cells_begin; c < e.cells_end; ++c)
      r.cells.push_back(cells[c].first == std::string::npos
                            ? std::nullopt
                            : std::optional(std::string_view(arena).substr(
                                  cells[c].first, cells[c].second)));
  }
  void Match(MatchContext& c, const std::string& name) {
    Record r;
    std::string scratch;
    outcomes.resize(entries.size());
    problems.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      Get(i, r, scratch);
      outcomes[i] = MatchRecord(c, r, columns, name, &problems[i]);
    }
  }
};

int RunMatch(const FilterOptions& fo, const MatchOptions& mo) {
  const std::vector<memhost::LineSpec> lines = LoadLines(fo);
  ApplyLogOptions(fo);
  const unsigned jobs = std::max(1u, mo.jobs);
  std::vector<std::unique_ptr<MatchContext>> contexts;
  for (unsigned j = 0; j < jobs; ++j)
    contexts.push_back(std::make_unique<MatchContext>(lines));
  std::vector<std::string> inputs = mo.inputs;
  if (inputs.empty()) inputs.push_back("-");
  std::optional<Writer> writer;
  Progress progress;
  uint64_t matched = 0, records = 0, skipped = 0, skipped_missing = 0;
  std::vector<std::string> reported_missing;

  for (const std::string& input : inputs) {
    std::FILE* file = input == "-" ? stdin : std::fopen(input.c_str(), "rb");
    if (file == nullptr) Fail("cannot open " + input);
    const std::string name = input == "-" ? "(standard input)" : input;
    const Format format = mo.input_format.empty()
                              ? DetectFormat(input, file)
                              : FormatNamed(mo.input_format);
    if (!writer)
      writer.emplace(mo.output_format.empty() ? format
                                              : FormatNamed(mo.output_format));
    std::unique_ptr<RecordReader> reader;
    try {
      reader = format == Format::kCsv ? MakeCsvReader(file)
                                      : MakeJsonLinesReader(file);
    } catch (const InputError& e) {
      Fail(name + ": " + e.what());
    }
    auto report_missing = [&](bool at_end) {
      for (const auto& [field, closest] :
           contexts[0]->feeder.MissingFields(reader->columns())) {
        std::string message =
            name + ": no " +
            std::string(format == Format::kCsv ? "column"
                                               : "record has a field") +
            " '" + field + "'";
        if (!closest.empty()) message += " (closest: '" + closest + "')";
        if (mo.strict) Fail(message);
        if (std::find(reported_missing.begin(), reported_missing.end(),
                      message) == reported_missing.end()) {
          std::cerr << "evfilter: " << message
                    << (at_end ? "" : "; its conditions see no value") << "\n";
          reported_missing.push_back(message);
        }
      }
    };
    // A CSV header names every column at once; JSON objects may each lack a
    // field, so JSON Lines are checked at the end of the input.
    if (format == Format::kCsv) report_missing(false);
    // Handles one record's outcome, in input order.
    auto settle = [&](Outcome outcome, const std::string& problem,
                      const Record& record,
                      const std::vector<std::string>& columns) {
      switch (outcome) {
        case Outcome::kSkippedMissing:
          ++skipped_missing;
          return;
        case Outcome::kProblem:
          if (mo.strict) Fail(problem);
          std::cerr << "evfilter: " << problem << "; row skipped\n";
          ++skipped;
          return;
        case Outcome::kMatch:
        case Outcome::kNoMatch:
          if ((outcome == Outcome::kMatch) != mo.invert) {
            ++matched;
            if (!mo.count) writer->Write(record, format, columns);
          }
          return;
      }
    };
    try {
      Record record;
      if (jobs == 1) {
        std::string problem;
        while (reader->Next(record)) {
          progress.Tick(++records, reader->bytes_read());
          settle(MatchRecord(*contexts[0], record, reader->columns(), name,
                             &problem),
                 problem, record, reader->columns());
        }
      } else {
        // Batches go to the threads in turn, each thread with its own
        // context; results are settled in input order. At most one batch per
        // thread is in flight, so a context is free when its turn comes.
        constexpr size_t kBatch = 4096;
        std::deque<std::pair<std::unique_ptr<Batch>, std::future<void>>> flight;
        size_t turn = 0;
        auto settle_front = [&] {
          auto [batch, done] = std::move(flight.front());
          flight.pop_front();
          done.get();
          Record r;
          std::string scratch;
          for (size_t i = 0; i < batch->entries.size(); ++i) {
            // Only a record that is written is needed here again.
            const Outcome outcome = batch->outcomes[i];
            if (!mo.count && (outcome == Outcome::kMatch) != mo.invert &&
                (outcome == Outcome::kMatch || outcome == Outcome::kNoMatch))
              batch->Get(i, r, scratch);
            settle(outcome, batch->problems[i], r, batch->columns);
          }
        };
        bool more = true;
        while (more) {
          auto batch = std::make_unique<Batch>();
          // CSV records are split on the threads; JSON Lines are parsed
          // here, since their columns grow as keys appear.
          batch->split_later = reader->SplitsLater();
          while (batch->entries.size() < kBatch &&
                 (more = reader->NextUnsplit(record))) {
            progress.Tick(++records, reader->bytes_read());
            batch->Add(record);
          }
          if (batch->entries.empty()) break;
          batch->columns = reader->columns();
          if (flight.size() == jobs) settle_front();
          MatchContext* context = contexts[turn++ % jobs].get();
          Batch* raw = batch.get();
          flight.emplace_back(
              std::move(batch),
              std::async(std::launch::async, [raw, context, &name] {
                raw->Match(*context, name);
              }));
        }
        while (!flight.empty()) settle_front();
      }
    } catch (const InputError& e) {
      Fail(name + ": " + e.what());
    }
    if (format == Format::kJsonLines) report_missing(true);
    if (file != stdin) std::fclose(file);
  }
  if (mo.count) std::printf("%llu\n", static_cast<unsigned long long>(matched));
  std::fflush(stdout);
  if (skipped_missing > 0)
    std::cerr << "evfilter: " << skipped_missing
              << " rows skipped: a condition needs a field they do not have\n";
  if (skipped > 0)
    std::cerr << "evfilter: " << skipped << " unreadable rows skipped\n";
  return matched > 0 ? kMatched : kNoMatch;
}

// The log records of a log file, as (level, message).
std::vector<std::pair<std::string, std::string>> ReadLogRecords(
    const std::filesystem::path& path) {
  std::vector<std::pair<std::string, std::string>> out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return out;
  ChunkedInput input(file);
  std::string_view raw;
  uint64_t lines;
  std::string arena;
  std::vector<std::optional<std::string_view>> cells;
  while (input.NextRecord(true, &raw, &lines)) {
    SplitCsv(raw, arena, cells);
    if (cells.size() == 5 && *cells[0] != "Timestamp")
      out.emplace_back(std::string(*cells[2]), std::string(*cells[4]));
  }
  std::fclose(file);
  return out;
}

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

int RunShow(FilterOptions fo, bool as_json) {
  const std::vector<memhost::LineSpec> lines = LoadLines(fo);
  if (as_json) {
    std::cout << DefinitionToJson(lines) << "\n";
    return kMatched;
  }
  // The text form is what the module writes to its log: read it back from
  // a log folder of this run's own, unless one was named.
  std::filesystem::path folder = fo.log_dir;
  bool own_folder = false;
  if (folder.empty()) {
    std::string base =
        std::filesystem::temp_directory_path() / "evfilter.XXXXXX";
    if (mkdtemp(base.data()) == nullptr) Fail("cannot make a temporary folder");
    folder = base;
    own_folder = true;
  }
  setenv("KVAL_LOG_FOLDER", folder.c_str(), 1);
  setenv("KVAL_DEBUG_LOG", "1", 1);
  { BuiltFilter filter(lines); }
  const auto records = ReadLogRecords(folder / "Filter-Module.csv");
  if (own_folder) std::filesystem::remove_all(folder);
  size_t done = records.size();
  for (size_t i = records.size(); i-- > 0;)
    if (records[i].second == "Filter initialized ...") {
      done = i;
      break;
    }
  std::string text;
  size_t first = 0;
  for (size_t i = done; i-- > 0;) {
    if (records[i].second ==
        "Creating filter object from filter definition ...") {
      first = i;
      break;
    }
  }
  for (size_t i = done; i-- > first;)
    if (records[i].first == "TRACE") {
      text = records[i].second;
      break;
    }
  for (size_t i = first; i < done; ++i)
    if (records[i].first == "ERROR")
      std::cerr << "evfilter: module: " << records[i].second << "\n";
  std::cout << text << "\n\n";
  std::cout << "  #  open  field                 operator   value              "
               "   type     "
               "not  close  link\n";
  for (size_t i = 0; i < lines.size(); ++i) {
    const memhost::LineSpec& l = lines[i];
    std::string field = textconv::ToUtf8(l.field);
    if (l.has_tag) field += "@" + textconv::ToUtf8(l.tag);
    std::printf("%3zu  %4d  %s %s %s %s %-3s  %5d  %s\n", i + 1, l.open,
                Pad(field, 21).c_str(), Pad(OperatorName(l.op), 10).c_str(),
                Pad("'" + textconv::ToUtf8(l.value) + "'", 21).c_str(),
                Pad(TypeName(l.type), 8).c_str(), l.negate ? "yes" : "",
                l.close, LinkName(l.link).c_str());
  }
  return kMatched;
}

int RunIntervals(const FilterOptions& fo, const std::string& field) {
  const std::vector<memhost::LineSpec> lines = LoadLines(fo);
  ApplyLogOptions(fo);
  BuiltFilter filter(lines);
  INumericIntervalCollection* set =
      filter->GetNumericIntervals(textconv::ToUtf16(field).c_str());
  for (uint32_t i = 0; i < set->GetCount(); ++i) {
    INumericInterval* x = set->GetAt(static_cast<int32_t>(i));
    std::printf("[%d, %d]\n", x->GetLower(), x->GetUpper());
  }
  set->Release();
  return kMatched;
}

constexpr char kFooter[] = R"(
Conditions combine strictly left to right, as the filter module evaluates
them: A OR B AND C means (A OR B) AND C. Use brackets to group.

Expression syntax (--where):
  Field OP value        OP: =  <  >  LIKE  CONTAINS  IN (a period)
  Field@Tag OP value    compare inside the extended tag @Tag@...~Tag~
  Field:type OP value   type: numeric, text, date, time (else inferred)
  NOT condition, ( ... ), AND, OR, AND NOT, OR NOT
  values: bare, 'single' or "double" quoted; periods: TODAY, YESTERDAY,
  LAST 30 DAYS, THIS MONTH, LAST MONTH

Examples:
  evfilter match --where "EventID = 4625 AND User LIKE 'adm%'" events.csv
  evfilter match --filter examples/filters/failed-admin-logons.json --count events.csv
  evfilter show --where "(EventID = 4624 OR EventID = 4625) AND Received IN THIS MONTH"
  evfilter intervals --where "EventID > 4600 AND EventID < 4700" EventID

Exit status: 0 a row matched, 1 no row matched, 2 an error.)";

int Main(int argc, char** argv) {
  CLI::App app{"Filter event files (CSV, JSON Lines) with FilterModule.",
               "evfilter"};
  app.footer(kFooter);
  app.require_subcommand(1, 1);
  FilterOptions fo;
  MatchOptions mo;
  bool as_json = false;
  std::string field;
  auto add_filter_options = [&fo](CLI::App* sub) {
    sub->add_option("--filter", fo.filter_file,
                    "filter definition file (JSON)");
    sub->add_option("--where", fo.where, "filter expression");
    sub->add_option("--type", fo.types,
                    "field type, FIELD=numeric|text|date|time");
    sub->add_option("--log-dir", fo.log_dir, "folder of the module's log file");
    sub->add_flag("--debug-log", fo.debug_log, "detailed module log");
  };
  CLI::App* match = app.add_subcommand("match", "write the rows that match");
  add_filter_options(match);
  match->add_option("inputs", mo.inputs,
                    "input files (CSV or JSON Lines; - for standard input)");
  match->add_flag("--count", mo.count,
                  "print only the number of matching rows");
  match->add_flag("-v,--invert", mo.invert, "write the rows that do not match");
  match->add_flag("--strict", mo.strict,
                  "stop at an unreadable row or a field the input lacks");
  match->add_option("--input-format", mo.input_format,
                    "csv or jsonl (default: by extension)");
  match->add_option("--output-format", mo.output_format,
                    "csv or jsonl (default: the input's)");
  match
      ->add_option("-j,--jobs", mo.jobs,
                   "match on N threads (output stays in input order)")
      ->check(CLI::Range(1u, 256u));
  CLI::App* show =
      app.add_subcommand("show", "print the filter's text form and lines");
  add_filter_options(show);
  show->add_flag("--json", as_json, "print the filter as a definition file");
  CLI::App* intervals = app.add_subcommand(
      "intervals", "print the interval set derived for a numeric field");
  add_filter_options(intervals);
  intervals->add_option("field", field, "the numeric field")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kError;
  }
  if (match->parsed()) return RunMatch(fo, mo);
  if (show->parsed()) return RunShow(fo, as_json);
  return RunIntervals(fo, field);
}

}  // namespace
}  // namespace evfilter

int main(int argc, char** argv) {
  try {
    return evfilter::Main(argc, argv);
  } catch (const evfilter::Exit& e) {
    std::fflush(stdout);
    return e.status;
  } catch (const std::exception& e) {
    std::cerr << "evfilter: " << e.what() << "\n";
    return 2;
  }
}
