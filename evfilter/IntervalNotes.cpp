#include "evfilter/IntervalNotes.h"

#include <cstdint>
#include <set>

#include "evfilter/CellReaders.h"
#include "evfilter/Definition.h"
#include "textconv/Utf8.h"

namespace evfilter {

std::vector<std::string> IntervalNotes(
    const std::vector<memhost::LineSpec>& lines, const std::string& field,
    bool any_value) {
  std::vector<std::string> notes;
  bool numeric = false;
  std::set<std::string> other_types;
  std::vector<std::string> wide_values;
  for (const memhost::LineSpec& line : lines) {
    if (!EqualsNoCase(textconv::ToUtf8(line.field), field)) continue;
    if (line.type != 0) {
      other_types.insert(TypeName(line.type));
      continue;
    }
    numeric = true;
    const std::string value = textconv::ToUtf8(line.value);
    const auto real = ReadReal(value);
    if (real && (*real < INT32_MIN || *real > INT32_MAX))
      wide_values.push_back(value);
  }
  if (!any_value)
    notes.push_back("the filter allows no value of '" + field +
                    "': no row can match it");
  if (!numeric) {
    std::string why = other_types.empty() ? "no condition names it"
                                          : "its conditions compare it as ";
    for (auto it = other_types.begin(); it != other_types.end(); ++it)
      why += (it == other_types.begin() ? "" : " and ") + *it;
    notes.push_back("the filter does not compare '" + field +
                    "' as a number (" + why +
                    "), so its set is the whole range");
  }
  for (const std::string& v : wide_values)
    notes.push_back("the value " + v +
                    " lies outside 32 bits: the set covers 32-bit values "
                    "only");
  return notes;
}

}  // namespace evfilter
