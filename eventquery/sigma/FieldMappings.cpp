#include "FieldMappings.h"

#include <algorithm>

#include "common/Ascii.h"
#include "records/FieldColumns.h"
#include "sigma/HuntScan.h"

namespace eventquery::sigma {
namespace {

using F = MappedField;

const std::vector<FieldMapping> kMappings = {
    {"process_creation",
     "Security",
     4688,
     "Security 4688",
     {
         {"Image", F::kSame, "NewProcessName"},
         {"ParentImage", F::kSame, "ParentProcessName"},
         {"CommandLine", F::kSame, "CommandLine"},
         {"User", F::kUser, "SubjectDomainName", "SubjectUserName"},
         {"IntegrityLevel", F::kIntegrity, "MandatoryLabel"},
         {"ProcessId", F::kHexNumber, "NewProcessId"},
         {"ParentProcessId", F::kHexNumber, "ProcessId"},
     }},
    {"network_connection",
     "Security",
     5156,
     "Security 5156",
     {
         // The kernel's device path
         // (\device\harddiskvolume3\windows\system32\svchost.exe): a
         // rule's endswith and contains find it, a drive letter never does.
         {"Image", F::kSame, "Application"},
         {"ProcessId", F::kSame, "ProcessID"},
         {"Initiated", F::kInitiated, "Direction"},
         {"Protocol", F::kProtocol, "Protocol"},
         {"SourceIp", F::kSame, "SourceAddress"},
         {"SourcePort", F::kSame, "SourcePort"},
         {"DestinationIp", F::kSame, "DestAddress"},
         {"DestinationPort", F::kSame, "DestPort"},
     }},
};

// Mandatory label SIDs as Sysmon names the levels.
std::optional<std::string_view> IntegrityLevel(std::string_view sid) {
  static constexpr std::pair<std::string_view, std::string_view> kLevels[] = {
      {"S-1-16-4096", "Low"},
      {"S-1-16-8192", "Medium"},
      {"S-1-16-12288", "High"},
      {"S-1-16-16384", "System"}};
  for (const auto& [s, level] : kLevels)
    if (common::EqualsNoCase(sid, s)) return level;
  return std::nullopt;
}

// "0x" and 1 to 16 hexadecimal digits, as decimal text.
bool HexToDecimal(std::string_view hex, std::string& out) {
  if (hex.size() < 3 || hex.size() > 18 || hex[0] != '0' ||
      (hex[1] != 'x' && hex[1] != 'X'))
    return false;
  uint64_t n = 0;
  for (char c : hex.substr(2)) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
    if (digit < 0) return false;
    n = n * 16 + static_cast<uint64_t>(digit);
  }
  out = std::to_string(n);
  return true;
}

// The derived value of `field` from its source cells, into `out`; false
// when the cells give none (a field missing, a value no table has).
bool DeriveValue(const MappedField& field, std::optional<std::string_view> from,
                 std::optional<std::string_view> also, std::string& out) {
  if (!from) return false;
  switch (field.kind) {
    case F::kSame:
      return false;
    case F::kUser:
      if (!also || also->empty()) return false;
      out.assign(*from);
      if (!out.empty()) out.push_back('\\');
      out.append(*also);
      return true;
    case F::kIntegrity:
      if (const auto level = IntegrityLevel(*from)) {
        out.assign(*level);
        return true;
      }
      return false;
    case F::kHexNumber:
      return HexToDecimal(*from, out);
    case F::kInitiated:
      if (*from == "%%14593" || common::EqualsNoCase(*from, "Outbound"))
        out = "true";
      else if (*from == "%%14592" || common::EqualsNoCase(*from, "Inbound"))
        out = "false";
      else
        return false;
      return true;
    case F::kProtocol:
      if (*from == "6")
        out = "tcp";
      else if (*from == "17")
        out = "udp";
      else
        return false;
      return true;
  }
  return false;
}

}  // namespace

std::vector<const FieldMapping*> MappingsOf(std::string_view category) {
  std::vector<const FieldMapping*> out;
  for (const FieldMapping& m : kMappings)
    if (category == m.category) out.push_back(&m);
  return out;
}

const std::vector<FieldMapping>& AllMappings() { return kMappings; }

std::string MappedName(const MappedField& field) {
  switch (field.kind) {
    case F::kSame:
      return field.from;
    case F::kUser:
      return std::string(field.from) + "\\" + field.also;
    case F::kIntegrity:
      return std::string(field.from) + " as level";
    case F::kHexNumber:
      return std::string(field.from) + " as decimal";
    case F::kInitiated:
      return std::string(field.from) + " as initiated";
    case F::kProtocol:
      return std::string(field.from) + " as name";
  }
  return field.from;
}

std::optional<std::string_view> RuleFieldCell(
    std::string_view category, const Record& record,
    const std::vector<std::string>& columns, std::string_view field,
    std::string& scratch) {
  const std::vector<const FieldMapping*> mappings = MappingsOf(category);
  if (!mappings.empty()) {
    const auto channel = CellNamed(record, columns, "Channel");
    const auto id = CellNamed(record, columns, "EventID");
    for (const FieldMapping* m : mappings) {
      if (!channel || !id || !common::EqualsNoCase(*channel, m->channel) ||
          *id != std::to_string(m->event_id))
        continue;
      for (const MappedField& f : m->fields) {
        if (!common::EqualsNoCase(field, f.rule_field)) continue;
        const auto from = CellNamed(record, columns, f.from);
        if (f.kind == F::kSame) return from;
        const auto also =
            f.also ? CellNamed(record, columns, f.also) : std::nullopt;
        if (!DeriveValue(f, from, also, scratch)) return std::nullopt;
        return scratch;
      }
    }
  }
  return CellNamed(record, columns, field);
}

FieldDeriver::FieldDeriver(std::vector<const FieldMapping*> mappings)
    : mappings_(std::move(mappings)) {
  for (size_t m = 0; m < mappings_.size(); ++m) {
    ids_.push_back(std::to_string(mappings_[m]->event_id));
    for (const MappedField& f : mappings_[m]->fields) {
      if (f.kind == F::kSame) continue;
      derived_.push_back({&f, m});
      names_.push_back(MappedName(f));
    }
  }
  text_.resize(derived_.size());
}

std::vector<std::string> FieldDeriver::sources() const {
  std::vector<std::string> out;
  if (active()) out = {"Channel", "EventID"};
  for (const Derived& d : derived_)
    for (const char* name : {d.field->from, d.field->also})
      if (name != nullptr &&
          std::find(out.begin(), out.end(), name) == out.end())
        out.push_back(name);
  return out;
}

const std::vector<std::string>& FieldDeriver::Columns(
    const std::vector<std::string>& columns) {
  moved_ = columns.size() != seen_ && seen_ != SIZE_MAX;
  if (columns.size() == seen_) return columns_;
  seen_ = columns.size();
  columns_ = columns;
  columns_.insert(columns_.end(), names_.begin(), names_.end());
  channel_ = FindColumn(columns, "Channel", true);
  event_id_ = FindColumn(columns, "EventID", true);
  for (Derived& d : derived_) {
    d.from = FindColumn(columns, d.field->from, true);
    d.also = d.field->also ? FindColumn(columns, d.field->also, true) : -1;
  }
  return columns_;
}

std::optional<std::string_view> FieldDeriver::Cell(const Record& record,
                                                   int64_t column) const {
  if (column < 0 || static_cast<size_t>(column) >= record.cells.size())
    return std::nullopt;
  return record.cells[static_cast<size_t>(column)];
}

const Record& FieldDeriver::Derive(const Record& record) {
  const auto channel = Cell(record, channel_);
  const auto id = Cell(record, event_id_);
  if (!channel || !id) return record;
  size_t mapping = 0;
  while (mapping < mappings_.size() &&
         !(*id == ids_[mapping] &&
           common::EqualsNoCase(*channel, mappings_[mapping]->channel)))
    ++mapping;
  if (mapping == mappings_.size()) return record;
  copy_ = record;
  const size_t own = columns_.size() - names_.size();
  copy_.cells.resize(columns_.size());
  for (size_t d = 0; d < derived_.size(); ++d) {
    std::optional<std::string_view>& cell = copy_.cells[own + d];
    cell.reset();
    if (derived_[d].mapping == mapping &&
        DeriveValue(*derived_[d].field, Cell(record, derived_[d].from),
                    Cell(record, derived_[d].also), text_[d]))
      cell = text_[d];
  }
  return copy_;
}

}  // namespace eventquery::sigma
