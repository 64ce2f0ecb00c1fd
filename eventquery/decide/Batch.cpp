#include "decide/Batch.h"

#include <functional>
#include <optional>

#include "records/CsvCells.h"

namespace eventquery {

void Decide(RecordMatcher& matcher, const Record& record,
            const std::vector<std::string>& columns, Decision& d) {
  d.notes.clear();
  d.failure.clear();
  d.cells = static_cast<uint32_t>(record.cells.size());
  try {
    d.outcome = matcher.Match(record, columns, &d.notes) ? Outcome::kMatch
                                                         : Outcome::kNoMatch;
  } catch (const std::exception& e) {
    d.outcome = Outcome::kFailed;
    d.failure = e.what();
  }
}

void Batch::Clear() {
  arena_.clear();
  entries_.clear();
  cells_.clear();
  keys_.clear();
  nested_.clear();
  columns.clear();
  decisions_.clear();
  decided = false;
  error = nullptr;
}

void Batch::Add(const Record& r, uint64_t id) {
  Entry e{arena_.size(),
          r.raw.size(),
          cells_.size(),
          0,
          keys_.size(),
          0,
          nested_.size(),
          0,
          0,
          r.where.size(),
          r.terminator,
          r.line,
          id,
          r.problem,
          r.fatal};
  arena_.append(r.raw);
  e.where_begin = arena_.size();
  arena_.append(r.where);
  const std::less_equal<const char*> before;
  const char* raw_end = r.raw.data() + r.raw.size();
  for (const auto& cell : r.cells) {
    if (!cell) {
      cells_.emplace_back(std::string::npos, 0);
      continue;
    }
    // Most cells are part of the raw text (unquoted CSV, JSON without
    // escapes, an event's JSON): they point into its copy.
    if (!r.raw.empty() && before(r.raw.data(), cell->data()) &&
        before(cell->data() + cell->size(), raw_end)) {
      cells_.emplace_back(
          e.raw_begin + static_cast<size_t>(cell->data() - r.raw.data()),
          cell->size());
      continue;
    }
    cells_.emplace_back(arena_.size(), cell->size());
    arena_.append(*cell);
  }
  e.cells_end = cells_.size();
  keys_.insert(keys_.end(), r.keys.begin(), r.keys.end());
  e.keys_end = keys_.size();
  nested_.insert(nested_.end(), r.nested.begin(), r.nested.end());
  e.nested_end = nested_.size();
  entries_.push_back(std::move(e));
}

void Batch::Get(size_t i, Record& r, std::string& scratch,
                bool with_cells) const {
  const Entry& e = entries_[i];
  r.raw = std::string_view(arena_).substr(e.raw_begin, e.raw_size);
  r.terminator = e.terminator;
  r.line = e.line;
  r.problem = e.problem;
  r.fatal = e.fatal;
  r.where = std::string_view(arena_).substr(e.where_begin, e.where_size);
  r.keys.assign(keys_.begin() + static_cast<ptrdiff_t>(e.keys_begin),
                keys_.begin() + static_cast<ptrdiff_t>(e.keys_end));
  r.nested.assign(nested_.begin() + static_cast<ptrdiff_t>(e.nested_begin),
                  nested_.begin() + static_cast<ptrdiff_t>(e.nested_end));
  if (split_later) {
    if (e.problem.empty() && with_cells)
      SplitCsv(r.raw, scratch, r.cells);
    else
      r.cells.clear();
    return;
  }
  r.cells.clear();
  for (size_t c = e.cells_begin; c < e.cells_end; ++c)
    r.cells.push_back(cells_[c].first == std::string::npos
                          ? std::nullopt
                          : std::optional(std::string_view(arena_).substr(
                                cells_[c].first, cells_[c].second)));
}

void Batch::DecideAll(BatchDecider& decider) {
  Record r;
  std::string scratch;
  decisions_.resize(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) {
    Get(i, r, scratch);
    decider.Decide(r, columns, decisions_[i]);
  }
}

}  // namespace eventquery
