#include "HuntRules.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "Commands.h"
#include "Output.h"
#include "Reporter.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/JsonCells.h"
#include "records/Record.h"

namespace evfilter {

using eventquery::sigma::CompiledRule;
using eventquery::sigma::RejectedRule;
using eventquery::sigma::RuleLoad;
using eventquery::sigma::RuleSet;

namespace {

// The kind of a reason, for the summary: its text up to the first quote
// or colon ("modifier 'x' is not supported" -> "modifier").
std::string ReasonKind(const std::string& reason) {
  const size_t cut = reason.find_first_of("':");
  std::string kind = reason.substr(0, cut);
  while (!kind.empty() && kind.back() == ' ') kind.pop_back();
  return kind.empty() ? reason : kind;
}

}  // namespace

void JsonField(std::string& out, const char* key, const std::string& value) {
  eventquery::AppendJsonString(out, key);
  out.push_back(':');
  eventquery::AppendJsonString(out, value);
}

namespace {

void Meta(std::string& out, const eventquery::sigma::RuleMeta& m) {
  JsonField(out, "file", m.file);
  out += ",\"document\":" + std::to_string(m.document) + ",";
  JsonField(out, "id", m.id);
  out.push_back(',');
  JsonField(out, "title", m.title);
  out.push_back(',');
  JsonField(out, "level", m.level);
  out += ",\"tags\":[";
  for (size_t i = 0; i < m.tags.size(); ++i) {
    if (i > 0) out.push_back(',');
    eventquery::AppendJsonString(out, m.tags[i]);
  }
  out += "],";
}

// The filters of --filters over the rules chosen; a rule among them ends
// the run, a filter that cannot be loaded is said as a rule is.
void LoadFilters(const HuntOptions& options,
                 const eventquery::sigma::CompileOptions& compile,
                 HuntRules& rules) {
  if (options.filters.empty()) return;
  std::vector<std::string> skipped;
  try {
    rules.filters = eventquery::sigma::LoadFilters(
        options.filters, compile, *rules.set, rules.rejected, skipped);
  } catch (const std::invalid_argument& e) {
    Fail(std::string("--filters ") + e.what() + " (give rules with --rules)");
  }
  for (const std::string& s : skipped)
    std::fprintf(stderr, "evfilter: %s; skipped\n", s.c_str());
  for (const std::string& note : rules.filters->notes())
    std::fprintf(stderr, "evfilter: %s\n", note.c_str());
}

}  // namespace

HuntRules LoadHuntRules(const HuntOptions& options) {
  HuntRules rules;
  eventquery::sigma::CompileOptions compile;
  for (const std::string& p : options.placeholders) {
    const size_t eq = p.find('=');
    if (eq == std::string::npos || eq == 0)
      Fail("--placeholder wants NAME=VALUE, not '" + p + "'");
    compile.placeholders[p.substr(0, eq)].push_back(p.substr(eq + 1));
  }
  compile.max_bytes = options.max_rule_bytes;
  compile.threads = options.jobs;
  eventquery::sigma::RuleSelection select = options.select;
  try {
    eventquery::sigma::CheckSelection(select);
    for (const std::string& file : options.exclude_files)
      for (std::string& id : eventquery::sigma::ReadRuleIds(file))
        select.excluded_ids.push_back(std::move(id));
  } catch (const std::invalid_argument& e) {
    Fail(e.what());
  } catch (const eventquery::InputError& e) {
    Fail(std::string("--exclude-ids ") + e.what());
  }
  RuleLoad load = eventquery::sigma::LoadRules(options.rules, compile);
  // A filter among the rules would be run as nothing: said, not applied,
  // since a site's filters are given apart (--filters).
  for (eventquery::sigma::CompiledFilter& f : load.filters)
    load.rejected.push_back({f.rule.meta,
                             "a filter document: give its file with --filters",
                             false});
  rules.files = load.files;
  // Folder entries that are no rule file are said, and fail --strict.
  rules.skipped = load.skipped;
  for (const std::string& s : rules.skipped)
    std::fprintf(stderr, "evfilter: %s; skipped\n", s.c_str());
  if (options.strict && !rules.skipped.empty()) rules.failed = true;
  // An id or tag no rule has would choose nothing: a mistake (a typo, or
  // rules of another set).
  std::vector<eventquery::sigma::RuleMeta> metas;
  for (const CompiledRule& rule : load.loaded) metas.push_back(rule.meta);
  for (const std::string& unmatched :
       eventquery::sigma::UnmatchedChoices(select, metas))
    Fail(unmatched + " (or it could not be loaded; --list says)");
  std::vector<CompiledRule> chosen;
  for (CompiledRule& rule : load.loaded) {
    const std::string why =
        eventquery::sigma::LeftOutBecause(select, rule.meta);
    if (why.empty())
      chosen.push_back(std::move(rule));
    else
      rules.left_out.push_back({rule.meta, why, false});
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
  if (!options.product.empty() && options.product != "any" &&
      std::none_of(
          chosen.begin(), chosen.end(), [&options](const CompiledRule& r) {
            return common::EqualsNoCase(r.meta.product, options.product);
          }))
    Fail("--product " + options.product +
         ": no rule names this product (any runs every rule on every "
         "input)");
  rules.rejected = std::move(load.rejected);
  rules.set = std::make_unique<RuleSet>(std::move(chosen), rules.rejected);
  rules.correlations = std::make_unique<eventquery::sigma::Correlator>(
      std::move(load.correlations), *rules.set, rules.rejected,
      options.sort_memory, options.zone);
  LoadFilters(options, compile, rules);
  for (const RejectedRule& r : rules.rejected) {
    if (r.unreadable) {
      rules.failed = true;
      std::fprintf(stderr, "evfilter: %s: %s\n", r.meta.file.c_str(),
                   r.reason.c_str());
    } else if (!options.list) {
      // Each rule not run is named; --list writes them as data instead.
      std::fprintf(stderr, "evfilter: %s%s: not supported: %s\n",
                   r.meta.file.c_str(),
                   r.meta.id.empty() ? "" : (" (" + r.meta.id + ")").c_str(),
                   r.reason.c_str());
    }
  }
  return rules;
}

int ListHuntRules(const HuntRules& rules) {
  std::string out;
  for (const CompiledRule& rule : rules.set->rules()) {
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
  // A correlation: its type, the rules it names, its group and window.
  for (const auto& c : rules.correlations->correlations()) {
    out = "{";
    Meta(out, c.meta);
    JsonField(out, "load", "loaded");
    out.push_back(',');
    JsonField(out, "correlation",
              eventquery::sigma::CorrelationTypeName(c.type));
    for (const auto* names : {&c.rules, &c.group_by}) {
      out += names == &c.rules ? ",\"rules\":[" : ",\"group_by\":[";
      for (size_t i = 0; i < names->size(); ++i) {
        if (i > 0) out.push_back(',');
        eventquery::AppendJsonString(out, (*names)[i]);
      }
      out.push_back(']');
    }
    out += ",\"timespan_seconds\":" +
           std::to_string(c.timespan_ns / 1'000'000'000) +
           ",\"at_least\":" + std::to_string(c.at_least) +
           ",\"generate\":" + (c.generate ? "true" : "false") + "}\n";
    Put(out);
  }
  for (const auto* list : {&rules.rejected, &rules.left_out})
    for (const RejectedRule& r : *list) {
      out = "{";
      Meta(out, r.meta);
      JsonField(out, "load",
                (r.unreadable              ? "unreadable: "
                 : list == &rules.rejected ? "not supported: "
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
  SayRuleSummary(rules);
  return rules.failed ? kError : kMatched;
}

void SayRuleSummary(const HuntRules& rules) {
  size_t unsupported = 0, unreadable = 0;
  std::map<std::string, size_t> kinds;
  for (const RejectedRule& r : rules.rejected) {
    if (r.unreadable) {
      ++unreadable;
    } else {
      ++unsupported;
      ++kinds[ReasonKind(r.reason)];
    }
  }
  std::string line = "rules: " + std::to_string(rules.set->rules().size()) +
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
  if (!rules.skipped.empty())
    line += ", " + std::to_string(rules.skipped.size()) +
            " folder entr(ies) skipped that are no rule file";
  if (!rules.left_out.empty())
    line += ", " + std::to_string(rules.left_out.size()) +
            " left out by the rules chosen (--min-level, --status, --id, "
            "--tag, --exclude-id)";
  if (rules.correlations && !rules.correlations->correlations().empty())
    line += ", " + std::to_string(rules.correlations->correlations().size()) +
            " correlation(s)";
  line += ", from " + std::to_string(rules.files) + " file(s)";
  std::fprintf(stderr, "evfilter: %s\n", line.c_str());
  size_t unmapped = 0;
  for (const CompiledRule& r : rules.set->rules())
    unmapped += r.notes.empty() ? 0 : 1;
  if (unmapped > 0)
    std::fprintf(stderr,
                 "evfilter: %zu rule(s) with a log source that has no "
                 "mapping to event log fields, run on more events (see "
                 "--list)\n",
                 unmapped);
}

}  // namespace evfilter
