#include "GroupCounts.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "Reporter.h"
#include "records/Formats.h"
#include "records/JsonCells.h"

namespace evfilter {

using eventquery::Format;

void GroupCounts::Add(const eventquery::Record& record,
                      const std::vector<std::string>& columns) {
  key_.clear();
  for (size_t i = 0; i < columns_.names().size(); ++i) {
    const std::optional<std::string_view> cell =
        columns_.Cell(record, columns, i);
    if (!cell) {
      key_.push_back('-');
      continue;
    }
    key_.push_back('+');
    key_.append(std::to_string(cell->size()));
    key_.push_back(':');
    key_.append(*cell);
  }
  auto found = groups_.find(key_);
  if (found == groups_.end()) {
    if (groups_.size() >= max_groups_)
      throw FatalError("--count-by: more than " + std::to_string(max_groups_) +
                       " distinct values; nothing was written (raise "
                       "--max-groups, or count by fewer fields)");
    const uint64_t rank = groups_.size();
    found = groups_.emplace(key_, Group{0, rank}).first;
  }
  ++found->second.count;
}

namespace {

// The values a key holds (see GroupCounts::groups_).
std::vector<std::optional<std::string_view>> Values(std::string_view key) {
  std::vector<std::optional<std::string_view>> values;
  while (!key.empty()) {
    if (key[0] == '-') {
      values.emplace_back();
      key.remove_prefix(1);
      continue;
    }
    const size_t colon = key.find(':');
    const size_t size = std::stoull(std::string(key.substr(1, colon - 1)));
    values.emplace_back(key.substr(colon + 1, size));
    key.remove_prefix(colon + 1 + size);
  }
  return values;
}

}  // namespace

std::string GroupCounts::Render(Format format, uint64_t limit) const {
  const std::vector<std::string>& fields = columns_.names();
  std::vector<const std::pair<const std::string, Group>*> order;
  order.reserve(groups_.size());
  for (const auto& group : groups_) order.push_back(&group);
  std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) {
    if (a->second.count != b->second.count)
      return a->second.count > b->second.count;
    return a->second.first < b->second.first;
  });
  if (limit != 0 && order.size() > limit) order.resize(limit);
  std::string out;
  const eventquery::FormatTraits& traits = eventquery::FormatTraitsOf(format);
  const bool json = traits.json_object;
  const char separator = traits.separator;
  auto cell = [&](std::string_view text) { out += traits.field(text); };
  if (!json) {
    for (const std::string& field : fields) {
      cell(field);
      out.push_back(separator);
    }
    out += "count\n";
  }
  for (const auto* group : order) {
    const auto values = Values(group->first);
    if (json) out.push_back('{');
    for (size_t i = 0; i < fields.size(); ++i) {
      if (json) {
        eventquery::AppendJsonString(out, fields[i]);
        out.push_back(':');
        if (values[i])
          eventquery::AppendJsonString(out, *values[i]);
        else
          out += "null";
        out.push_back(',');
      } else {
        if (values[i]) cell(*values[i]);
        out.push_back(separator);
      }
    }
    if (json) out += "\"count\":";
    out += std::to_string(group->second.count);
    out += json ? "}\n" : "\n";
  }
  return out;
}

}  // namespace evfilter
