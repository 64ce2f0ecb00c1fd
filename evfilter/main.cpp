// evfilter: filters event files (CSV, TSV, JSON, EVTX) with FilterModule.
//
// A host like any other: it builds condition lines from a definition file
// or a --where expression, hands them to the module through the public
// interface, and feeds the module one in-memory row per input record. This
// file reads the command line and wires the parts together.

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "Commands.h"
#include "HelpText.h"
#include "HuntRun.h"
#include "InputLoop.h"
#include "Output.h"
#include "common/Ascii.h"
#include "records/Formats.h"
#include "records/Stop.h"

namespace evfilter {
namespace {

// Prints the version and ends, for --version and -V anywhere.
void Version(std::size_t) {
  std::printf("evfilter %s\n", EVFILTER_VERSION);
  throw Exit{kMatched};  // main flushes, and says when that fails
}

// Descriptors 0 to 2 that are closed at start are taken by /dev/null, opened
// the wrong way round so that using them fails as a closed one would: no
// log, temporary file or input may become standard output or error.
void HoldStandardDescriptors() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int held =
        ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    if (held >= 0 && held != fd) {
      ::dup2(held, fd);
      ::close(held);
    }
  }
}

// The signals that stop a run between records, so that what it made (its
// private log folder) is cleaned up: SIGINT, SIGTERM, a closed terminal
// (SIGHUP) and a file size limit (SIGXFSZ).
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};

// The first stop asks politely; the next stop signal, of any kind, ends
// the process (signal() is async-signal-safe).
void OnStopSignal(int signal) {
  eventquery::RequestStop(signal);
  for (const int s : kStopSignals) std::signal(s, SIG_DFL);
}

// The stop signals stop the run between records; a second one ends the
// process at once. A signal the caller ignores stays ignored (a background
// job). SIGPIPE is ignored: a write to a reader that is gone fails with
// EPIPE, and the run ends as if killed by it, its folder removed
// (EndIfReaderGone).
void StopOnSignals() {
  std::signal(SIGPIPE, SIG_IGN);
  for (const int signal : kStopSignals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
      continue;
    struct sigaction stop {};
    stop.sa_handler = OnStopSignal;
    sigemptyset(&stop.sa_mask);
    stop.sa_flags = SA_RESTART;
    ::sigaction(signal, &stop, nullptr);
  }
}

// Every option's value, as the command line sets them.
struct CommandLine {
  FilterOptions filter;
  MatchOptions match;
  HuntOptions hunt;
  std::string input_format, output_format, encoding;
  std::string hunt_output = "jsonl";
  std::string hunt_summary = "text";
  std::string hunt_sort = "input";
  std::string fields, count_by;  // lists, split once parsed
  bool follow = false;
  std::string field;  // intervals' field
  bool utc = false;
  bool as_json = false;
};

// --filter, --where, --type and the module's log: match, show, intervals.
void AddFilterOptions(CLI::App* sub, FilterOptions& fo) {
  sub->add_option("--filter", fo.filter_file, "filter definition file (JSON)");
  sub->add_option("--where", fo.where, "filter expression")
      ->each([&fo](const std::string&) { fo.where_given = true; });
  sub->add_option("--type", fo.types,
                  "field type, FIELD=numeric|text|date|time (repeatable)")
      ->allow_extra_args(false)
      ->take_all();
  sub->add_option("--log-dir", fo.log_dir,
                  "folder of the module's log file (default: a private "
                  "folder removed at exit)");
  sub->add_flag("--debug-log", fo.debug_log, "detailed module log");
}

// How inputs are read: match and hunt.
void AddInputOptions(CLI::App* sub, CommandLine& cl) {
  sub->add_option("--input-format", cl.input_format,
                  eventquery::FormatNameList(false, " or ") +
                      " (default: by extension or content)");
  sub->add_option("--encoding", cl.encoding,
                  "the inputs' text encoding: utf-8 (default), latin1 or "
                  "cp1252; the others are read into UTF-8");
  sub->add_flag("--utc", cl.utc,
                "read timestamps with a zone offset in UTC, not local time");
  sub->add_flag("-f,--follow", cl.follow,
                "read the one file named as it grows, as tail -F does (a "
                "new file under its name, or the file cut short, is read "
                "from its start); a signal ends the run");
}

// --follow reads one named file and never reaches its end; --count and
// --count-by then give the counts when a signal ends the run.
void SettleFollow(const CommandLine& cl, const std::vector<std::string>& inputs,
                  bool writes_at_end) {
  if (!cl.follow) return;
  if (inputs.size() != 1 || inputs[0] == "-")
    Fail("--follow reads one named file as it grows; " +
         std::to_string(inputs.size()) + " input(s) given" +
         (inputs.size() == 1 ? " (standard input is read as it comes)" : ""));
  // A folder's files would be read one after another: the first forever.
  std::error_code error;
  if (std::filesystem::is_directory(inputs[0], error))
    Fail("--follow reads one file as it grows; " + inputs[0] + " is a folder");
  if (writes_at_end)
    Fail(
        "--sort time writes at the end, which a followed file never "
        "reaches");
}

// A whole number of 1 or more (CLI11's own check would print its whole
// range of doubles).
CLI::Validator AtLeastOne() {
  return CLI::Validator(
      [](std::string& v) {
        const bool digits = !v.empty() && v.find_first_not_of("0123456789") ==
                                              std::string::npos;
        return digits && v.find_first_not_of('0') != std::string::npos
                   ? std::string()
                   : "'" + v + "' is no whole number of 1 or more";
      },
      "N");
}

// A value that may not be empty: for options whose empty value would
// otherwise read as not given.
CLI::Validator NotEmpty(const char* what) {
  return CLI::Validator(
      [what](std::string& v) {
        return v.empty() ? std::string("needs ") + what + ", not an empty value"
                         : std::string();
      },
      "");
}

CLI::App* AddMatch(CLI::App& app, CommandLine& cl) {
  MatchOptions& mo = cl.match;
  CLI::App* match = app.add_subcommand("match", "write the rows that match");
  match->footer(std::string(kExpressionHelp) + kExitStatusHelp);
  AddFilterOptions(match, cl.filter);
  match->add_option("inputs", mo.inputs,
                    "input files (CSV, TSV, JSON Lines, a JSON array or "
                    "a Windows event log, gzip-compressed or not; - for "
                    "standard input)");
  match->add_flag("--count", mo.count,
                  "print only the number of matching rows");
  match->add_flag("-v,--invert", mo.invert, "write the rows that do not match");
  match->add_flag("--strict", mo.strict,
                  "stop at the first unreadable value, line, record or "
                  "ragged row, or a field the input lacks");
  AddInputOptions(match, cl);
  match->add_option("--output-format", cl.output_format,
                    eventquery::FormatNameList(true, " or ") +
                        " (default: the input's; JSON Lines for a JSON array "
                        "or a Windows event log)");
  match
      ->add_option("-j,--jobs", mo.jobs,
                   "match on N threads (output stays in input order)")
      ->check(CLI::Range(1u, 256u));
  match->add_option("--fields", cl.fields,
                    "write only these fields, in this order (a,b,c)");
  match
      ->add_option("--limit", mo.limit,
                   "stop after N written rows (with --count-by: write the N "
                   "most frequent)")
      ->check(AtLeastOne());
  match->add_option("--count-by", cl.count_by,
                    "write each distinct value of FIELD[,FIELD] among the "
                    "rows with its count, most frequent first");
  match
      ->add_option("--max-groups", mo.max_groups,
                   "the most distinct values --count-by keeps before it fails "
                   "(default 1000000)")
      ->check(AtLeastOne());
  match
      ->add_option("--every", mo.every,
                   "write the running totals of --count or --count-by every "
                   "SECONDS when they changed, and the totals at the end")
      ->check(CLI::Range(0.01, 86400.0));
  match->add_flag("-H,--with-input", mo.with_input,
                  "write with each record the input it came from: a first "
                  "column (CSV, TSV) or key (JSON) named input");
  match->add_flag("--allow-missing", mo.allow_missing,
                  "a field that no input has is a note, not an error: its "
                  "conditions see a missing value");
  match->add_flag("--stats", mo.stats,
                  "write per field, on standard error at the end: rows that "
                  "had it, missed it, or held an unreadable value");
  return match;
}

CLI::App* AddShow(CLI::App& app, CommandLine& cl) {
  CLI::App* show =
      app.add_subcommand("show", "print the filter's text form and lines");
  show->footer(std::string(kExpressionHelp) + kExitStatusHelp);
  AddFilterOptions(show, cl.filter);
  show->add_option("--rule", cl.filter.rule_file,
                   "a Sigma rule file: print the lines it compiles to");
  show->add_flag("--json", cl.as_json, "print the filter as a definition file");
  show->add_flag("--utc", cl.utc,
                 "fix relative periods in UTC, not local time");
  return show;
}

CLI::App* AddIntervals(CLI::App& app, CommandLine& cl) {
  CLI::App* intervals = app.add_subcommand(
      "intervals", "print the interval set derived for a numeric field");
  intervals->footer(std::string(kExpressionHelp) + kExitStatusHelp);
  AddFilterOptions(intervals, cl.filter);
  intervals->add_option("field", cl.field, "the numeric field")->required();
  return intervals;
}

CLI::App* AddHunt(CLI::App& app, CommandLine& cl) {
  HuntOptions& ho = cl.hunt;
  CLI::App* hunt =
      app.add_subcommand("hunt", "run Sigma detection rules over the inputs");
  hunt->footer(std::string(kHuntHelp) + kExitStatusHelp);
  hunt->add_option("--rules", ho.rules,
                   "Sigma rule files or folders (.yml, .yaml, recursively)")
      ->required()
      ->allow_extra_args(false)
      ->take_all();
  hunt->add_option("inputs", ho.inputs,
                   "input files, as for match (- for standard input)");
  hunt->add_option("--min-level", ho.select.min_level,
                   "run only rules of this level or above (informational, "
                   "low, medium, high, critical)");
  hunt->add_option("--status", ho.select.statuses,
                   "run only rules of these statuses (stable, test, ...)")
      ->allow_extra_args(false)
      ->take_all();
  hunt->add_option("--id", ho.select.ids,
                   "run only the rules of these ids (repeatable, or "
                   "separated by commas)")
      ->allow_extra_args(false)
      ->delimiter(',');
  hunt->add_option("--tag", ho.select.tags,
                   "run only rules with one of these tags or a tag below "
                   "one (attack.t1059 takes attack.t1059.001; repeatable, "
                   "or separated by commas)")
      ->allow_extra_args(false)
      ->delimiter(',');
  hunt->add_option("--exclude-id", ho.select.excluded_ids,
                   "leave out the rules of these ids (repeatable, or "
                   "separated by commas)")
      ->allow_extra_args(false)
      ->delimiter(',');
  hunt->add_option("--exclude-ids", ho.exclude_files,
                   "leave out the rules whose ids this file lists, one per "
                   "line (# starts a comment; repeatable)")
      ->allow_extra_args(false);
  hunt->add_option("--filters", ho.filters,
                   "filter documents (files or folders) that remove the "
                   "detections of the rules they name on the events they "
                   "match")
      ->allow_extra_args(false)
      ->take_all();
  hunt->add_option("--since", ho.since,
                   "hunt only events of this time or later (a date or "
                   "timestamp, read as --where reads them)");
  hunt->add_option("--until", ho.until,
                   "hunt only events of this time or earlier (a date alone "
                   "takes the whole day)");
  hunt->add_option("--where", cl.filter.where,
                   "hunt only the events this expression matches, as match "
                   "--where does")
      ->each([&cl](const std::string&) { cl.filter.where_given = true; });
  hunt->add_option("--type", cl.filter.types,
                   "field type for --where, FIELD=numeric|text|date|time "
                   "(repeatable)")
      ->allow_extra_args(false)
      ->take_all();
  hunt->add_option("--placeholder", ho.placeholders,
                   "NAME=VALUE for %NAME% in |expand values (repeatable)")
      ->allow_extra_args(false)
      ->take_all();
  hunt->add_option("--product", ho.product,
                   "take every input as logs of this product (windows, "
                   "linux, zeek, aws, ...): only its rules run; any: every "
                   "rule runs on every input (default: by the input)")
      ->check(NotEmpty("a product"));
  hunt->add_option("--max-rule-bytes", ho.max_rule_bytes,
                   "refuse a rule file larger than this (default 4194304)")
      ->check(CLI::Range(size_t{1}, size_t{1} << 30));
  hunt->add_flag("--list", ho.list,
                 "write every rule with loaded or not supported: REASON");
  hunt->add_flag("--profile", ho.profile,
                 "time every rule; the summary names the ten slowest");
  hunt->add_flag("--strict", ho.strict,
                 "stop at the first unreadable value, line or record");
  hunt->add_flag("--per-event", ho.per_event,
                 "one line per event: the rules that detected it (rule_ids, "
                 "rule_titles) and the highest level");
  hunt->add_option("--sort", cl.hunt_sort,
                   "input (default: detections as found, in input order) or "
                   "time (in event-time order across all inputs, written at "
                   "the end)")
      ->check(CLI::IsMember({"input", "time"}));
  hunt->add_option("--sort-memory", ho.sort_memory_mib,
                   "with --sort time: the most MiB the detections may hold "
                   "(default 1024); more is an error, not a partial timeline")
      ->check(CLI::Range(size_t{1}, size_t{1} << 20));
  hunt->add_option("--report", ho.report,
                   "also write the detections as one HTML page to look at "
                   "(counts, detections over time, top rules and hosts, a "
                   "table that sorts and searches; it loads nothing)")
      ->allow_extra_args(false)
      ->check(NotEmpty("a file name"));
  hunt->add_option("--summary", cl.hunt_summary,
                   "text (default) or json: the summary as one JSON object, "
                   "the last line of standard error")
      ->check(CLI::IsMember({"text", "json"}));
  AddInputOptions(hunt, cl);
  hunt->add_option("--output-format", cl.hunt_output,
                   "jsonl (default: one detection per line, with the event) "
                   "or csv (a timeline)");
  hunt->add_option("-j,--jobs", ho.jobs,
                   "decode event logs and decide records on N threads "
                   "(output stays in input order)")
      ->check(CLI::Range(1u, 256u));
  return hunt;
}

// A first word that is no command, said with the closest one.
void CheckCommand(int argc, char** argv) {
  if (argc <= 1 || argv[1][0] == '-') return;
  const std::string command = argv[1];
  const std::string closest =
      ClosestCommand(command, {"match", "show", "intervals", "hunt"});
  if (closest != command)
    Fail("unknown command '" + command + "'" +
         (closest.empty() ? "" : "; did you mean " + closest + "?") +
         " (commands: match, show, intervals, hunt)");
}

// match's lists split, and options that do not go together refused.
void SettleMatchOptions(const CLI::App& match, CommandLine& cl) {
  MatchOptions& mo = cl.match;
  mo.fields = FieldList("--fields", cl.fields, match.count("--fields") > 0);
  mo.count_by =
      FieldList("--count-by", cl.count_by, match.count("--count-by") > 0);
  if (!mo.count_by.empty() && (mo.count || !mo.fields.empty()))
    Fail(std::string(mo.count ? "--count" : "--fields") +
         " and --count-by do not go together: --count-by writes the "
         "counts of its fields");
  if (match.count("--max-groups") > 0 && mo.count_by.empty())
    Fail("--max-groups limits --count-by; give --count-by too");
  if (mo.count && !mo.fields.empty())
    Fail("--fields shapes the rows written; --count writes none");
  if (mo.every > 0 && !mo.count && mo.count_by.empty())
    Fail("--every writes the totals of --count or --count-by; give one");
}

int Main(int argc, char** argv) {
  CLI::App app{"Filter event files (CSV, TSV, JSON, EVTX) with FilterModule.",
               "evfilter"};
  app.footer(std::string(kOverviewHelp) + kExitStatusHelp);
  app.require_subcommand(1, 1);
  app.add_flag_function("-V,--version", Version, "print the version and exit");
  CommandLine cl;
  CLI::App* match = AddMatch(app, cl);
  CLI::App* show = AddShow(app, cl);
  AddIntervals(app, cl);
  CLI::App* hunt = AddHunt(app, cl);
  CheckCommand(argc, argv);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kError;
  }
  FilterOptions& fo = cl.filter;
  fo.utc = cl.utc;
  if (hunt->parsed()) {
    // Products are named in lower case (windows, zeek), as rules name them.
    for (char& c : cl.hunt.product) c = common::AsciiLower(c);
    if (fo.where_given)
      cl.hunt.where = LoadLines(fo);
    else if (!fo.types.empty())
      Fail("--type gives the field types of --where, which is not given");
    cl.hunt.summary_json = cl.hunt_summary == "json";
    cl.hunt.sort_by_time = cl.hunt_sort == "time";
    SettleFollow(cl, cl.hunt.inputs, cl.hunt.sort_by_time);
    cl.hunt.follow = cl.follow;
    cl.hunt.sort_memory = cl.hunt.sort_memory_mib << 20;
    return RunHuntCommand(cl.hunt, cl.input_format, cl.hunt_output, cl.encoding,
                          cl.utc);
  }
  if (match->parsed()) {
    SettleMatchOptions(*match, cl);
    SettleFollow(cl, cl.match.inputs, false);
    cl.match.follow = cl.follow;
    // Threads read ahead in large blocks: a followed file is read as it
    // comes, on one.
    if (cl.follow) cl.match.jobs = 1;
    return LogKept(fo, RunMatchCommand(fo, cl.match, cl.input_format,
                                       cl.output_format, cl.encoding, cl.utc));
  }
  if (show->parsed())
    return LogKept(fo, fo.rule_file.empty() ? RunShow(fo, cl.as_json)
                                            : RunShowRule(fo, cl.as_json));
  return LogKept(fo, RunIntervals(fo, cl.field));
}

}  // namespace
}  // namespace evfilter

int main(int argc, char** argv) {
  evfilter::HoldStandardDescriptors();
  evfilter::StopOnSignals();
  // Matched records are written in large blocks, and whenever an input
  // waits for its writer: a reader downstream sees a record of a slow
  // stream as soon as it is decided. (A failed flush leaves the stream's
  // error for the end to say.)
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  eventquery::SetWhileWaiting(evfilter::WhileWaiting);
  eventquery::SetFollowNotes([](const std::string& note) {
    std::fprintf(stderr, "evfilter: %s\n", note.c_str());
  });
  int status;
  try {
    status = evfilter::Main(argc, argv);
  } catch (const evfilter::Exit& e) {
    status = e.status;
  } catch (const std::exception& e) {
    std::cerr << "evfilter: " << e.what() << "\n";
    status = 2;
  }
  // Whatever was printed is written only now, or not: a failure here is
  // an error like any other (--count, show, intervals, --version).
  try {
    if (const std::string error = evfilter::FlushStandardOutput();
        !error.empty() && status < 2) {
      std::fprintf(stderr, "evfilter: standard output: %s\n", error.c_str());
      status = 2;
    }
  } catch (const evfilter::Exit& e) {
    status = e.status;  // the reader is gone
  }
  if (const int signal = eventquery::StopSignal();
      signal != 0 && status < 128) {
    std::fprintf(stderr, "evfilter: interrupted by %s\n",
                 evfilter::SignalName(signal));
    status = 128 + signal;
  }
  return status;
}
