#include "records/FieldColumns.h"

#include <algorithm>

#include "common/Ascii.h"

namespace eventquery {

namespace {

// `column` is `name` with spaces in it, ignoring ASCII case.
bool EqualsWithoutSpaces(std::string_view column, std::string_view name) {
  size_t i = 0;
  for (const char c : column) {
    if (c == ' ') continue;
    if (i == name.size() ||
        common::AsciiLower(c) != common::AsciiLower(name[i]))
      return false;
    ++i;
  }
  return i == name.size();
}

// The name to suggest for `name`: a path whose last step is the name
// (Event.System.EventID for EventID), else the nearest by edit distance,
// leaving out columns that only hold objects the paths reach into (Event).
std::string Closest(const std::string& name,
                    const std::vector<std::string>& columns,
                    const std::vector<std::string>& hints) {
  for (const auto* list : {&hints, &columns})
    for (const std::string& c : *list) {
      const size_t dot = c.rfind('.');
      if (dot != std::string::npos &&
          common::EqualsNoCase(std::string_view(c).substr(dot + 1), name))
        return c;
    }
  auto container = [&hints](const std::string& column) {
    for (const std::string& h : hints)
      if (h.size() > column.size() && h[column.size()] == '.' &&
          common::EqualsNoCase(std::string_view(h).substr(0, column.size()),
                               column))
        return true;
    return false;
  };
  std::string closest;
  size_t best = SIZE_MAX;
  for (const auto* list : {&columns, &hints})
    for (const std::string& c : *list) {
      if (list == &columns && container(c)) continue;
      const size_t d = common::EditDistance(name, c);
      if (d < best) {
        best = d;
        closest = c;
      }
    }
  return closest;
}

}  // namespace

int64_t FindColumn(const std::vector<std::string>& columns,
                   std::string_view name, bool spaceless) {
  for (size_t c = 0; c < columns.size(); ++c)
    if (columns[c] == name) return static_cast<int64_t>(c);
  for (size_t c = 0; c < columns.size(); ++c)
    if (common::EqualsNoCase(columns[c], name)) return static_cast<int64_t>(c);
  if (spaceless && name.find(' ') == std::string_view::npos)
    for (size_t c = 0; c < columns.size(); ++c)
      if (EqualsWithoutSpaces(columns[c], name)) return static_cast<int64_t>(c);
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
    missing.emplace_back(name, Closest(name, columns, hints));
  }
  return missing;
}

void FieldColumns::Reset() {
  columns_.assign(names_.size(), -1);
  resolved_ = 0;
  clashes_.clear();
}

void FieldColumns::Forget(const std::vector<std::string>& names) {
  for (size_t i = 0; i < names_.size(); ++i)
    if (std::find(names.begin(), names.end(), names_[i]) != names.end())
      columns_[i] = -1;
}

void FieldColumns::Resolve(const std::vector<std::string>& columns) {
  // Columns only grow within an input.
  if (columns.size() <= resolved_) return;
  for (size_t i = 0; i < names_.size(); ++i) {
    if (columns_[i] < 0) {
      columns_[i] = FindColumn(columns, names_[i], spaceless_);
      if (columns_[i] < 0) continue;
    }
    // The columns new since the last look that name the field too; beside
    // a column of the exact name they are other fields.
    const size_t taken = static_cast<size_t>(columns_[i]);
    if (columns[taken] == names_[i]) continue;
    for (size_t c = resolved_; c < columns.size(); ++c)
      if (c != taken && common::EqualsNoCase(columns[c], names_[i]))
        clashes_.push_back({names_[i], columns[taken], columns[c]});
  }
  resolved_ = columns.size();
}

std::optional<std::string_view> FieldColumns::Cell(
    const Record& record, const std::vector<std::string>& columns, size_t i) {
  const int64_t c = Column(columns, i);
  if (c < 0 || static_cast<size_t>(c) >= record.cells.size())
    return std::nullopt;
  return record.cells[static_cast<size_t>(c)];
}

int64_t FieldColumns::Column(const std::vector<std::string>& columns,
                             size_t i) {
  Resolve(columns);
  return columns_[i];
}

}  // namespace eventquery
