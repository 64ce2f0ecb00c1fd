#include "records/FieldColumns.h"

#include "common/Ascii.h"

namespace eventquery {

int64_t FindColumn(const std::vector<std::string>& columns,
                   std::string_view name) {
  for (size_t c = 0; c < columns.size(); ++c)
    if (columns[c] == name) return static_cast<int64_t>(c);
  for (size_t c = 0; c < columns.size(); ++c)
    if (common::EqualsNoCase(columns[c], name)) return static_cast<int64_t>(c);
  return -1;
}

std::vector<std::pair<std::string, std::string>> MissingNames(
    const std::vector<std::string>& names,
    const std::vector<std::string>& columns,
    const std::vector<std::string>& hints) {
  std::vector<std::pair<std::string, std::string>> missing;
  for (const std::string& name : names) {
    bool found = false;
    for (const std::string& c : columns)
      found = found || common::EqualsNoCase(c, name);
    if (found) continue;
    std::string closest;
    size_t best = SIZE_MAX;
    for (const auto* list : {&columns, &hints})
      for (const std::string& c : *list) {
        const size_t d = common::EditDistance(name, c);
        if (d < best) {
          best = d;
          closest = c;
        }
      }
    missing.emplace_back(name, closest);
  }
  return missing;
}

void FieldColumns::Reset() {
  for (auto& c : exact_) c.clear();
  for (auto& c : other_) c.clear();
  resolved_ = 0;
}

void FieldColumns::Resolve(const std::vector<std::string>& columns) {
  // Columns only grow within an input.
  if (columns.size() <= resolved_) return;
  for (size_t c = resolved_; c < columns.size(); ++c)
    for (size_t i = 0; i < names_.size(); ++i) {
      if (columns[c] == names_[i])
        exact_[i].push_back(static_cast<uint32_t>(c));
      else if (common::EqualsNoCase(columns[c], names_[i]))
        other_[i].push_back(static_cast<uint32_t>(c));
    }
  resolved_ = columns.size();
}

namespace {

// True when `record` names column `c`, with a value or null: a CSV row
// that reaches it, a JSON object that has the key.
bool Names(const Record& record, uint32_t c) {
  if (c >= record.cells.size()) return false;
  if (record.cells[c] || record.keys.empty()) return true;
  for (const uint32_t k : record.keys)
    if (k == c) return true;
  return false;
}

}  // namespace

int64_t FieldColumns::ColumnIn(const Record& record,
                               const std::vector<std::string>& columns,
                               size_t i) {
  Resolve(columns);
  // Most fields have one candidate, and nothing to choose.
  if (exact_[i].size() + other_[i].size() == 1)
    return exact_[i].empty() ? other_[i][0] : exact_[i][0];
  for (const auto* list : {&exact_[i], &other_[i]})
    for (const uint32_t c : *list)
      if (Names(record, c)) return c;
  return Column(columns, i);
}

std::optional<std::string_view> FieldColumns::Cell(
    const Record& record, const std::vector<std::string>& columns, size_t i) {
  const int64_t c = ColumnIn(record, columns, i);
  if (c < 0 || static_cast<size_t>(c) >= record.cells.size())
    return std::nullopt;
  return record.cells[static_cast<size_t>(c)];
}

int64_t FieldColumns::Column(const std::vector<std::string>& columns,
                             size_t i) {
  Resolve(columns);
  if (!exact_[i].empty()) return exact_[i][0];
  if (!other_[i].empty()) return other_[i][0];
  return -1;
}

}  // namespace eventquery
