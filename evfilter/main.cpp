// evfilter: filters event files (CSV, TSV, JSON) with FilterModule.
//
// A host like any other: it builds condition lines from a definition file
// or a --where expression, hands them to the module through the public
// interface, and feeds the module one in-memory row per input record. This
// file reads the command line and wires the parts together.

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "evfilter/Definition.h"
#include "evfilter/FilterBuild.h"
#include "evfilter/IntervalNotes.h"
#include "evfilter/Pipeline.h"
#include "evfilter/Reporter.h"
#include "evfilter/RowFeeder.h"
#include "evfilter/WhereCompiler.h"
#include "filtermodule/FilterModule.h"
#include "memory_host/MemoryFilterLines.h"
#include "textconv/Utf8.h"

namespace evfilter {
namespace {

constexpr int kMatched = 0;
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
  bool where_given = false;        // an empty --where is an error of its own
  std::vector<std::string> types;  // Field=type
  std::string log_dir;
  bool debug_log = false;
};

// `word` when it is one of `commands`, else the closest within two edits
// (or "").
std::string ClosestCommand(const std::string& word,
                           const std::vector<std::string>& commands) {
  std::string closest;
  size_t best = 3;
  for (const std::string& c : commands) {
    const size_t d = EditDistance(word, c);
    if (d == 0 && word == c) return word;
    if (d < best) {
      best = d;
      closest = c;
    }
  }
  return closest;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<memhost::LineSpec> LoadLines(const FilterOptions& o) {
  if (o.filter_file.empty() == !o.where_given)
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

// Builds the filter once to see that the module takes all of it.
std::unique_ptr<BuiltFilter> BuildChecked(
    const std::vector<memhost::LineSpec>& lines) {
  try {
    return std::make_unique<BuiltFilter>(lines);
  } catch (const BuildError& e) {
    Fail(std::string("the filter module could not build the filter: ") +
         e.what());
  }
}

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

int RunShow(const FilterOptions& fo, bool as_json) {
  const std::vector<memhost::LineSpec> lines = LoadLines(fo);
  // The text form is what the module writes to its log, at trace level.
  ModuleLog::Setup(fo.log_dir, /*debug=*/true);
  const auto filter = BuildChecked(lines);
  if (as_json) {
    std::cout << DefinitionToJson(lines) << "\n";
    return kMatched;
  }
  const auto& records = filter->build_records();
  std::string text;
  size_t done = records.size();
  for (size_t i = records.size(); i-- > 0;)
    if (records[i].message == kLogFilterInitialized) {
      done = i;
      break;
    }
  for (size_t i = done; i-- > 0;)
    if (records[i].level == kLogLevelTrace) {
      text = records[i].message;
      break;
    }
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
  ModuleLog::Setup(fo.log_dir, fo.debug_log);
  const auto filter = BuildChecked(lines);
  INumericIntervalCollection* set =
      (*filter)->GetNumericIntervals(textconv::ToUtf16(field).c_str());
  bool any_value = false;
  for (uint32_t i = 0; i < set->GetCount(); ++i) {
    INumericInterval* x = set->GetAt(static_cast<int32_t>(i));
    if (x->GetLower() > x->GetUpper()) {
      std::printf("no value\n");
      continue;
    }
    any_value = true;
    std::printf("[%d, %d]\n", x->GetLower(), x->GetUpper());
  }
  set->Release();
  for (const std::string& note : IntervalNotes(lines, field, any_value))
    std::printf("note: %s\n", note.c_str());
  return kMatched;
}

// Prints the version and ends, for --version and -V anywhere.
void Version(std::size_t) {
  std::printf("evfilter %s\n", EVFILTER_VERSION);
  std::fflush(stdout);
  throw Exit{kMatched};
}

int RunMatchCommand(const FilterOptions& fo, MatchOptions mo,
                    const std::string& input_format,
                    const std::string& output_format, bool utc) {
  const std::vector<memhost::LineSpec> lines = LoadLines(fo);
  if (!input_format.empty()) {
    mo.input_format = FormatNamed(input_format);
    if (!mo.input_format)
      Fail("unknown format '" + input_format + "'; accepted: " + kFormatNames);
  }
  if (!output_format.empty()) {
    mo.output_format = OutputFormatNamed(output_format);
    if (!mo.output_format)
      Fail("unknown output format '" + output_format +
           "'; accepted: " + kOutputFormatNames);
  }
  mo.zone = utc ? Zone::kUtc : Zone::kLocal;
  ModuleLog::Setup(fo.log_dir, fo.debug_log);
  BuildChecked(lines);
  try {
    return RunMatch(lines, mo);
  } catch (const BuildError& e) {
    Fail(std::string("the filter module could not build the filter: ") +
         e.what());
  } catch (const FatalError&) {
    throw Exit{kError};  // the reporter has said why
  }
}

constexpr char kFooter[] = R"(
Conditions combine strictly left to right, as the filter module evaluates
them: A OR B AND C means (A OR B) AND C. Use brackets to group.

Expression syntax (--where):
  Field OP value        OP: = == != <> < <= > >= LIKE CONTAINS IN (a period)
  Field@Tag OP value    compare inside the extended tag @Tag@...~Tag~
  Field:type OP value   type: numeric, text, date, time (else inferred)
  `Any name` OP value   a field name that is not a bare word (`` for `)
  a.b.0 OP value        JSON: a path into nested objects and arrays
  NOT condition, ( ... ), AND, OR, AND NOT, OR NOT
  values: bare, 'single' or "double" quoted; periods: TODAY, YESTERDAY,
  LAST 30 DAYS, THIS MONTH, LAST MONTH
  dates: m/d/yyyy or yyyy-mm-dd; times: h:mm[:ss] (24-hour) or with AM/PM
  cells also: m/d/yyyy h:mm:ss AM/PM, ISO timestamps, epoch seconds,
  milliseconds or microseconds (by magnitude)

A typed condition on a value a record lacks, holds null or cannot be read
as the condition's type is false (NOT still applies); text sees empty text.

Examples:
  evfilter match --where "EventID = 4625 AND User LIKE 'adm%'" events.csv
  evfilter match --filter examples/filters/failed-admin-logons.json --count events.csv
  evfilter show --where "(EventID = 4624 OR EventID = 4625) AND Received IN THIS MONTH"
  evfilter intervals --where "EventID > 4600 AND EventID < 4700" EventID
  evfilter match --where "`Event ID` >= 4624" export.csv
  evfilter match --where "Event.System.EventID = 1" sysmon.jsonl.gz

Exit status: 0 a record was written, 1 none was, 2 an error.)";

int Main(int argc, char** argv) {
  CLI::App app{"Filter event files (CSV, TSV, JSON) with FilterModule.",
               "evfilter"};
  app.footer(kFooter);
  app.require_subcommand(1, 1);
  app.add_flag_function("-V,--version", Version, "print the version and exit");
  FilterOptions fo;
  MatchOptions mo;
  std::string input_format, output_format;
  bool utc = false;
  bool as_json = false;
  std::string field;
  auto add_filter_options = [&fo](CLI::App* sub) {
    sub->add_option("--filter", fo.filter_file,
                    "filter definition file (JSON)");
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
  };
  CLI::App* match = app.add_subcommand("match", "write the rows that match");
  add_filter_options(match);
  match->add_option("inputs", mo.inputs,
                    "input files (CSV, TSV, JSON Lines or a JSON array, "
                    "gzip-compressed or not; - for standard input)");
  match->add_flag("--count", mo.count,
                  "print only the number of matching rows");
  match->add_flag("-v,--invert", mo.invert, "write the rows that do not match");
  match->add_flag("--strict", mo.strict,
                  "stop at the first unreadable value, line or ragged row, "
                  "or a field the input lacks");
  match->add_option("--input-format", input_format,
                    "csv, tsv, jsonl or json (default: by extension or "
                    "content)");
  match->add_option("--output-format", output_format,
                    "csv, tsv or jsonl (default: the input's; JSON Lines "
                    "for a JSON array)");
  match->add_flag("--utc", utc,
                  "read timestamps with a zone offset in UTC, not local time");
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
  if (argc > 1 && argv[1][0] != '-') {
    const std::string command = argv[1];
    const std::string closest =
        ClosestCommand(command, {"match", "show", "intervals"});
    if (closest != command)
      Fail("unknown command '" + command + "'" +
           (closest.empty() ? "" : "; did you mean " + closest + "?") +
           " (commands: match, show, intervals)");
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kError;
  }
  if (match->parsed())
    return RunMatchCommand(fo, mo, input_format, output_format, utc);
  if (show->parsed()) return RunShow(fo, as_json);
  return RunIntervals(fo, field);
}

}  // namespace
}  // namespace evfilter

int main(int argc, char** argv) {
  // Matched records are written in large blocks.
  static char buffer[1 << 16];
  std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
  int status;
  try {
    status = evfilter::Main(argc, argv);
  } catch (const evfilter::Exit& e) {
    status = e.status;
  } catch (const std::exception& e) {
    std::cerr << "evfilter: " << e.what() << "\n";
    status = 2;
  }
  std::fflush(stdout);
  return status;
}
