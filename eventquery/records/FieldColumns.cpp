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
  columns_.assign(names_.size(), -1);
  resolved_ = SIZE_MAX;
}

void FieldColumns::Resolve(const std::vector<std::string>& columns) {
  if (columns.size() == resolved_) return;
  resolved_ = columns.size();
  for (size_t i = 0; i < names_.size(); ++i)
    if (columns_[i] < 0) columns_[i] = FindColumn(columns, names_[i]);
}

std::optional<std::string_view> FieldColumns::Cell(
    const Record& record, const std::vector<std::string>& columns, size_t i) {
  Resolve(columns);
  const int64_t column = columns_[i];
  if (column < 0 || static_cast<size_t>(column) >= record.cells.size())
    return std::nullopt;
  return record.cells[static_cast<size_t>(column)];
}

int64_t FieldColumns::Column(const std::vector<std::string>& columns,
                             size_t i) {
  Resolve(columns);
  return columns_[i];
}

}  // namespace eventquery
