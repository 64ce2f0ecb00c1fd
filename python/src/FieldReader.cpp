#include "FieldReader.h"

#include <stdexcept>

#include "common/Ascii.h"
#include "common/Utf8.h"

namespace fmpython {

FieldReader::FieldReader(const std::vector<eventquery::ConditionLine>& lines,
                         eventquery::Zone zone)
    : feeder_(lines, zone), names_(feeder_.field_names()) {
  const size_t n = names_.size();
  wide_.resize(n);
  conditions_.resize(n);
  number_only_.assign(n, true);
  auto index = [this](const std::u16string& wide) -> uint32_t {
    const std::string name = common::ToUtf8(wide);
    for (uint32_t f = 0; f < names_.size(); ++f)
      if (names_[f] == name) return f;
    throw std::logic_error("the feeder does not read field '" + name + "'");
  };
  for (uint32_t i = 0; i < lines.size(); ++i) {
    const eventquery::ConditionLine& line = lines[i];
    const uint32_t f = index(line.field);
    wide_[f] = line.field;
    conditions_[f].push_back(i);
    if (line.type != eventquery::kTypeNumeric) number_only_[f] = false;
    // The feeder reads EXT_TAGS as text for a text condition on
    // REL_EXT_TAGS (any type but numeric, date and time is text to it).
    if (line.type != eventquery::kTypeNumeric &&
        line.type != eventquery::kTypeDate &&
        line.type != eventquery::kTypeTime &&
        common::EqualsNoCase(common::ToUtf8(line.field), "REL_EXT_TAGS")) {
      const uint32_t tags = index(u"EXT_TAGS");
      wide_[tags] = u"EXT_TAGS";
      number_only_[tags] = false;
    }
  }
  record_.cells.resize(n);
}

void FieldReader::Read(uint32_t field, std::optional<std::string_view> cell) {
  for (auto& c : record_.cells) c.reset();
  record_.cells[field] = cell;
  notes_.clear();
  // The feeder's columns are its own field names, each found by itself.
  feeder_.Feed(record_, names_, row_, forced_, &notes_);
}

}  // namespace fmpython
