#include "decide/HostDecider.h"

#include <arpa/inet.h>
#include <re2/re2.h>

#include <algorithm>
#include <cstring>

#include "common/Ascii.h"
#include "records/FieldColumns.h"

namespace eventquery {
namespace {

bool InNetwork(std::string_view cell, const IpNetwork& net) {
  // Addresses are short; anything longer is no address.
  char text[64];
  while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t'))
    cell.remove_prefix(1);
  while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\t'))
    cell.remove_suffix(1);
  if (cell.empty() || cell.size() >= sizeof text) return false;
  std::memcpy(text, cell.data(), cell.size());
  text[cell.size()] = '\0';
  uint8_t address[16];
  if (inet_pton(net.v6 ? AF_INET6 : AF_INET, text, address) != 1) return false;
  const int whole = net.prefix / 8, rest = net.prefix % 8;
  if (std::memcmp(address, net.address, static_cast<size_t>(whole)) != 0)
    return false;
  if (rest == 0) return true;
  const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
  return (address[whole] & mask) == (net.address[whole] & mask);
}

// "Data" or "Data_<n>", in any case: a value of an event's unnamed data.
bool IsDataColumn(std::string_view name) {
  if (name.size() < 4 || !common::EqualsNoCase(name.substr(0, 4), "Data"))
    return false;
  if (name.size() == 4) return true;
  if (name[4] != '_' || name.size() == 5) return false;
  for (const char c : name.substr(5))
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

size_t HostDecider::FieldIndex(const std::string& name, bool each_data) {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (fields_[i].name == name && fields_[i].each_data == each_data) return i;
  fields_.push_back({name, -1, each_data, {}});
  named_stale_ = true;
  return fields_.size() - 1;
}

size_t HostDecider::Add(const std::vector<HostCheck>& checks) {
  const size_t first = slots_.size();
  for (const HostCheck& c : checks)
    slots_.push_back(
        {c, c.field.empty() ? SIZE_MAX : FieldIndex(c.field, c.each_data),
         c.other.empty() ? SIZE_MAX : FieldIndex(c.other, false)});
  resolved_ = SIZE_MAX;
  return first;
}

void HostDecider::ResetColumns() {
  for (Field& f : fields_) {
    f.column = -1;
    f.data_columns.clear();
  }
  named_.Reset();
  resolved_ = SIZE_MAX;
}

void HostDecider::ForgetColumns(const std::vector<std::string>& names) {
  named_.Forget(names);
  resolved_ = SIZE_MAX;
}

void HostDecider::Resolve(const std::vector<std::string>& columns) {
  if (columns.size() == resolved_) return;
  resolved_ = columns.size();
  if (named_stale_) {
    // Fields are found as the module's are (FieldColumns), each in the
    // column it was first found in.
    std::vector<std::string> names;
    for (const Field& f : fields_) names.push_back(f.name);
    named_ = FieldColumns(std::move(names));
    if (without_spaces_) named_.MatchWithoutSpaces();
    named_stale_ = false;
  }
  named_.See(columns);
  for (size_t i = 0; i < fields_.size(); ++i) {
    Field& f = fields_[i];
    if (f.each_data) {
      f.data_columns.clear();
      for (size_t c = 0; c < columns.size(); ++c)
        if (IsDataColumn(columns[c])) f.data_columns.push_back(c);
      continue;
    }
    f.column = named_.Column(columns, i);
  }
}

const std::optional<std::string_view>* HostDecider::Cell(
    size_t field, const Record& record) const {
  const int64_t column = fields_[field].column;
  if (column < 0 || static_cast<size_t>(column) >= record.cells.size())
    return nullptr;
  return &record.cells[static_cast<size_t>(column)];
}

bool HostDecider::Decide(size_t slot, const Record& record) const {
  const Slot& s = slots_[slot];
  const HostCheck& c = s.check;
  if (c.kind == HostCheck::kConstant) return c.wanted;
  if (c.kind == HostCheck::kKeyword) {
    for (const std::optional<std::string_view>& cell : record.cells)
      if (cell && RE2::PartialMatch(*cell, *c.regex)) return true;
    return false;
  }
  if (!c.each_data) return DecideCell(s, Cell(s.field, record), record);
  // One value of the unnamed data decides; null wants none.
  const std::vector<size_t>& columns = fields_[s.field].data_columns;
  if (c.kind == HostCheck::kNull) {
    for (const size_t column : columns)
      if (column < record.cells.size() &&
          !DecideCell(s, &record.cells[column], record))
        return false;
    return true;
  }
  if (c.kind == HostCheck::kExists) {
    bool present = false;
    for (const size_t column : columns)
      present = present || (column < record.cells.size() &&
                            record.cells[column].has_value());
    return present == c.wanted;
  }
  for (const size_t column : columns)
    if (column < record.cells.size() &&
        DecideCell(s, &record.cells[column], record))
      return true;
  return false;
}

bool HostDecider::DecideCell(const Slot& s,
                             const std::optional<std::string_view>* cell,
                             const Record& record) const {
  const HostCheck& c = s.check;
  const bool has_value = cell != nullptr && cell->has_value();
  switch (c.kind) {
    case HostCheck::kRegex:
      if (!has_value)
        return c.absent_is_empty && RE2::PartialMatch("", *c.regex);
      return RE2::PartialMatch(**cell, *c.regex);
    case HostCheck::kWhole:
      return has_value && RE2::FullMatch(**cell, *c.regex);
    case HostCheck::kCidr:
      return has_value && InNetwork(**cell, c.network);
    case HostCheck::kFieldRef: {
      const std::optional<std::string_view>* other = Cell(s.other, record);
      if (!has_value || other == nullptr || !other->has_value()) return false;
      return c.cased ? **cell == **other
                     : common::EqualsNoCase(**cell, **other);
    }
    case HostCheck::kExists: {
      bool present = has_value;
      // A JSON key with null is there, only without a value.
      const int64_t column = fields_[s.field].column;
      if (!present && column >= 0)
        present = std::find(record.keys.begin(), record.keys.end(),
                            static_cast<uint32_t>(column)) != record.keys.end();
      return present == c.wanted;
    }
    case HostCheck::kNull:
      return !has_value || (*cell)->empty();
    case HostCheck::kValue:
      return has_value;
    case HostCheck::kKeyword:
    case HostCheck::kConstant:
      break;
  }
  return false;
}

}  // namespace eventquery
