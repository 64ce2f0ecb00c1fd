#include "query/IntervalNotes.h"

#include <charconv>
#include <cstdint>
#include <set>

#include "common/Ascii.h"
#include "common/Utf8.h"
#include "query/Definition.h"
#include "query/ValueForms.h"

namespace eventquery {
namespace {

// True for a number written as one whose value lies outside 32 bits.
bool OutsideInt32(std::string_view value) {
  if (!LooksNumeric(value)) return false;
  value.remove_prefix(value.find_first_not_of(" \t"));
  value.remove_suffix(value.size() - 1 - value.find_last_not_of(" \t"));
  if (value.front() == '+') value.remove_prefix(1);
  double real = 0;
  const auto r =
      std::from_chars(value.data(), value.data() + value.size(), real);
  return r.ec == std::errc() && (real < INT32_MIN || real > INT32_MAX);
}

}  // namespace

std::vector<std::string> IntervalNotes(const std::vector<ConditionLine>& lines,
                                       const std::string& field,
                                       bool any_value) {
  std::vector<std::string> notes;
  bool numeric = false;
  std::set<std::string> other_types;
  std::vector<std::string> wide_values;
  for (const ConditionLine& line : lines) {
    if (!common::EqualsNoCase(common::ToUtf8(line.field), field)) continue;
    if (line.type != kTypeNumeric) {
      other_types.insert(TypeName(line.type));
      continue;
    }
    numeric = true;
    const std::string value = common::ToUtf8(line.value);
    if (OutsideInt32(value)) wide_values.push_back(value);
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

}  // namespace eventquery
