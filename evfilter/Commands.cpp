#include "evfilter/Commands.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "evfilter/Definition.h"
#include "evfilter/FilterBuild.h"
#include "evfilter/IntervalNotes.h"
#include "evfilter/Reporter.h"
#include "evfilter/RowFeeder.h"
#include "evfilter/WhereCompiler.h"
#include "filtermodule/FilterModule.h"
#include "textconv/Utf8.h"

namespace evfilter {

void Fail(const std::string& message) {
  std::cerr << "evfilter: " << message << "\n";
  throw Exit{kError};
}

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

namespace {

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

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

namespace {

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

}  // namespace

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

}  // namespace evfilter
