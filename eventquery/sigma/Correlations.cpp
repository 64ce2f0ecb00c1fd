#include "sigma/Correlations.h"

#include <algorithm>
#include <deque>
#include <map>
#include <unordered_map>

#include "FieldMappings.h"
#include "common/Ascii.h"
#include "decide/TimeWindow.h"
#include "sigma/HuntScan.h"

namespace eventquery::sigma {
namespace {

// A group's values, each length-prefixed ("-" for a field the event lacks),
// so that no value can pass for two.
void AppendPart(std::string& key, std::optional<std::string_view> value) {
  if (!value) {
    key += "-;";
    return;
  }
  key += std::to_string(value->size());
  key += ':';
  key.append(*value);
}

std::vector<std::pair<std::string, std::string>> GroupOf(
    const CompiledCorrelation& c, std::string_view key) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const std::string& field : c.group_by) {
    std::string value;
    if (key.substr(0, 2) == "-;") {
      key.remove_prefix(2);
      value = "(none)";
    } else {
      const size_t colon = key.find(':');
      const size_t n = std::stoul(std::string(key.substr(0, colon)));
      value = std::string(key.substr(colon + 1, n));
      key.remove_prefix(colon + 1 + n);
    }
    out.emplace_back(field, std::move(value));
  }
  return out;
}

// The field `field` of the group stands for in events of `rule`, through
// the correlation's aliases.
std::string FieldFor(const CompiledCorrelation& c, const std::string& field,
                     const RuleMeta& rule) {
  const auto alias = c.aliases.find(field);
  if (alias == c.aliases.end()) return field;
  for (const std::string* ref : {&rule.id, &rule.name})
    if (!ref->empty())
      if (const auto it = alias->second.find(*ref); it != alias->second.end())
        return it->second;
  return field;
}

}  // namespace

Correlator::Correlator(std::vector<CompiledCorrelation> correlations,
                       const RuleSet& set, std::vector<RejectedRule>& rejected,
                       size_t max_bytes, Zone zone,
                       const std::vector<bool>* run)
    : set_(set),
      zone_(zone),
      max_bytes_(max_bytes),
      generates_(set.rules().size(), 1),
      named_(set.rules().size()) {
  std::vector<std::string> correlation_refs;
  for (const CompiledCorrelation& c : correlations)
    for (const std::string* ref : {&c.meta.id, &c.meta.name})
      if (!ref->empty()) correlation_refs.push_back(*ref);
  for (CompiledCorrelation& c : correlations) {
    std::vector<uint32_t> found;
    std::string missing;
    for (const std::string& ref : c.rules) {
      bool any = false;
      for (uint32_t r = 0; r < set.rules().size(); ++r) {
        if (run != nullptr && (r >= run->size() || !(*run)[r])) continue;
        const RuleMeta& m = set.rules()[r].meta;
        if (common::EqualsNoCase(m.id, ref) ||
            (!m.name.empty() && m.name == ref)) {
          found.push_back(r);
          any = true;
          break;
        }
      }
      if (!any && missing.empty()) missing = ref;
    }
    if (!missing.empty()) {
      const bool chained =
          std::find(correlation_refs.begin(), correlation_refs.end(),
                    missing) != correlation_refs.end();
      rejected.push_back({c.meta,
                          chained
                              ? "a correlation of correlation '" + missing +
                                    "' is not supported"
                              : "the correlation names the rule " + missing +
                                    ", which is not among the rules run",
                          false});
      continue;
    }
    const auto index = static_cast<uint32_t>(correlations_.size());
    for (uint32_t p = 0; p < found.size(); ++p) {
      named_[found[p]].emplace_back(index, p);
      if (!c.generate) generates_[found[p]] = 0;
    }
    correlations_.push_back(std::move(c));
  }
  // A rule that some correlation generates, or that none names, writes
  // its own.
  for (uint32_t r = 0; r < named_.size(); ++r)
    for (const auto& [c, p] : named_[r])
      if (correlations_[c].generate) generates_[r] = 1;
}

bool Correlator::Add(const Record& record,
                     const std::vector<std::string>& columns, uint32_t rule,
                     std::string_view input, uint64_t record_id) {
  if (named_[rule].empty()) return true;
  const std::optional<std::string_view> time = EventTime(record, columns);
  const std::optional<int64_t> key =
      time ? TimeKey(*time, zone_) : std::nullopt;
  if (!key) {
    ++without_time_;
    return true;
  }
  const RuleMeta& meta = set_.rules()[rule].meta;
  std::vector<Kept> more;
  size_t need = sizeof(Event) + input.size() + time->size();
  for (const auto& [c, p] : named_[rule]) {
    const CompiledCorrelation& corr = correlations_[c];
    Kept k{*key, static_cast<uint32_t>(events_.size()), c, p, {}, {}};
    // A field as the rule sees it: through the mapping on a Security
    // event that stands for a Sysmon one.
    std::string scratch;
    for (const std::string& field : corr.group_by)
      AppendPart(k.group, RuleFieldCell(meta.category, record, columns,
                                        FieldFor(corr, field, meta), scratch));
    if (corr.type == CompiledCorrelation::kValueCount) {
      const auto value =
          RuleFieldCell(meta.category, record, columns,
                        FieldFor(corr, corr.field, meta), scratch);
      // An event without the field adds no value.
      if (!value) continue;
      k.value.assign(*value);
    }
    need += sizeof(Kept) + k.group.size() + k.value.size();
    more.push_back(std::move(k));
  }
  if (more.empty()) return true;
  if (need > max_bytes_ - std::min(bytes_, max_bytes_)) return false;
  bytes_ += need;
  events_.push_back({rule, std::string(input), record_id, std::string(*time)});
  for (Kept& k : more) kept_.push_back(std::move(k));
  return true;
}

std::vector<Correlator::Found> Correlator::Run() {
  // By time; of one time, in the order found (input order).
  std::stable_sort(
      kept_.begin(), kept_.end(),
      [](const Kept& a, const Kept& b) { return a.time < b.time; });
  std::vector<std::vector<const Kept*>> per(correlations_.size());
  for (const Kept& k : kept_) per[k.correlation].push_back(&k);
  std::vector<Found> out;
  for (size_t c = 0; c < correlations_.size(); ++c) RunOne(c, per[c], out);
  std::stable_sort(out.begin(), out.end(), [](const Found& a, const Found& b) {
    return a.time < b.time;
  });
  kept_.clear();
  events_.clear();
  bytes_ = 0;
  return out;
}

void Correlator::RunOne(size_t c, const std::vector<const Kept*>& items,
                        std::vector<Found>& out) const {
  const CompiledCorrelation& corr = correlations_[c];
  const int64_t span = corr.timespan_ns;
  const size_t rules = corr.rules.size();
  // A group's window: its detections (event_count), its latest detection
  // per value (value_count) or per rule (temporal), or for
  // temporal_ordered the latest start of a run through the first k rules.
  struct Group {
    std::deque<const Kept*> window;
    std::map<std::string, const Kept*> values;
    std::vector<const Kept*> latest;
    std::vector<std::vector<const Kept*>> runs;  // runs[k]: k rules matched
    int64_t last = 0;
  };
  std::unordered_map<std::string, Group> groups;
  auto emit = [&](const std::string& key, std::vector<const Kept*> made) {
    std::sort(made.begin(), made.end(), [](const Kept* a, const Kept* b) {
      return a->time != b->time ? a->time < b->time : a->event < b->event;
    });
    Found f{c, GroupOf(corr, key), {}, made.back()->time};
    for (const Kept* k : made) f.events.push_back(events_[k->event]);
    out.push_back(std::move(f));
  };
  size_t seen = 0;
  for (const Kept* k : items) {
    const int64_t t = k->time;
    // Windows that have passed hold nothing any later detection can use.
    if (++seen % 4096 == 0)
      std::erase_if(groups, [t, span](const auto& g) {
        return t - g.second.last > span;
      });
    Group& g = groups[k->group];
    g.last = t;
    switch (corr.type) {
      case CompiledCorrelation::kEventCount: {
        while (!g.window.empty() && t - g.window.front()->time > span)
          g.window.pop_front();
        g.window.push_back(k);
        if (g.window.size() >= corr.at_least) {
          emit(k->group, {g.window.begin(), g.window.end()});
          g.window.clear();
        }
        break;
      }
      case CompiledCorrelation::kValueCount: {
        std::erase_if(g.values, [t, span](const auto& v) {
          return t - v.second->time > span;
        });
        g.values[k->value] = k;
        if (g.values.size() >= corr.at_least) {
          std::vector<const Kept*> made;
          for (const auto& [value, by] : g.values) made.push_back(by);
          emit(k->group, std::move(made));
          g.values.clear();
        }
        break;
      }
      case CompiledCorrelation::kTemporal: {
        g.latest.resize(rules, nullptr);
        g.latest[k->position] = k;
        std::vector<const Kept*> made;
        for (const Kept* l : g.latest)
          if (l != nullptr && t - l->time <= span) made.push_back(l);
        if (made.size() >= corr.at_least) {
          emit(k->group, std::move(made));
          g.latest.assign(rules, nullptr);
        }
        break;
      }
      case CompiledCorrelation::kTemporalOrdered: {
        g.runs.resize(rules + 1);
        const size_t p = k->position;
        std::vector<const Kept*> run;
        if (p == 0) {
          run = {k};
        } else if (!g.runs[p].empty() && t - g.runs[p].front()->time <= span) {
          run = g.runs[p];
          run.push_back(k);
        } else {
          break;
        }
        if (run.size() == rules) {
          emit(k->group, std::move(run));
          g.runs.assign(rules + 1, {});
        } else if (g.runs[p + 1].empty() ||
                   run.front()->time >= g.runs[p + 1].front()->time) {
          // The latest start leaves the most time for the rest.
          g.runs[p + 1] = std::move(run);
        }
        break;
      }
    }
  }
}

}  // namespace eventquery::sigma
