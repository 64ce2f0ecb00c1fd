#include "sigma/HuntSummary.h"

#include <algorithm>

#include "decide/TimeWindow.h"
#include "records/JsonCells.h"
#include "sigma/HuntScan.h"

namespace eventquery::sigma {

HuntSummary::HuntSummary(const RuleSet& set, Zone zone)
    : set_(set), zone_(zone), per_rule_(set.rules().size(), 0) {}

void HuntSummary::Add(const Record& record,
                      const std::vector<std::string>& columns, uint32_t rule) {
  ++detections_;
  ++per_rule_[rule];
  ++per_level_[static_cast<size_t>(LevelRank(set_.rules()[rule].meta.level) +
                                   1)];
  const std::string_view host =
      CellNamed(record, columns, "Computer").value_or("");
  if (auto it = hosts_.find(std::string(host)); it != hosts_.end())
    ++it->second;
  else if (hosts_.size() < kMostHosts)
    hosts_.emplace(host, 1);
  else
    ++other_hosts_;
  const std::optional<std::string_view> time = EventTime(record, columns);
  const std::optional<int64_t> key =
      time ? TimeKey(*time, zone_) : std::nullopt;
  if (!key) {
    ++without_time_;
    return;
  }
  if (!first_ || *key < *first_) {
    first_ = key;
    first_text_.emplace(*time);
  }
  if (!last_ || *key > *last_) {
    last_ = key;
    last_text_.emplace(*time);
  }
}

std::vector<std::pair<std::string, uint64_t>> HuntSummary::hosts() const {
  std::vector<std::pair<std::string, uint64_t>> out(hosts_.begin(),
                                                    hosts_.end());
  std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  return out;
}

std::vector<uint32_t> HuntSummary::fired() const {
  std::vector<uint32_t> out;
  for (uint32_t r = 0; r < per_rule_.size(); ++r)
    if (per_rule_[r] > 0) out.push_back(r);
  // Ties by id: the same order wherever the rules were loaded from.
  std::stable_sort(out.begin(), out.end(), [this](uint32_t a, uint32_t b) {
    if (per_rule_[a] != per_rule_[b]) return per_rule_[a] > per_rule_[b];
    return set_.rules()[a].meta.id < set_.rules()[b].meta.id;
  });
  return out;
}

std::string HuntSummary::Json(std::string_view extra) const {
  static constexpr const char* kLevels[] = {
      "none", "informational", "low", "medium", "high", "critical"};
  std::string out = "{\"detections\":" + std::to_string(detections_);
  out += ",\"by_level\":{";
  for (size_t i = 6; i-- > 0;) {
    if (i == 0 && per_level_[0] == 0) break;
    if (i < 5) out.push_back(',');
    AppendJsonString(out, kLevels[i]);
    out += ":" + std::to_string(per_level_[i]);
  }
  out += "},\"rules\":[";
  bool first = true;
  for (uint32_t r : fired()) {
    const RuleMeta& meta = set_.rules()[r].meta;
    out += first ? "{\"id\":" : ",{\"id\":";
    first = false;
    AppendJsonString(out, meta.id);
    out += ",\"title\":";
    AppendJsonString(out, meta.title);
    out += ",\"level\":";
    AppendJsonString(out, meta.level);
    out += ",\"detections\":" + std::to_string(per_rule_[r]) + "}";
  }
  out += "],\"hosts\":[";
  first = true;
  for (const auto& [host, count] : hosts()) {
    out += first ? "{\"host\":" : ",{\"host\":";
    first = false;
    AppendJsonString(out, host);
    out += ",\"detections\":" + std::to_string(count) + "}";
  }
  out += "],\"other_hosts\":" + std::to_string(other_hosts_);
  for (const auto& [name, text] :
       {std::pair{"first", &first_text_}, std::pair{"last", &last_text_}}) {
    out += ",\"" + std::string(name) + "\":";
    if (*text)
      AppendJsonString(out, **text);
    else
      out += "null";
  }
  out += ",\"without_time\":" + std::to_string(without_time_);
  if (!extra.empty()) {
    out.push_back(',');
    out.append(extra);
  }
  out += "}";
  return out;
}

}  // namespace eventquery::sigma
