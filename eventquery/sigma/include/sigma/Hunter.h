// Running many Sigma rules over events in one pass.
//
// A RuleSet is the compiled rules in rule-id order, each built once by the
// module to see that it takes all of it. A rule is decided in forms: its
// own lines, and each MappedForm (for the Security log's events that
// stand for Sysmon's). Forms are indexed by the Channel and EventID
// values their top level fixes (a form without such keys is a candidate
// for every event). Its gates are what its conditions need: one
// of some literals in some fields (see GatesOf); the literals of every rule
// on one field are found in one pass over it (NeedleScanner).
//
// A Hunter, one per thread, decides records: each field any rule reads is
// loaded once per record into one row that every rule's filter reads, the
// index picks the candidate rules, a candidate whose gate finds none of
// its literals is false without more work, the host decides the others'
// host checks, and each one's own filter (the variant whose
// unusable conditions are forced, see FilterVariants) decides it.
// The detections equal those of running each rule's filter alone over
// every record (RuleMatcher).
//
// Thread safety: a RuleSet is immutable and shared; a Hunter or
// RuleMatcher is used by one thread at a time.

#ifndef SIGMA_HUNTER_H_
#define SIGMA_HUNTER_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "decide/CellReaders.h"
#include "decide/FilterVariants.h"
#include "decide/HostDecider.h"
#include "decide/RowFeeder.h"
#include "memory_host/MemoryDataRow.h"
#include "records/Record.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {

class NeedleScanner;
class FieldDeriver;
struct FieldMapping;

class RuleSet {
 public:
  // Orders the rules by id (then file and document) and builds each once;
  // a rule the module cannot build is moved to `rejected` with the
  // module's reason.
  RuleSet(std::vector<CompiledRule> rules, std::vector<RejectedRule>& rejected);
  ~RuleSet();

  const std::vector<CompiledRule>& rules() const { return rules_; }
  // The fields the rules' host checks read (a reader asked for fields by
  // name needs them too).
  std::vector<std::string> host_fields() const;

  // A rule's own lines or one of its mapped forms'.
  struct Form {
    uint32_t rule;
    const std::vector<ConditionLine>* lines;
    const std::vector<HostCheck>* checks;
  };
  // The forms, a rule's after the one before it.
  const std::vector<Form>& forms() const { return forms_; }
  // The mappings some form is of (their fields are derived for the
  // events of theirs).
  const std::vector<const FieldMapping*>& mappings() const { return mappings_; }
  // Every form's lines, one after the other; form f's start at offset(f).
  const std::vector<ConditionLine>& all_lines() const { return all_lines_; }
  size_t offset(size_t form) const { return offsets_[form]; }
  // The forms that can match an event of `channel` and `event_id` (ASCII
  // lower case; "" when the event has none), in form order.
  std::vector<uint32_t> Candidates(const std::string& channel,
                                   const std::string& event_id) const;
  // The length of the longest channel and id key pair, with a separator.
  size_t longest_key() const { return longest_key_; }
  // How many forms the index can skip at all (those with a key).
  size_t keyed() const { return forms_.size() - always_.size(); }

  // Gates are numbered across forms, the same gate of two forms once. A
  // gate passes when a needle of it is found: needle_gates(field)[needle]
  // lists the gates each needle passes; gate_fields(gate) the fields a
  // gate's needles are in (into field_names()).
  const std::vector<uint32_t>& rule_gates(size_t form) const {
    return rule_gates_[form];
  }
  size_t gates() const { return gate_fields_.size(); }
  const std::vector<uint32_t>& gate_fields(uint32_t gate) const {
    return gate_fields_[gate];
  }
  const std::vector<std::string>& field_names() const { return field_names_; }
  const NeedleScanner& scanner(uint32_t field) const {
    return *scanners_[field];
  }
  const std::vector<std::vector<uint32_t>>& needle_gates(uint32_t field) const {
    return needle_gates_[field];
  }

 private:
  using GateIds =
      std::map<std::vector<std::pair<uint32_t, uint32_t>>, uint32_t>;
  void Index(uint32_t form, GateIds& gate_ids);
  std::vector<CompiledRule> rules_;
  std::vector<Form> forms_;
  std::vector<const FieldMapping*> mappings_;
  std::vector<ConditionLine> all_lines_;
  std::vector<size_t> offsets_;
  std::vector<uint32_t> always_;
  std::unordered_map<std::string, std::vector<uint32_t>> by_channel_;
  std::unordered_map<std::string, std::vector<uint32_t>> by_id_;
  std::unordered_map<std::string, std::vector<uint32_t>> by_both_;
  size_t longest_key_ = 1;
  std::vector<std::vector<uint32_t>> rule_gates_;
  std::vector<std::vector<uint32_t>> gate_fields_;
  std::vector<std::string> field_names_;
  std::vector<std::unique_ptr<NeedleScanner>> scanners_;
  std::vector<std::vector<std::vector<uint32_t>>> needle_gates_;
};

class Hunter {
 public:
  Hunter(const RuleSet& rules, Zone zone, bool profile = false);
  ~Hunter();

  // The rules (indexes into rules(), in rule order) that `record` matches,
  // in `matched`; notes about the cells of fields that the rules decided
  // read are appended. Throws what the
  // module's IsMatch throws.
  void Match(const Record& record, const std::vector<std::string>& columns,
             std::vector<uint32_t>& matched, std::vector<FeedNote>* notes);
  // Starts a new input, whose columns are its own.
  void NewInput();
  // The fields a reader asked for fields by name must give: the rules'
  // and those their mapped forms' fields are derived from.
  std::vector<std::string> field_names() const;
  // From now on runs only the rules that run on inputs of `source`
  // (RuleRunsOn); before the first call, every rule. Costs O(rules).
  void UseSource(const LogSource& source);
  // How many rules the last UseSource left out.
  size_t not_run() const { return not_run_; }
  const RowFeeder& feeder() const { return feeder_; }
  // With profiling: the time spent deciding each rule.
  const std::vector<std::chrono::nanoseconds>& rule_time() const {
    return time_;
  }
  // How many rule decisions ran (candidates over all records), and how
  // many candidates their gates turned away.
  uint64_t decisions() const { return decisions_; }
  uint64_t gated() const { return gated_; }

 private:
  struct Rule {
    std::unique_ptr<FilterVariants> variants;
    size_t first_check;  // the decider's slot of its first host check
  };
  void Resolve(const std::vector<std::string>& columns);
  // The derived fields find their columns again (they moved).
  void ForgetDerivedColumns();
  const std::vector<uint32_t>& CandidatesOf(const Record& record);
  // False when a gate of form `form` finds none of its literals.
  bool GatesPass(uint32_t form, const Record& record);

  const RuleSet& set_;
  std::unique_ptr<FieldDeriver> deriver_;
  RowFeeder feeder_;
  HostDecider decider_;
  std::vector<Rule> rules_;  // per form
  memhost::MemoryDataRow row_;
  std::string marks_, channel_;
  std::vector<uint32_t> all_, uncached_;
  std::unordered_map<std::string, std::vector<uint32_t>> cache_;
  std::string cache_key_;
  int64_t channel_column_ = -1, id_column_ = -1;
  size_t resolved_ = SIZE_MAX;
  bool profile_;
  std::vector<std::chrono::nanoseconds> time_;
  uint64_t decisions_ = 0, gated_ = 0;
  // Per gate field: its column, and the record it was scanned for
  // (stamp_).
  struct GateField {
    int64_t column = -1;
    uint32_t scanned = 0;
    std::vector<uint32_t> seen;  // per needle: the stamp it was seen at
  };
  std::vector<GateField> gate_fields_;
  std::vector<uint32_t> gate_passed_;  // per gate: the stamp it passed at
  std::vector<std::vector<uint32_t>> rule_fields_;  // per form: field ids
  std::vector<uint32_t> field_read_;  // per field: the stamp a rule read it
  std::vector<FeedNote> pending_;
  std::vector<uint32_t> found_;
  uint32_t stamp_ = 0;
  std::vector<char> runs_;  // per form: it runs on this input's source
  size_t not_run_ = 0;
};

// One rule alone over records: for each of its forms its own row, filter
// and host checks; a record matches when a form does.
class RuleMatcher {
 public:
  // Throws BuildError when the module cannot build a form's filter.
  RuleMatcher(const CompiledRule& rule, Zone zone);
  ~RuleMatcher();
  bool Match(const Record& record, const std::vector<std::string>& columns,
             std::vector<FeedNote>* notes);
  void NewInput();
  // The rule's own form's feeder.
  const RowFeeder& feeder() const { return forms_[0]->feeder; }

 private:
  struct Form {
    Form(const std::vector<ConditionLine>& lines,
         const std::vector<HostCheck>& checks, Zone zone);
    const std::vector<HostCheck>& checks;
    RowFeeder feeder;
    FilterVariants variants;
    HostDecider decider;
    std::string forced;
  };
  std::vector<std::unique_ptr<Form>> forms_;
  std::unique_ptr<FieldDeriver> deriver_;
  memhost::MemoryDataRow row_;
};

}  // namespace eventquery::sigma

#endif  // SIGMA_HUNTER_H_
