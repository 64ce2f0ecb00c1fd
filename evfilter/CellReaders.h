// Reading typed values out of input cells (UTF-8 text).
//
//   integer  optional blanks and sign, digits, fitting in 32 bits
//   real     a decimal or scientific number (strtod's form, finite)
//   date     yyyy-mm-dd, an ISO 8601 timestamp (yyyy-mm-ddThh:mm[:ss]...),
//            or m/d/yyyy; the year must fit in 16 bits
//   time     hh:mm[:ss] on a 24-hour clock, optionally followed by AM/PM,
//            or the time part of an ISO 8601 timestamp
// Each returns nothing for a cell it cannot read. No allocation.

#ifndef EVFILTER_CELLREADERS_H_
#define EVFILTER_CELLREADERS_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "filtermodule/FilterModule.h"

namespace evfilter {

std::optional<int32_t> ReadInteger(std::string_view cell);
std::optional<double> ReadReal(std::string_view cell);
std::optional<RowDate> ReadDate(std::string_view cell);
std::optional<RowTime> ReadTime(std::string_view cell);

// Equality ignoring ASCII case (field names, keywords).
bool EqualsNoCase(std::string_view a, std::string_view b);

// Cell forms used to infer a condition's field type from its value.
bool LooksNumeric(std::string_view text);
bool LooksDate(std::string_view text);  // m/d/yyyy
bool LooksTime(std::string_view text);  // h:mm[:ss] [AM|PM]

}  // namespace evfilter

#endif  // EVFILTER_CELLREADERS_H_
