#include "sigma/Hunter.h"

#include <algorithm>
#include <map>

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

std::vector<bool> HostLines(const CompiledRule& rule) {
  std::vector<bool> host(rule.lines.size(), false);
  for (const HostCheck& c : rule.checks) host[c.line] = true;
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
    } catch (const BuildError& e) {
      rejected.push_back(
          {rule.meta,
           std::string("the filter module cannot build it: ") + e.what(),
           false});
      continue;
    }
    rules_.push_back(std::move(rule));
  }
  std::map<std::vector<std::pair<uint32_t, uint32_t>>, uint32_t> gate_ids;
  for (uint32_t r = 0; r < rules_.size(); ++r) {
    const CompiledRule& rule = rules_[r];
    offsets_.push_back(all_lines_.size());
    all_lines_.insert(all_lines_.end(), rule.lines.begin(), rule.lines.end());
    const std::vector<bool> host = HostLines(rule);
    std::vector<uint32_t> gates;
    for (const Gate& g : GatesOf(rule.lines, host)) {
      // (field, needle) ids, sorted: the gate's identity.
      std::vector<std::pair<uint32_t, uint32_t>> atoms;
      for (const auto& [name, needle] : g.needles) {
        const auto at =
            std::find(field_names_.begin(), field_names_.end(), name);
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
    const RuleKeys keys = KeysOf(rule.lines, host);
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
          by_both_[BothKey(c, id)].push_back(r);
    } else if (keys.channels) {
      for (const std::string& c : *keys.channels) by_channel_[c].push_back(r);
    } else if (keys.event_ids) {
      for (const std::string& id : *keys.event_ids) by_id_[id].push_back(r);
    } else {
      always_.push_back(r);
    }
  }
  for (auto& scanner : scanners_) scanner->Build();
}

RuleSet::~RuleSet() = default;

std::vector<std::string> RuleSet::host_fields() const {
  std::vector<std::string> names;
  for (const CompiledRule& rule : rules_)
    for (const HostCheck& c : rule.checks)
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
    : set_(rules), feeder_(rules.all_lines(), zone), profile_(profile) {
  feeder_.MatchFieldsWithoutSpaces();
  for (const CompiledRule& rule : rules.rules())
    rules_.push_back({std::make_unique<FilterVariants>(rule.lines),
                      decider_.Add(rule.checks)});
  for (uint32_t r = 0; r < rules.rules().size(); ++r) all_.push_back(r);
  // The fields each rule reads, in the feeder's numbering.
  const std::vector<std::string> names = feeder_.field_names();
  for (const CompiledRule& rule : rules.rules()) {
    std::vector<uint32_t> fields;
    for (const ConditionLine& line : rule.lines) {
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
  runs_.assign(rules.rules().size(), 1);
  gate_fields_.resize(rules.field_names().size());
  gate_passed_.resize(rules.gates());
}

void Hunter::NewInput() {
  feeder_.ResetColumns();
  decider_.ResetColumns();
  channel_column_ = id_column_ = -1;
  for (GateField& g : gate_fields_) g.column = -1;
  resolved_ = SIZE_MAX;
}

void Hunter::UseSource(const LogSource& source) {
  not_run_ = 0;
  for (size_t r = 0; r < runs_.size(); ++r) {
    runs_[r] = RuleRunsOn(set_.rules()[r].meta, source) ? 1 : 0;
    not_run_ += runs_[r] == 0;
  }
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

void Hunter::Match(const Record& record,
                   const std::vector<std::string>& columns,
                   std::vector<uint32_t>& matched,
                   std::vector<FeedNote>* notes) {
  matched.clear();
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
  for (uint32_t r : CandidatesOf(record)) {
    if (!runs_[r]) continue;
    if (!GatesPass(r, record)) {
      ++gated_;
      continue;
    }
    const auto start = profile_ ? std::chrono::steady_clock::now()
                                : std::chrono::steady_clock::time_point();
    const CompiledRule& rule = set_.rules()[r];
    feeder_.MarksFor(set_.offset(r), rule.lines.size(), marks_);
    for (size_t k = 0; k < rule.checks.size(); ++k)
      marks_[rule.checks[k].line] =
          decider_.Decide(rules_[r].first_check + k, record) ? kForcedTrue
                                                             : kForcedFalse;
    for (uint32_t f : rule_fields_[r]) field_read_[f] = stamp_;
    if (rules_[r].variants->For(marks_)->IsMatch(&row_)) matched.push_back(r);
    ++decisions_;
    if (profile_) time_[r] += std::chrono::steady_clock::now() - start;
  }
  // What the cells held is news only for the rules that read them.
  if (notes != nullptr)
    for (FeedNote& n : pending_)
      if (field_read_[n.field] == stamp_) notes->push_back(std::move(n));
}

RuleMatcher::RuleMatcher(const CompiledRule& rule, Zone zone)
    : rule_(rule), feeder_(rule.lines, zone), variants_(rule.lines) {
  feeder_.MatchFieldsWithoutSpaces();
  decider_.Add(rule.checks);
}

void RuleMatcher::NewInput() {
  feeder_.ResetColumns();
  decider_.ResetColumns();
}

bool RuleMatcher::Match(const Record& record,
                        const std::vector<std::string>& columns,
                        std::vector<FeedNote>* notes) {
  decider_.Resolve(columns);
  feeder_.Feed(record, columns, row_, forced_, notes);
  for (size_t k = 0; k < rule_.checks.size(); ++k)
    forced_[rule_.checks[k].line] =
        decider_.Decide(k, record) ? kForcedTrue : kForcedFalse;
  return variants_.For(forced_)->IsMatch(&row_);
}

}  // namespace eventquery::sigma
