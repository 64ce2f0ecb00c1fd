// What a hunt found, as an analyst reads it first: the detections per
// rule, per level and per host (the event's Computer), and the times of
// the first and the last detected event. Front ends feed it each
// detection and write it as text or as JSON.
//
// Memory: O(rules) and O(hosts), hosts bounded by kMostHosts (the rest
// are counted together, and said).
//
// Thread safety: one thread.

#ifndef SIGMA_HUNTSUMMARY_H_
#define SIGMA_HUNTSUMMARY_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "decide/CellReaders.h"
#include "records/Record.h"
#include "sigma/Hunter.h"

namespace eventquery::sigma {

class HuntSummary {
 public:
  static constexpr size_t kMostHosts = 10000;

  HuntSummary(const RuleSet& set, Zone zone);

  // One detection of rule `rule` on `record`. Cost: a hash of its host
  // and a read of its time.
  void Add(const Record& record, const std::vector<std::string>& columns,
           uint32_t rule);

  uint64_t detections() const { return detections_; }
  const std::vector<uint64_t>& per_rule() const { return per_rule_; }
  // Per level rank + 1 (LevelRank; 0: no level).
  const std::array<uint64_t, 6>& per_level() const { return per_level_; }
  // (host, detections), most first, then by name; "" for events with no
  // Computer.
  std::vector<std::pair<std::string, uint64_t>> hosts() const;
  // Detections on hosts beyond kMostHosts distinct ones.
  uint64_t other_hosts() const { return other_hosts_; }
  // The rules that fired, most detections first, then by id.
  std::vector<uint32_t> fired() const;
  // The first and last detected event's time, as the event wrote it;
  // events with no readable time are counted apart.
  const std::optional<std::string>& first() const { return first_text_; }
  const std::optional<std::string>& last() const { return last_text_; }
  uint64_t without_time() const { return without_time_; }

  // One JSON object: detections, by_level, rules (id, title, level,
  // detections), hosts, first and last; `extra` (JSON members, "" for
  // none) is written after them.
  std::string Json(std::string_view extra = "") const;

 private:
  const RuleSet& set_;
  Zone zone_;
  uint64_t detections_ = 0, other_hosts_ = 0, without_time_ = 0;
  std::vector<uint64_t> per_rule_;
  std::array<uint64_t, 6> per_level_{};
  std::unordered_map<std::string, uint64_t> hosts_;
  std::optional<int64_t> first_, last_;
  std::optional<std::string> first_text_, last_text_;
};

}  // namespace eventquery::sigma

#endif  // SIGMA_HUNTSUMMARY_H_
