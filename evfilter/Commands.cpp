#include "Commands.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Reporter.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "decide/BuiltFilter.h"
#include "decide/ModuleLog.h"
#include "filtermodule/FilterModule.h"
#include "query/Definition.h"
#include "query/IntervalNotes.h"
#include "query/WhereCompiler.h"
#include "records/Formats.h"
#include "sigma/SigmaRule.h"

namespace evfilter {

using eventquery::BuildError;
using eventquery::BuiltFilter;
using eventquery::ConditionLine;
using eventquery::ModuleLog;

void Fail(const std::string& message) {
  std::cerr << "evfilter: " << message << "\n";
  throw Exit{kError};
}

std::string ClosestCommand(const std::string& word,
                           const std::vector<std::string>& commands) {
  std::string closest;
  size_t best = 3;
  for (const std::string& c : commands) {
    const size_t d = common::EditDistance(word, c);
    if (d == 0 && word == c) return word;
    if (d < best) {
      best = d;
      closest = c;
    }
  }
  return closest;
}

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

namespace {

// The compiler's options for --where: --type, then the types an input
// declares for the fields left.
eventquery::WhereOptions Where(
    const FilterOptions& o,
    const std::vector<std::pair<std::string, std::string>>& declared) {
  eventquery::WhereOptions where;
  where.utc = o.utc;
  where.now = o.now;
  eventquery::TypeOverrides& types = where.types;
  for (const std::string& t : o.types) {
    const size_t eq = t.find('=');
    const int32_t type = eq == std::string::npos
                             ? -1
                             : eventquery::TypeFromName(t.substr(eq + 1));
    if (type < 0)
      Fail("--type wants FIELD=numeric|text|date|time, not '" + t + "'");
    types[t.substr(0, eq)] = type;
  }
  eventquery::AddDeclaredTypes(declared, types);
  return where;
}

}  // namespace

std::vector<ConditionLine> RetypedLines(
    const FilterOptions& o,
    const std::vector<std::pair<std::string, std::string>>& declared) {
  return eventquery::CompileWhere(o.where, Where(o, declared)).lines;
}

std::vector<ConditionLine> LoadLines(const FilterOptions& o) {
  if (o.filter_file.empty() == !o.where_given)
    Fail("give either --filter FILE or --where EXPRESSION");
  if (!o.filter_file.empty()) {
    try {
      return eventquery::ParseDefinition(ReadWholeFile(o.filter_file));
    } catch (const eventquery::DefinitionError& e) {
      Fail(o.filter_file + ": " + e.what());
    }
  }
  try {
    eventquery::CompiledWhere compiled =
        eventquery::CompileWhere(o.where, Where(o, {}));
    for (const std::string& note : compiled.notes)
      std::cerr << "evfilter: note: " << note << "\n";
    return std::move(compiled.lines);
  } catch (const eventquery::SyntaxError& e) {
    std::cerr << "evfilter: syntax error at column " << e.column() << ": "
              << e.what() << "\n  " << o.where << "\n  "
              << std::string(e.column() - 1, ' ') << "^\n";
    throw Exit{kError};
  }
}

namespace {

// Builds the filter once to see that the module takes all of it.
std::unique_ptr<BuiltFilter> BuildChecked(
    const std::vector<ConditionLine>& lines) {
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

}  // namespace

namespace {

// The text form and the table of `lines`; `decided_by[i]` names what the
// host decides of line i, or is "".
void PrintLines(const BuiltFilter& filter,
                const std::vector<ConditionLine>& lines,
                const std::vector<std::string>& decided_by) {
  // What the filter does, each line's NOT included; then the module's own
  // text form, which leaves a line's NOT out.
  std::cout << eventquery::ExpressionText(lines) << "\n";
  bool negated = false;
  for (const ConditionLine& l : lines) negated = negated || l.negate;
  std::cout << "module's text form: " << filter.text_form()
            << (negated ? "  (it does not show the NOT of a line)" : "")
            << "\n\n";
  std::cout << "  #  open  field                 operator   value              "
               "   type     "
               "not  close  link\n";
  for (size_t i = 0; i < lines.size(); ++i) {
    const ConditionLine& l = lines[i];
    std::string field = common::ToUtf8(l.field);
    if (l.has_tag) field += "@" + common::ToUtf8(l.tag);
    std::printf(
        "%3zu  %4d  %s %s %s %s %-3s  %5d  %s\n", i + 1, l.open,
        Pad(field, 21).c_str(), Pad(eventquery::OperatorName(l.op), 10).c_str(),
        Pad("'" + common::ToUtf8(l.value) + "'", 21).c_str(),
        Pad(eventquery::TypeName(l.type), 8).c_str(), l.negate ? "yes" : "",
        l.close, eventquery::LinkName(l.link).c_str());
    if (i < decided_by.size() && !decided_by[i].empty())
      std::printf("       decided by the host: %s\n", decided_by[i].c_str());
  }
}

}  // namespace

int RunShow(const FilterOptions& fo, bool as_json) {
  const std::vector<ConditionLine> lines = LoadLines(fo);
  // The text form is what the module writes to its log, at trace level.
  ModuleLog::Setup(fo.log_dir, /*debug=*/true);
  const auto filter = BuildChecked(lines);
  if (as_json) {
    std::cout << eventquery::DefinitionToJson(lines) << "\n";
    return kMatched;
  }
  std::vector<std::string> decided_by(lines.size());
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].matches)
      decided_by[i] = "MATCHES '" + common::ToUtf8(lines[i].value) + "'";
  PrintLines(*filter, lines, decided_by);
  return kMatched;
}

int RunShowRule(const FilterOptions& fo, bool as_json) {
  if (!fo.filter_file.empty() || fo.where_given)
    Fail("give --rule alone, without --filter or --where");
  const eventquery::sigma::RuleLoad load =
      eventquery::sigma::LoadRules({fo.rule_file});
  for (const auto& r : load.rejected)
    std::cerr << "evfilter: " << r.meta.file
              << (r.meta.id.empty() ? "" : " (" + r.meta.id + ")") << ": "
              << (r.unreadable ? "" : "not supported: ") << r.reason << "\n";
  if (load.loaded.size() != 1) {
    if (load.loaded.size() > 1)
      std::cerr << "evfilter: " << fo.rule_file << " holds "
                << load.loaded.size() << " rules; show takes a file of one\n";
    else if (load.rejected.empty())
      std::cerr << "evfilter: " << fo.rule_file << ": no rule in it\n";
    throw Exit{kError};
  }
  const eventquery::sigma::CompiledRule& rule = load.loaded[0];
  ModuleLog::Setup(fo.log_dir, /*debug=*/true);
  const auto filter = BuildChecked(rule.lines);
  for (const std::string& note : rule.notes)
    std::cerr << "evfilter: note: " << note << "\n";
  if (as_json) {
    if (!rule.checks.empty()) {
      std::cerr << "evfilter: " << fo.rule_file << ": " << rule.checks.size()
                << " condition(s) of this rule are decided by the host ("
                << rule.checks[0].written
                << (rule.checks.size() > 1 ? ", ..." : "")
                << "), which a definition file cannot carry; run it with "
                   "evfilter hunt\n";
      throw Exit{kError};
    }
    for (const auto& form : rule.mapped)
      std::cerr << "evfilter: note: the rule also runs on " << form.source
                << " events through a field mapping, which a definition "
                   "file cannot carry\n";
    std::cout << eventquery::DefinitionToJson(rule.lines) << "\n";
    return kMatched;
  }
  std::cout << "rule: " << rule.meta.title << " (" << rule.meta.id << ")\n";
  auto print = [](const BuiltFilter& built,
                  const std::vector<ConditionLine>& lines,
                  const std::vector<eventquery::HostCheck>& checks) {
    std::vector<std::string> decided_by(lines.size());
    for (const auto& c : checks) decided_by[c.line] = c.written;
    PrintLines(built, lines, decided_by);
  };
  print(*filter, rule.lines, rule.checks);
  for (const auto& form : rule.mapped) {
    std::cout << "\non " << form.source << " events, its fields mapped:\n";
    print(*BuildChecked(form.lines), form.lines, form.checks);
  }
  return kMatched;
}

int LogKept(const FilterOptions& fo, int status) {
  if (fo.log_dir.empty()) return status;
  const int64_t dropped = ModuleLog::DroppedRecords();
  if (dropped == 0) return status;
  std::fprintf(
      stderr,
      "evfilter: %lld record(s) of the module's log could not be "
      "written to %s\n",
      static_cast<long long>(dropped),
      (std::filesystem::path(fo.log_dir) / filtermodule::kLogFileName).c_str());
  // A stop's status stays: it says more than the lost records.
  return status >= 128 ? status : kError;
}

int RunIntervals(const FilterOptions& fo, const std::string& field) {
  const std::vector<ConditionLine> lines = LoadLines(fo);
  ModuleLog::Setup(fo.log_dir, fo.debug_log);
  const auto filter = BuildChecked(lines);
  INumericIntervalCollection* set =
      (*filter)->GetNumericIntervals(common::ToUtf16(field).c_str());
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
  if (set->GetCount() == 0) std::printf("no value\n");
  set->Release();
  for (const std::string& note :
       eventquery::IntervalNotes(lines, field, any_value))
    std::printf("note: %s\n", note.c_str());
  return kMatched;
}

namespace {

// --input-format and --encoding; fails on a name it does not know.
void InputOptions(const std::string& input_format, const std::string& encoding,
                  std::optional<eventquery::Format>& format,
                  eventquery::Encoding& encoding_out) {
  if (!encoding.empty()) {
    const auto named = eventquery::EncodingNamed(encoding);
    if (!named)
      Fail("unknown encoding '" + encoding +
           "'; accepted: " + eventquery::kEncodingNames);
    encoding_out = *named;
  }
  if (!input_format.empty()) {
    format = eventquery::FormatNamed(input_format);
    if (!format)
      Fail("unknown format '" + input_format +
           "'; accepted: " + eventquery::FormatNameList(false));
  }
}

}  // namespace

std::vector<std::string> FieldList(const std::string& option,
                                   const std::string& text, bool given) {
  std::vector<std::string> names;
  if (!given) return names;
  size_t begin = 0;
  while (true) {
    const size_t comma = text.find(',', begin);
    std::string name = text.substr(
        begin, comma == std::string::npos ? std::string::npos : comma - begin);
    const size_t first = name.find_first_not_of(" \t");
    name = first == std::string::npos
               ? std::string()
               : name.substr(first, name.find_last_not_of(" \t") - first + 1);
    if (name.empty())
      Fail(option + " '" + text + "': a field name is empty (write a,b,c)");
    for (const std::string& earlier : names)
      if (common::EqualsNoCase(earlier, name))
        Fail(option + " '" + text + "' names the field '" + name + "' twice");
    names.push_back(std::move(name));
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  return names;
}

int RunHuntCommand(HuntOptions ho, const std::string& input_format,
                   const std::string& output_format,
                   const std::string& encoding, bool utc) {
  if (output_format != "jsonl" && output_format != "csv")
    Fail("unknown output format '" + output_format +
         "' for hunt; accepted: jsonl, csv");
  ho.csv = output_format == "csv";
  InputOptions(input_format, encoding, ho.input_format, ho.encoding);
  ho.zone = utc ? eventquery::Zone::kUtc : eventquery::Zone::kLocal;
  ModuleLog::Setup("", /*debug=*/false);
  return RunHunt(ho);
}

int RunMatchCommand(FilterOptions fo, MatchOptions mo,
                    const std::string& input_format,
                    const std::string& output_format,
                    const std::string& encoding, bool utc) {
  // Relative periods are fixed once, also for an input's own field types.
  fo.now = static_cast<int64_t>(std::time(nullptr));
  const std::vector<ConditionLine> lines = LoadLines(fo);
  if (fo.where_given)
    mo.retype =
        [fo](const std::vector<std::pair<std::string, std::string>>& declared) {
          return RetypedLines(fo, declared);
        };
  InputOptions(input_format, encoding, mo.input_format, mo.encoding);
  if (!output_format.empty()) {
    mo.output_format = eventquery::OutputFormatNamed(output_format);
    if (!mo.output_format)
      Fail("unknown output format '" + output_format +
           "'; accepted: " + eventquery::FormatNameList(true));
  }
  mo.zone = utc ? eventquery::Zone::kUtc : eventquery::Zone::kLocal;
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

}  // namespace evfilter
