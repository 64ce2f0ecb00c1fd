// Sigma rules over pandas frames: the rules compiled and indexed by the
// event library (eventquery_sigma), and every row of a frame decided by
// all of them in one pass, as `evfilter hunt` decides records. Each cell is
// rendered as the text a file written from the frame would hold
// (TextColumn), so a frame read by read_events is hunted as evfilter
// hunts its file.
//
// Thread safety: one thread at a time; Hunt releases the GIL while rows
// are decided and takes the object's own lock.

#ifndef FILTERMODULE_PYTHON_SIGMARULES_H_
#define FILTERMODULE_PYTHON_SIGMARULES_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ReadSupport.h"
#include "sigma/Correlations.h"
#include "sigma/HuntScan.h"
#include "sigma/Hunter.h"
#include "sigma/RuleFilters.h"
#include "sigma/RuleSelection.h"
#include "sigma/SigmaRule.h"

namespace fmpython {

// A hunt's period and events of interest as Python gives them: since,
// until (dates or timestamps, "" open) and a filter expression ("" every
// event).
using ScopeTexts = std::tuple<std::string, std::string, std::string>;

class SigmaRules {
 public:
  // Rules from files and folders (`paths`), or from one YAML text.
  SigmaRules(
      const std::vector<std::string>& paths,
      const std::optional<std::string>& text,
      const std::map<std::string, std::vector<std::string>>& placeholders,
      bool utc);

  // The rules loaded, in rule-id order: dicts of file, document, id,
  // title, level, status, notes, lines (as line tuples' count) and
  // host_checks.
  pybind11::list Loaded() const;
  // The rules not loaded: dicts of file, document, id, title, level,
  // reason, unreadable.
  pybind11::list Rejected() const;
  // The line tuples of rule `rule`, with the conditions the host decides.
  const eventquery::sigma::CompiledRule& rule(size_t rule) const;
  // Applies the filter documents under `paths` (files and folders) to the
  // rules from now on; filters that cannot be loaded join Rejected() (as
  // "filter: REASON"). Returns the notes on ids no loaded rule has.
  // std::invalid_argument when a path holds a rule.
  std::vector<std::string> UseFilters(const std::vector<std::string>& paths);
  // The filters applied, as Loaded()'s dicts of file, document, id, title,
  // level, status, product, tags.
  pybind11::list Filters() const;

  // Per loaded rule: does `select` (with the ids in `exclude_files` left
  // out) run it. std::invalid_argument (ValueError) for a selection that
  // cannot be right or an id or tag no rule has; ReadError for a file of
  // ids that cannot be read.
  std::vector<bool> Chosen(eventquery::sigma::RuleSelection select,
                           const std::vector<std::string>& exclude_files) const;
  size_t size() const { return set_->rules().size(); }

  // The scope of `texts`; ValueError for a bound that is no date, an
  // ExpressionError or BuildError for the expression.
  eventquery::sigma::HuntScope Scope(const ScopeTexts& texts) const;

  // Every (row, rule) that matches, in row order, then rule order: two
  // int64 arrays; with the notes about cells (field, wanted, count,
  // first place ("row 3"), first cell).
  // `product` is the rows' product ("any": every rule runs; "": told by
  // the column names, as evfilter hunt tells an input's); a rule of
  // another product's logs is not run.
  // `scope` limits the rows hunted to a period and to those matching an
  // expression (see Scope); a fourth item counts the rows it left.
  pybind11::tuple Hunt(size_t rows, const std::vector<std::string>& names,
                       const std::vector<std::string>& kinds,
                       const std::vector<pybind11::array>& arrays,
                       const std::string& product, const ScopeTexts& scope);

  // Every (record, rule) that matches in the event file `path` (`format`,
  // `piece` and `encoding` as ReadFrame's), read by the record scan and
  // decided as `evfilter hunt` decides it, without the GIL: a dict of
  // "detections" (tuples of rule, record_id, timestamp or None, and the
  // event as a dict of its fields, nested values as json.loads makes
  // them), "reports" (ReadFrame's) and "notes" (Hunt's). `product` as
  // Hunt's ("": the input's own). An input that cannot be read (on), or a
  // record the module fails on, raises ReadError.
  pybind11::dict HuntFile(const std::string& path, const std::string& format,
                          const std::optional<PieceTuple>& piece,
                          const std::string& encoding,
                          const std::string& product, const ScopeTexts& scope);

  // The correlation rules loaded: dicts of file, document, id, title,
  // level, status, and their type, rules, group_by, timespan_seconds,
  // at_least and generate.
  pybind11::list Correlations() const;
  // Per correlation of Correlations(): "" when it can run over the rules
  // loaded, else why not (as evfilter hunt --list says it).
  std::vector<std::string> CorrelationProblems() const;
  // Starts a hunt with correlations over the rules `chosen` marks: from
  // now on Hunt and HuntFile keep the detections of the rules they name,
  // and leave out those of rules whose correlations do not generate.
  // Returns why each correlation that cannot run is not run.
  std::vector<std::string> BeginCorrelations(const std::vector<bool>& chosen);
  // The correlation detections over what was kept since BeginCorrelations,
  // which it ends: a dict of "found" (dicts of id, title, level, type,
  // group (a dict), timestamp and events: dicts of rule_id, input,
  // record_id and timestamp), "run", the ids of the correlations run, and
  // "without_time", the kept detections with no readable time. MemoryError when
  // the detections kept passed the bound (no correlation decided then).
  pybind11::dict Correlate();

  // The most the detections correlations name may hold.
  static constexpr size_t kCorrelationBytes = size_t{1} << 30;

 private:
  // Keeps a detection for the correlations; false when the rule's own
  // detection is not written (its correlations do not generate).
  bool Correlated(const eventquery::Record& record,
                  const std::vector<std::string>& columns, uint32_t rule,
                  std::string_view input, uint64_t record_id);

  std::vector<eventquery::sigma::CompiledCorrelation> correlations_;
  std::unique_ptr<eventquery::sigma::Correlator> correlator_;  // or none
  bool correlations_full_ = false;

  std::vector<eventquery::sigma::RejectedRule> rejected_;
  std::unique_ptr<eventquery::sigma::RuleSet> set_;
  std::unique_ptr<eventquery::sigma::RuleFilters> filters_;  // or none
  eventquery::sigma::CompileOptions options_;
  eventquery::Zone zone_;
  std::mutex mutex_;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_SIGMARULES_H_
