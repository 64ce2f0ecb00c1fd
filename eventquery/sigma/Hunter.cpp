#include "sigma/Hunter.h"

#include <algorithm>

#include "FieldMappings.h"
#include "NeedleScanner.h"
#include "RuleKeys.h"
#include "common/Ascii.h"
#include "common/Utf8.h"
#include "decide/BuiltFilter.h"
#include "records/FieldColumns.h"

namespace eventquery::sigma {
namespace {

std::string BothKey(const std::string& channel, const std::string& id) {
  std::string key = channel;
  key.push_back('\0');
  key += id;
  return key;
}

void Merge(std::vector<uint32_t>& into, const std::vector<uint32_t>* more) {
  if (more == nullptr || more->empty()) return;
  const size_t middle = into.size();
  into.insert(into.end(), more->begin(), more->end());
  std::inplace_merge(into.begin(), into.begin() + middle, into.end());
}

template <typename Map, typename Key>
const std::vector<uint32_t>* Find(const Map& map, const Key& key) {
  const auto it = map.find(key);
  return it == map.end() ? nullptr : &it->second;
}

std::vector<bool> HostLines(const RuleSet::Form& form) {
  std::vector<bool> host(form.lines->size(), false);
  for (const HostCheck& c : *form.checks) host[c.line] = true;
  return host;
}

// The column of a field as the row feeder finds a rule's fields.
int64_t ColumnOf(const std::vector<std::string>& columns, const char* name) {
  return FindColumn(columns, name, /*spaceless=*/true);
}

}  // namespace

RuleSet::RuleSet(std::vector<CompiledRule> rules,
                 std::vector<RejectedRule>& rejected) {
  std::stable_sort(rules.begin(), rules.end(),
                   [](const CompiledRule& a, const CompiledRule& b) {
                     if (a.meta.id != b.meta.id) return a.meta.id < b.meta.id;
                     if (a.meta.file != b.meta.file)
                       return a.meta.file < b.meta.file;
                     return a.meta.document < b.meta.document;
                   });
  for (CompiledRule& rule : rules) {
    try {
      BuiltFilter check(rule.lines);
      for (const MappedForm& form : rule.mapped) BuiltFilter mapped(form.lines);
    } catch (const BuildError& e) {
      rejected.push_back(
          {rule.meta,
           std::string("the filter module cannot build it: ") + e.what(),
           false});
      continue;
    }
    rules_.push_back(std::move(rule));
  }
  for (uint32_t r = 0; r < rules_.size(); ++r) {
    const CompiledRule& rule = rules_[r];
    forms_.push_back({r, &rule.lines, &rule.checks});
    for (const MappedForm& form : rule.mapped) {
      forms_.push_back({r, &form.lines, &form.checks});
      for (const FieldMapping* m : MappingsOf(rule.meta.category))
        if (form.source == m->source &&
            std::find(mappings_.begin(), mappings_.end(), m) == mappings_.end())
          mappings_.push_back(m);
    }
  }
  GateIds gate_ids;
  for (uint32_t f = 0; f < forms_.size(); ++f) Index(f, gate_ids);
  for (auto& scanner : scanners_) scanner->Build();
}

// Adds form `f`'s lines, gates and keys.
void RuleSet::Index(uint32_t f, GateIds& gate_ids) {
  const Form& form = forms_[f];
  offsets_.push_back(all_lines_.size());
  all_lines_.insert(all_lines_.end(), form.lines->begin(), form.lines->end());
  const std::vector<bool> host = HostLines(form);
  std::vector<uint32_t> gates;
  for (const Gate& g : GatesOf(*form.lines, host)) {
    // (field, needle) ids, sorted: the gate's identity.
    std::vector<std::pair<uint32_t, uint32_t>> atoms;
    for (const auto& [name, needle] : g.needles) {
      const auto at = std::find(field_names_.begin(), field_names_.end(), name);
      const auto field = static_cast<uint32_t>(at - field_names_.begin());
      if (at == field_names_.end()) {
        field_names_.push_back(name);
        scanners_.push_back(std::make_unique<NeedleScanner>());
        needle_gates_.emplace_back();
      }
      atoms.emplace_back(field, scanners_[field]->Add(needle));
    }
    std::sort(atoms.begin(), atoms.end());
    atoms.erase(std::unique(atoms.begin(), atoms.end()), atoms.end());
    auto [it, added] = gate_ids.emplace(atoms, gate_fields_.size());
    if (added) {
      std::vector<uint32_t> fields;
      for (const auto& [field, needle] : atoms) {
        auto& of_needle = needle_gates_[field];
        if (of_needle.size() <= needle) of_needle.resize(needle + 1);
        of_needle[needle].push_back(it->second);
        if (fields.empty() || fields.back() != field) fields.push_back(field);
      }
      gate_fields_.push_back(std::move(fields));
    }
    gates.push_back(it->second);
  }
  rule_gates_.push_back(std::move(gates));
  const RuleKeys keys = KeysOf(*form.lines, host);
  size_t longest_channel = 0, longest_id = 0;
  if (keys.channels)
    for (const std::string& k : *keys.channels)
      longest_channel = std::max(longest_channel, k.size());
  if (keys.event_ids)
    for (const std::string& k : *keys.event_ids)
      longest_id = std::max(longest_id, k.size());
  longest_key_ = std::max(longest_key_, longest_channel + 1 + longest_id);
  if (keys.channels && keys.event_ids) {
    for (const std::string& c : *keys.channels)
      for (const std::string& id : *keys.event_ids)
        by_both_[BothKey(c, id)].push_back(f);
  } else if (keys.channels) {
    for (const std::string& c : *keys.channels) by_channel_[c].push_back(f);
  } else if (keys.event_ids) {
    for (const std::string& id : *keys.event_ids) by_id_[id].push_back(f);
  } else {
    always_.push_back(f);
  }
}

RuleSet::~RuleSet() = default;

std::vector<std::string> RuleSet::host_fields() const {
  std::vector<std::string> names;
  for (const Form& form : forms_)
    for (const HostCheck& c : *form.checks)
      for (const std::string* f : {&c.field, &c.other})
        if (!f->empty() &&
            std::find(names.begin(), names.end(), *f) == names.end())
          names.push_back(*f);
  return names;
}

std::vector<uint32_t> RuleSet::Candidates(const std::string& channel,
                                          const std::string& event_id) const {
  std::vector<uint32_t> out = always_;
  Merge(out, Find(by_channel_, channel));
  Merge(out, Find(by_id_, event_id));
  Merge(out, Find(by_both_, BothKey(channel, event_id)));
  return out;
}

Hunter::Hunter(const RuleSet& rules, Zone zone, bool profile)
    : set_(rules),
      deriver_(std::make_unique<FieldDeriver>(rules.mappings())),
      feeder_(rules.all_lines(), zone),
      profile_(profile) {
  feeder_.MatchFieldsWithoutSpaces();
  for (const RuleSet::Form& form : rules.forms())
    rules_.push_back({std::make_unique<FilterVariants>(*form.lines),
                      decider_.Add(*form.checks)});
  for (uint32_t f = 0; f < rules.forms().size(); ++f) all_.push_back(f);
  // The fields each form reads, in the feeder's numbering.
  const std::vector<std::string> names = feeder_.field_names();
  for (const RuleSet::Form& form : rules.forms()) {
    std::vector<uint32_t> fields;
    for (const ConditionLine& line : *form.lines) {
      const std::string name = common::ToUtf8(line.field);
      // The module reads an empty REL_EXT_TAGS from EXT_TAGS.
      for (const std::string& f :
           {name, common::EqualsNoCase(name, "REL_EXT_TAGS")
                      ? std::string("EXT_TAGS")
                      : name}) {
        const auto at = std::find(names.begin(), names.end(), f);
        if (at != names.end())
          fields.push_back(static_cast<uint32_t>(at - names.begin()));
      }
    }
    std::sort(fields.begin(), fields.end());
    fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
    rule_fields_.push_back(std::move(fields));
  }
  field_read_.resize(names.size());
  time_.resize(rules.rules().size());
  runs_.assign(rules.forms().size(), 1);
  gate_fields_.resize(rules.field_names().size());
  gate_passed_.resize(rules.gates());
}

Hunter::~Hunter() = default;

void Hunter::NewInput() {
  deriver_->NewInput();
  feeder_.ResetColumns();
  decider_.ResetColumns();
  channel_column_ = id_column_ = -1;
  for (GateField& g : gate_fields_) g.column = -1;
  resolved_ = SIZE_MAX;
}

void Hunter::ForgetDerivedColumns() {
  const std::vector<std::string>& names = deriver_->names();
  feeder_.ForgetColumns(names);
  decider_.ForgetColumns(names);
  for (size_t f = 0; f < gate_fields_.size(); ++f)
    if (std::find(names.begin(), names.end(), set_.field_names()[f]) !=
        names.end())
      gate_fields_[f].column = -1;
  resolved_ = SIZE_MAX;
}

std::vector<std::string> Hunter::field_names() const {
  std::vector<std::string> names;
  const std::vector<std::string>& derived = deriver_->names();
  for (std::string& f : feeder_.field_names())
    if (std::find(derived.begin(), derived.end(), f) == derived.end())
      names.push_back(std::move(f));
  for (std::string& f : deriver_->sources()) names.push_back(std::move(f));
  return names;
}

void Hunter::UseSource(const LogSource& source) {
  not_run_ = 0;
  for (size_t r = 0; r < set_.rules().size(); ++r)
    not_run_ += !RuleRunsOn(set_.rules()[r].meta, source);
  for (size_t f = 0; f < runs_.size(); ++f)
    runs_[f] = RuleRunsOn(set_.rules()[set_.forms()[f].rule].meta, source);
}

void Hunter::Resolve(const std::vector<std::string>& columns) {
  decider_.Resolve(columns);
  if (columns.size() == resolved_) return;
  resolved_ = columns.size();
  if (channel_column_ < 0) channel_column_ = ColumnOf(columns, "Channel");
  if (id_column_ < 0) id_column_ = ColumnOf(columns, "EventID");
  for (size_t f = 0; f < gate_fields_.size(); ++f)
    if (gate_fields_[f].column < 0)
      gate_fields_[f].column = ColumnOf(columns, set_.field_names()[f].c_str());
}

bool Hunter::GatesPass(uint32_t rule, const Record& record) {
  for (uint32_t gate : set_.rule_gates(rule)) {
    if (gate_passed_[gate] == stamp_) continue;
    for (uint32_t field : set_.gate_fields(gate)) {
      GateField& f = gate_fields_[field];
      if (f.scanned == stamp_) continue;
      f.scanned = stamp_;
      // A missing field is empty text, which holds no literal.
      std::string_view text;
      if (f.column >= 0 && static_cast<size_t>(f.column) < record.cells.size())
        text = record.cells[static_cast<size_t>(f.column)].value_or("");
      found_.clear();
      set_.scanner(field).Scan(text, f.seen, stamp_, found_);
      const auto& of_needle = set_.needle_gates(field);
      for (uint32_t needle : found_)
        if (needle < of_needle.size())
          for (uint32_t g : of_needle[needle]) gate_passed_[g] = stamp_;
    }
    if (gate_passed_[gate] != stamp_) return false;
  }
  return true;
}

const std::vector<uint32_t>& Hunter::CandidatesOf(const Record& record) {
  auto cell = [&record](int64_t column) -> std::optional<std::string_view> {
    if (column < 0 || static_cast<size_t>(column) >= record.cells.size())
      return std::nullopt;
    return record.cells[static_cast<size_t>(column)];
  };
  // The module compares texts ignoring case as it folds them; for ASCII
  // that is ASCII folding. A missing field is empty text to it. Other text
  // runs every rule.
  cache_key_.clear();
  for (int which = 0; which < 2; ++which) {
    if (which == 1) {
      channel_ = cache_key_;
      cache_key_.push_back('\0');
    }
    const auto text = cell(which == 0 ? channel_column_ : id_column_);
    if (!text) continue;
    for (char c : *text) {
      if (c == '\0' || static_cast<unsigned char>(c) >= 0x80) return all_;
      cache_key_.push_back(common::AsciiLower(c));
    }
  }
  const std::string id = cache_key_.substr(channel_.size() + 1);
  // A key far longer than any rule's gets no entry: hostile values must
  // not fill the cache.
  if (cache_key_.size() > set_.longest_key() + 64) {
    uncached_ = set_.Candidates(channel_, id);
    return uncached_;
  }
  if (const auto it = cache_.find(cache_key_); it != cache_.end())
    return it->second;
  // Events have few distinct channel and id pairs; a bound keeps hostile
  // input from growing the cache.
  if (cache_.size() >= 4096) cache_.clear();
  return cache_[cache_key_] = set_.Candidates(channel_, id);
}

void Hunter::Match(const Record& record_read,
                   const std::vector<std::string>& columns_read,
                   std::vector<uint32_t>& matched,
                   std::vector<FeedNote>* notes) {
  matched.clear();
  // An event of a mapping gets its derived fields, in columns after the
  // input's.
  const bool derives = deriver_->active();
  const std::vector<std::string>& columns =
      derives ? deriver_->Columns(columns_read) : columns_read;
  // Columns only grow within an input, and fields keep the column they
  // were first found in; the derived ones moved.
  if (derives && deriver_->moved()) ForgetDerivedColumns();
  const Record& record = derives ? deriver_->Derive(record_read) : record_read;
  Resolve(columns);
  pending_.clear();
  feeder_.Load(record, columns, row_, notes != nullptr ? &pending_ : nullptr);
  // Stamps tell this record's scans from earlier ones; 0 is "never".
  if (++stamp_ == 0) {
    for (GateField& g : gate_fields_) {
      g.scanned = 0;
      std::fill(g.seen.begin(), g.seen.end(), 0);
    }
    std::fill(gate_passed_.begin(), gate_passed_.end(), 0);
    std::fill(field_read_.begin(), field_read_.end(), 0);
    stamp_ = 1;
  }
  for (uint32_t f : CandidatesOf(record)) {
    if (!runs_[f]) continue;
    const RuleSet::Form& form = set_.forms()[f];
    // The rule's other form matched already.
    if (!matched.empty() && matched.back() == form.rule) continue;
    if (!GatesPass(f, record)) {
      ++gated_;
      continue;
    }
    const auto start = profile_ ? std::chrono::steady_clock::now()
                                : std::chrono::steady_clock::time_point();
    feeder_.MarksFor(set_.offset(f), form.lines->size(), marks_);
    const std::vector<HostCheck>& checks = *form.checks;
    for (size_t k = 0; k < checks.size(); ++k)
      marks_[checks[k].line] =
          decider_.Decide(rules_[f].first_check + k, record) ? kForcedTrue
                                                             : kForcedFalse;
    for (uint32_t field : rule_fields_[f]) field_read_[field] = stamp_;
    if (rules_[f].variants->For(marks_)->IsMatch(&row_))
      matched.push_back(form.rule);
    ++decisions_;
    if (profile_) time_[form.rule] += std::chrono::steady_clock::now() - start;
  }
  // What the cells held is news only for the rules that read them.
  if (notes != nullptr)
    for (FeedNote& n : pending_)
      if (field_read_[n.field] == stamp_) notes->push_back(std::move(n));
}

RuleMatcher::Form::Form(const std::vector<ConditionLine>& lines,
                        const std::vector<HostCheck>& checks, Zone zone)
    : checks(checks), feeder(lines, zone), variants(lines) {
  feeder.MatchFieldsWithoutSpaces();
  decider.Add(checks);
}

RuleMatcher::RuleMatcher(const CompiledRule& rule, Zone zone) {
  forms_.push_back(std::make_unique<Form>(rule.lines, rule.checks, zone));
  std::vector<const FieldMapping*> mappings;
  for (const MappedForm& form : rule.mapped) {
    forms_.push_back(std::make_unique<Form>(form.lines, form.checks, zone));
    for (const FieldMapping* m : MappingsOf(rule.meta.category))
      if (m->source == form.source) mappings.push_back(m);
  }
  deriver_ = std::make_unique<FieldDeriver>(std::move(mappings));
}

RuleMatcher::~RuleMatcher() = default;

void RuleMatcher::NewInput() {
  for (auto& form : forms_) {
    form->feeder.ResetColumns();
    form->decider.ResetColumns();
  }
  deriver_->NewInput();
}

bool RuleMatcher::Match(const Record& record_read,
                        const std::vector<std::string>& columns_read,
                        std::vector<FeedNote>* notes) {
  const bool derives = deriver_->active();
  const std::vector<std::string>& columns =
      derives ? deriver_->Columns(columns_read) : columns_read;
  if (derives && deriver_->moved())
    for (auto& form : forms_) {
      form->feeder.ForgetColumns(deriver_->names());
      form->decider.ForgetColumns(deriver_->names());
    }
  const Record& record = derives ? deriver_->Derive(record_read) : record_read;
  bool match = false;
  for (auto& form : forms_) {
    form->decider.Resolve(columns);
    // Each form's notes: only the own form's are the rule's to report.
    form->feeder.Feed(record, columns, row_, form->forced,
                      form == forms_[0] ? notes : nullptr);
    for (size_t k = 0; k < form->checks.size(); ++k)
      form->forced[form->checks[k].line] =
          form->decider.Decide(k, record) ? kForcedTrue : kForcedFalse;
    match = match || form->variants.For(form->forced)->IsMatch(&row_);
  }
  return match;
}

}  // namespace eventquery::sigma
