#include "SigmaRules.h"

#include <pybind11/stl.h>

#include <algorithm>

#include "Interrupts.h"
#include "TextColumn.h"
#include "records/Record.h"

namespace py = pybind11;

namespace fmpython {
namespace {

py::dict Meta(const eventquery::sigma::RuleMeta& m) {
  py::dict d;
  d["file"] = m.file;
  d["document"] = m.document;
  d["id"] = m.id;
  d["title"] = m.title;
  d["level"] = m.level;
  d["status"] = m.status;
  d["product"] = m.product;
  return d;
}

}  // namespace

SigmaRules::SigmaRules(
    const std::vector<std::string>& paths,
    const std::optional<std::string>& text,
    const std::map<std::string, std::vector<std::string>>& placeholders,
    bool utc)
    : zone_(utc ? eventquery::Zone::kUtc : eventquery::Zone::kLocal) {
  eventquery::sigma::CompileOptions options;
  options.placeholders = placeholders;
  eventquery::sigma::RuleLoad load =
      text ? eventquery::sigma::CompileRules(*text, "<text>", options)
           : eventquery::sigma::LoadRules(paths, options);
  rejected_ = std::move(load.rejected);
  // Folder entries named as rule files that are none: said as rules that
  // did not load.
  for (const std::string& skipped : load.skipped) {
    eventquery::sigma::RejectedRule r;
    const size_t colon = skipped.rfind(": ");
    r.meta.file = skipped.substr(0, colon);
    r.reason = "no rule file (" + skipped.substr(colon + 2) + "); skipped";
    rejected_.push_back(std::move(r));
  }
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
                           const std::string& product) {
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
  // Notes counted per field and what it wanted.
  std::map<std::pair<std::string, std::string>,
           std::tuple<uint64_t, uint64_t, std::string>>
      notes;
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
      hunter.Match(record, names, matched, &row_notes);
      for (uint32_t r : matched) {
        hit_rows.push_back(static_cast<int64_t>(row));
        hit_rules.push_back(r);
      }
      for (const auto& n : row_notes) {
        const std::string wanted =
            n.kind == eventquery::FeedNote::kNotUtf8 ? "UTF-8" : n.wanted;
        auto& [count, first_row, first_cell] =
            notes[{hunter.feeder().field_name(n.field), wanted}];
        if (count++ == 0) {
          first_row = row;
          first_cell = n.cell;
        }
      }
    }
  }
  if (interrupted) throw py::error_already_set();  // KeyboardInterrupt
  py::list note_list;
  for (const auto& [key, value] : notes)
    note_list.append(py::make_tuple(key.first, key.second, std::get<0>(value),
                                    std::get<1>(value), std::get<2>(value)));
  auto as_array = [](const std::vector<int64_t>& v) {
    py::array_t<int64_t> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
  };
  return py::make_tuple(as_array(hit_rows), as_array(hit_rules), note_list);
}

}  // namespace fmpython
