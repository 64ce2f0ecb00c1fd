#include "SigmaRules.h"

#include <pybind11/stl.h>

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "Interrupts.h"
#include "TextColumn.h"
#include "query/WhereCompiler.h"
#include "records/Record.h"
#include "records/RecordReports.h"
#include "sigma/HuntScan.h"

namespace py = pybind11;

namespace fmpython {
namespace {

// Folder entries named as rule files that are none ("path: why"): said as
// `what` files that did not load.
void AddSkipped(const std::vector<std::string>& skipped, const char* what,
                std::vector<eventquery::sigma::RejectedRule>& rejected) {
  for (const std::string& entry : skipped) {
    eventquery::sigma::RejectedRule r;
    const size_t colon = entry.rfind(": ");
    r.meta.file = entry.substr(0, colon);
    r.reason = std::string("no ") + what + " file (" + entry.substr(colon + 2) +
               "); skipped";
    rejected.push_back(std::move(r));
  }
}

py::dict Meta(const eventquery::sigma::RuleMeta& m) {
  py::dict d;
  d["file"] = m.file;
  d["document"] = m.document;
  d["id"] = m.id;
  d["title"] = m.title;
  d["level"] = m.level;
  d["status"] = m.status;
  d["product"] = m.product;
  d["tags"] = m.tags;
  return d;
}

// Notes counted per field and what it wanted: (count, first place ("row
// 3", "events.csv:12"), first cell).
using CellNoteCounts = std::map<std::pair<std::string, std::string>,
                                std::tuple<uint64_t, std::string, std::string>>;

void CountNotes(const eventquery::RowFeeder& feeder,
                const std::vector<eventquery::FeedNote>& notes,
                const std::string& where, CellNoteCounts& counts) {
  for (const auto& n : notes) {
    const std::string wanted =
        n.kind == eventquery::FeedNote::kNotUtf8 ? "UTF-8" : n.wanted;
    auto& [count, first, first_cell] =
        counts[{feeder.field_name(n.field), wanted}];
    if (count++ == 0) {
      first = where;
      first_cell = n.cell;
    }
  }
}

py::list NoteList(const CellNoteCounts& counts) {
  py::list out;
  for (const auto& [key, value] : counts)
    out.append(py::make_tuple(key.first, key.second, std::get<0>(value),
                              std::get<1>(value), std::get<2>(value)));
  return out;
}

// A file's detections, kept without the GIL until the scan ends.
class FileDetections : public eventquery::sigma::Detections {
 public:
  struct Found {
    uint32_t rule;
    uint64_t record_id;
    std::optional<std::string> time;
    // (column, nested, text) of each present cell.
    std::vector<std::tuple<uint32_t, bool, std::string>> cells;
  };

  // `keep` takes each detection for the correlations and says whether
  // it is written.
  using Keep = std::function<bool(const eventquery::Record&,
                                  const std::vector<std::string>&, uint32_t,
                                  std::string_view, uint64_t)>;
  FileDetections(std::string name, Keep keep)
      : name_(std::move(name)), keep_(std::move(keep)) {}

  void Detected(const eventquery::Record& record,
                const std::vector<std::string>& columns, uint64_t record_id,
                uint32_t rule) override {
    if (!keep_(record, columns, rule, name_, record_id)) return;
    // Columns only grow (JSON keys): the longest list names every cell.
    if (columns.size() > columns_.size()) columns_ = columns;
    Found f{rule, record_id, {}, {}};
    if (auto time = eventquery::sigma::EventTime(record, columns))
      f.time = std::string(*time);
    for (size_t c = 0; c < record.cells.size() && c < columns.size(); ++c)
      if (record.cells[c])
        f.cells.emplace_back(
            static_cast<uint32_t>(c),
            std::find(record.nested.begin(), record.nested.end(), c) !=
                record.nested.end(),
            std::string(*record.cells[c]));
    found_.push_back(std::move(f));
  }
  void CellNotes(const eventquery::Record& record,
                 const eventquery::RowFeeder& feeder,
                 const std::vector<eventquery::FeedNote>& notes) override {
    CountNotes(feeder, notes, eventquery::PlaceOf(name_, record), notes_);
  }
  void Failed(const eventquery::Record& record,
              const std::string& why) override {
    if (failure_.empty())
      failure_ = eventquery::PlaceOf(name_, record) +
                 ": the filter module could not match the record (" + why + ")";
  }
  bool Going() override {
    if (TimeToCheck(++records_) && SignalRaised()) interrupted_ = true;
    return !interrupted_;
  }

  bool interrupted() const { return interrupted_; }
  const std::string& failure() const { return failure_; }
  // The detections as Python tuples.
  py::list List() const {
    py::list out;
    simdjson::dom::parser parser;
    std::string padded;
    std::vector<py::object> names;
    for (const std::string& c : columns_) names.push_back(Str(c));
    for (const Found& f : found_) {
      py::dict event;
      for (const auto& [column, nested, text] : f.cells) {
        py::object value;
        simdjson::dom::element element;
        padded.assign(text);
        padded.append(simdjson::SIMDJSON_PADDING, '\0');
        if (nested &&
            parser.parse(padded.data(), text.size(), false).get(element) ==
                simdjson::SUCCESS)
          value = ToPython(element);
        else
          value = CellStr(text);
        event[names[column]] = value;
      }
      out.append(py::make_tuple(
          f.rule, f.record_id,
          f.time ? py::object(CellStr(*f.time)) : py::object(py::none()),
          event));
    }
    return out;
  }
  const CellNoteCounts& notes() const { return notes_; }

 private:
  std::string name_;
  Keep keep_;
  std::vector<Found> found_;
  CellNoteCounts notes_;
  std::string failure_;
  std::vector<std::string> columns_;
  size_t records_ = 0;
  bool interrupted_ = false;
};

// What a scope left, by why.
py::dict LeftDict(const eventquery::sigma::ScopeCounts& left) {
  py::dict d;
  d["outside_period"] = left.outside;
  d["without_time"] = left.no_time;
  d["not_matching_where"] = left.not_wanted;
  return d;
}

}  // namespace

SigmaRules::SigmaRules(
    const std::vector<std::string>& paths,
    const std::optional<std::string>& text,
    const std::map<std::string, std::vector<std::string>>& placeholders,
    bool utc)
    : zone_(utc ? eventquery::Zone::kUtc : eventquery::Zone::kLocal) {
  options_.placeholders = placeholders;
  eventquery::sigma::RuleLoad load =
      text ? eventquery::sigma::CompileRules(*text, "<text>", options_)
           : eventquery::sigma::LoadRules(paths, options_);
  rejected_ = std::move(load.rejected);
  // A site's filters are given apart (filters=).
  for (eventquery::sigma::CompiledFilter& f : load.filters)
    rejected_.push_back(
        {f.rule.meta, "a filter document: give its file as filters=", false});
  correlations_ = std::move(load.correlations);
  AddSkipped(load.skipped, "rule", rejected_);
  set_ = std::make_unique<eventquery::sigma::RuleSet>(std::move(load.loaded),
                                                      rejected_);
}

py::list SigmaRules::Loaded() const {
  py::list out;
  for (const auto& r : set_->rules()) {
    py::dict d = Meta(r.meta);
    d["notes"] = r.notes;
    d["lines"] = r.lines.size();
    d["host_checks"] = r.checks.size();
    out.append(d);
  }
  return out;
}

std::vector<std::string> SigmaRules::UseFilters(
    const std::vector<std::string>& paths) {
  // A hunt holds the lock without the GIL and may take the GIL back (to
  // see a signal): the lock is waited for without it.
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> skipped;
  filters_ = eventquery::sigma::LoadFilters(paths, options_, *set_, rejected_,
                                            skipped);
  AddSkipped(skipped, "filter", rejected_);
  return filters_->notes();
}

py::list SigmaRules::Filters() const {
  py::list out;
  if (filters_ != nullptr)
    for (const auto& r : filters_->set().rules()) out.append(Meta(r.meta));
  return out;
}

std::vector<bool> SigmaRules::Chosen(
    eventquery::sigma::RuleSelection select,
    const std::vector<std::string>& exclude_files) const {
  eventquery::sigma::CheckSelection(select);
  for (const std::string& file : exclude_files) {
    try {
      for (std::string& id : eventquery::sigma::ReadRuleIds(file))
        select.excluded_ids.push_back(std::move(id));
    } catch (const eventquery::InputError& e) {
      throw ReadError(e.what());
    }
  }
  std::vector<eventquery::sigma::RuleMeta> metas;
  for (const auto& r : set_->rules()) metas.push_back(r.meta);
  const std::vector<std::string> unmatched =
      eventquery::sigma::UnmatchedChoices(select, metas);
  if (!unmatched.empty()) {
    std::string message = unmatched[0];
    for (size_t i = 1; i < unmatched.size(); ++i)
      message += "; " + unmatched[i];
    throw std::invalid_argument(message);
  }
  std::vector<bool> out;
  for (const eventquery::sigma::RuleMeta& m : metas)
    out.push_back(eventquery::sigma::LeftOutBecause(select, m).empty());
  return out;
}

py::list SigmaRules::Rejected() const {
  py::list out;
  for (const auto& r : rejected_) {
    py::dict d = Meta(r.meta);
    d["reason"] = r.reason;
    d["unreadable"] = r.unreadable;
    out.append(d);
  }
  return out;
}

const eventquery::sigma::CompiledRule& SigmaRules::rule(size_t rule) const {
  if (rule >= set_->rules().size()) throw py::index_error("no such rule");
  return set_->rules()[rule];
}

py::tuple SigmaRules::Hunt(size_t rows, const std::vector<std::string>& names,
                           const std::vector<std::string>& kinds,
                           const std::vector<py::array>& arrays,
                           const std::string& product,
                           const ScopeTexts& scope_texts) {
  const eventquery::sigma::HuntScope scope = Scope(scope_texts);
  if (names.size() != kinds.size() || names.size() != arrays.size())
    throw py::value_error("names, kinds and arrays differ in length");
  std::vector<std::unique_ptr<TextColumn>> columns;
  for (size_t c = 0; c < names.size(); ++c) {
    columns.push_back(
        std::make_unique<TextColumn>(names[c], kinds[c], arrays[c]));
    if (columns.back()->rows() != rows)
      throw py::value_error("column '" + names[c] + "' has " +
                            std::to_string(columns.back()->rows()) +
                            " rows, not " + std::to_string(rows));
  }
  std::vector<int64_t> hit_rows, hit_rules;
  CellNoteCounts notes;
  eventquery::sigma::ScopeCounts left;
  bool interrupted = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    eventquery::sigma::Hunter hunter(*set_, zone_);
    eventquery::LogSource source;
    if (product.empty())
      source = eventquery::sigma::SourceOfInput({}, names);
    else if (product != "any")
      source.product = product;
    hunter.UseSource(source);
    std::optional<eventquery::sigma::FilterRunner> filter;
    if (filters_ != nullptr && filters_->size() > 0) {
      filter.emplace(*filters_, zone_);
      filter->UseSource(source);
    }
    eventquery::sigma::ScopeCheck in_scope(scope, zone_);
    eventquery::Record record;
    record.cells.resize(names.size());
    std::vector<std::string> scratch(names.size());
    std::vector<uint32_t> matched;
    std::vector<eventquery::FeedNote> row_notes;
    for (size_t row = 0; row < rows; ++row) {
      if (TimeToCheck(row) && SignalRaised()) {
        interrupted = true;
        break;
      }
      for (size_t c = 0; c < names.size(); ++c)
        record.cells[c] = columns[c]->Cell(row, scratch[c]);
      row_notes.clear();
      const bool in = in_scope.Admit(record, names, &row_notes);
      // The expression's notes name its own fields.
      if (!row_notes.empty())
        CountNotes(*in_scope.where_feeder(), row_notes,
                   "row " + std::to_string(row), notes);
      if (!in) continue;
      row_notes.clear();
      hunter.Match(record, names, matched, &row_notes);
      if (filter) filter->Apply(record, names, matched);
      for (uint32_t r : matched) {
        if (!Correlated(record, names, r, "", row + 1)) continue;
        hit_rows.push_back(static_cast<int64_t>(row));
        hit_rules.push_back(r);
      }
      if (!row_notes.empty())
        CountNotes(hunter.feeder(), row_notes, "row " + std::to_string(row),
                   notes);
    }
    left = in_scope.left();
  }
  if (interrupted) throw py::error_already_set();  // KeyboardInterrupt
  py::list note_list = NoteList(notes);
  auto as_array = [](const std::vector<int64_t>& v) {
    py::array_t<int64_t> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
  };
  return py::make_tuple(as_array(hit_rows), as_array(hit_rules), note_list,
                        LeftDict(left));
}

eventquery::sigma::HuntScope SigmaRules::Scope(const ScopeTexts& texts) const {
  const auto& [since, until, where] = texts;
  eventquery::sigma::HuntScope scope;
  scope.window.emplace(since, until, zone_);
  if (!where.empty()) {
    eventquery::WhereOptions options;
    options.utc = zone_ == eventquery::Zone::kUtc;
    scope.where = eventquery::CompileWhere(where, options).lines;
  }
  scope.filters = filters_.get();
  return scope;
}

py::dict SigmaRules::HuntFile(const std::string& path,
                              const std::string& format,
                              const std::optional<PieceTuple>& piece,
                              const std::string& encoding,
                              const std::string& product,
                              const ScopeTexts& scope_texts) {
  const eventquery::sigma::HuntScope scope = Scope(scope_texts);
  std::unique_ptr<eventquery::Input> input =
      OpenInput(path, format, piece, encoding);
  Reports reports;
  FileDetections found(
      input->name(),
      [this](const eventquery::Record& record,
             const std::vector<std::string>& columns, uint32_t rule,
             std::string_view name, uint64_t record_id) {
        return Correlated(record, columns, rule, name, record_id);
      });
  eventquery::ScanResult result;
  eventquery::sigma::ScopeCounts left;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    eventquery::sigma::HuntScan scan(*set_, zone_, false, product, found,
                                     scope);
    eventquery::ScanOptions options;
    if (piece) options.line_offset = std::get<4>(*piece) - std::get<1>(*piece);
    result = eventquery::ScanInput(*input, scan, reports, options);
    left = scan.left();
  }
  if (found.interrupted()) throw py::error_already_set();  // KeyboardInterrupt
  ThrowIfOutOfMemory(result);
  if (!reports.failure().empty()) throw ReadError(reports.failure());
  if (!found.failure().empty()) throw ReadError(found.failure());
  py::dict out;
  out["detections"] = found.List();
  out["reports"] = reports.List();
  out["notes"] = NoteList(found.notes());
  out["left"] = LeftDict(left);
  return out;
}

bool SigmaRules::Correlated(const eventquery::Record& record,
                            const std::vector<std::string>& columns,
                            uint32_t rule, std::string_view input,
                            uint64_t record_id) {
  if (correlator_ == nullptr) return true;
  if (correlator_->Named(rule) && !correlations_full_ &&
      !correlator_->Add(record, columns, rule, input, record_id))
    correlations_full_ = true;
  return correlator_->Generates(rule);
}

py::list SigmaRules::Correlations() const {
  py::list out;
  for (const auto& c : correlations_) {
    py::dict d = Meta(c.meta);
    d["type"] = eventquery::sigma::CorrelationTypeName(c.type);
    d["rules"] = c.rules;
    d["group_by"] = c.group_by;
    d["timespan_seconds"] = c.timespan_ns / 1'000'000'000;
    d["at_least"] = c.at_least;
    d["generate"] = c.generate;
    out.append(d);
  }
  return out;
}

std::vector<std::string> SigmaRules::CorrelationProblems() const {
  std::vector<eventquery::sigma::RejectedRule> rejected;
  const eventquery::sigma::Correlator check(correlations_, *set_, rejected,
                                            kCorrelationBytes, zone_);
  std::vector<std::string> out;
  for (const auto& c : correlations_) {
    std::string why;
    for (const auto& r : rejected)
      if (r.meta.file == c.meta.file && r.meta.document == c.meta.document)
        why = r.reason;
    out.push_back(why);
  }
  return out;
}

std::vector<std::string> SigmaRules::BeginCorrelations(
    const std::vector<bool>& chosen) {
  py::gil_scoped_release release;
  std::lock_guard<std::mutex> lock(mutex_);
  correlator_.reset();
  correlations_full_ = false;
  std::vector<std::string> notes;
  if (correlations_.empty()) return notes;
  std::vector<eventquery::sigma::RejectedRule> rejected;
  correlator_ = std::make_unique<eventquery::sigma::Correlator>(
      correlations_, *set_, rejected, kCorrelationBytes, zone_, &chosen);
  for (const auto& r : rejected)
    notes.push_back(r.meta.file + " (" + r.meta.id + "): " + r.reason);
  return notes;
}

py::dict SigmaRules::Correlate() {
  std::unique_ptr<eventquery::sigma::Correlator> correlator;
  std::vector<eventquery::sigma::Correlator::Found> found;
  bool full = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(mutex_);
    correlator = std::move(correlator_);
    full = correlations_full_;
    if (correlator != nullptr && !full) found = correlator->Run();
  }
  py::dict out;
  out["without_time"] = correlator ? correlator->without_time() : 0;
  py::list list;
  if (full) {
    const std::string why =
        "the detections correlation rules name need more than " +
        std::to_string(kCorrelationBytes >> 20) +
        " MiB: no correlation was decided";
    PyErr_SetString(PyExc_MemoryError, why.c_str());
    throw py::error_already_set();
  }
  for (const auto& f : found) {
    const auto& c = correlator->correlations()[f.correlation];
    py::dict d = Meta(c.meta);
    d["type"] = eventquery::sigma::CorrelationTypeName(c.type);
    py::dict group;
    for (const auto& [field, value] : f.group)
      group[Str(field)] = CellStr(value);
    d["group"] = group;
    d["timestamp"] = CellStr(f.events.back().time);
    py::list events;
    for (const auto& e : f.events) {
      py::dict event;
      event["rule_id"] = set_->rules()[e.rule].meta.id;
      event["input"] =
          e.input.empty() ? py::object(py::none()) : py::object(Str(e.input));
      event["record_id"] = e.record_id;
      event["timestamp"] = CellStr(e.time);
      events.append(event);
    }
    d["events"] = events;
    list.append(d);
  }
  out["found"] = list;
  py::list run;
  if (correlator != nullptr)
    for (const auto& c : correlator->correlations()) run.append(c.meta.id);
  out["run"] = run;
  return out;
}

}  // namespace fmpython
