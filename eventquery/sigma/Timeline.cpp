#include "sigma/Timeline.h"

#include <algorithm>
#include <limits>

#include "common/Ascii.h"
#include "common/Utf8.h"
#include "records/FieldColumns.h"

namespace eventquery::sigma {

bool Timeline::Add(std::optional<int64_t> time, std::string_view line) {
  const size_t need = line.size() + sizeof(Entry);
  if (line.size() > std::numeric_limits<uint32_t>::max() ||
      need > max_bytes_ - std::min(bytes_, max_bytes_))
    return false;
  entries_.push_back({time.value_or(0), text_.size(),
                      static_cast<uint32_t>(line.size()), time.has_value()});
  text_.append(line);
  bytes_ += need;
  return true;
}

bool Timeline::Drain(const std::function<bool(std::string_view)>& write) {
  std::stable_sort(entries_.begin(), entries_.end(),
                   [](const Entry& a, const Entry& b) {
                     if (a.timed != b.timed) return a.timed;
                     return a.timed && a.time < b.time;
                   });
  bool ok = true;
  for (const Entry& e : entries_) {
    ok = write(std::string_view(text_).substr(e.at, e.size));
    if (!ok) break;
  }
  entries_.clear();
  text_.clear();
  bytes_ = 0;
  return ok;
}

namespace {

void AddFields(const std::vector<ConditionLine>& lines,
               std::vector<std::string>& names) {
  for (const ConditionLine& line : lines) {
    const std::string name = common::ToUtf8(line.field);
    if (common::EqualsNoCase(name, "Channel") ||
        common::EqualsNoCase(name, "EventID"))
      continue;
    if (std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  }
}

}  // namespace

std::string DetectionDetails(const CompiledRule& rule, const Record& record,
                             const std::vector<std::string>& columns) {
  std::vector<std::string> names;
  AddFields(rule.lines, names);
  for (const MappedForm& form : rule.mapped) AddFields(form.lines, names);
  std::string out;
  for (const std::string& name : names) {
    const int64_t c = FindColumn(columns, name, /*spaceless=*/true);
    if (c < 0 || static_cast<size_t>(c) >= record.cells.size() ||
        !record.cells[static_cast<size_t>(c)])
      continue;
    std::string_view value = *record.cells[static_cast<size_t>(c)];
    constexpr size_t kMost = 200;
    bool cut = false;
    if (value.size() > kMost) {
      size_t end = kMost;
      // Not inside a UTF-8 sequence.
      while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80)
        --end;
      value = value.substr(0, end);
      cut = true;
    }
    if (!out.empty()) out += "; ";
    out += columns[static_cast<size_t>(c)];
    out += "=";
    out.append(value);
    if (cut) out += "...";
  }
  return out;
}

}  // namespace eventquery::sigma
