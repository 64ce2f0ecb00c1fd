// Condition values as people write them, checked before the module sees
// them and handed over in the forms the module reads.
//
//   numeric  a decimal number: optional sign, digits, optional fraction
//            (for =, < and >; LIKE and CONTAINS take any text)
//   date     m/d/yyyy or yyyy-mm-dd, a real calendar day of the years 1970
//            to 9999; handed over as m/d/yyyy
//   time     h:mm or h:mm:ss, on a 24-hour clock, or with AM or PM (any
//            case) on a 12-hour one; handed over as h:mm:ss AM; the
//            seconds may have a fraction (12:30:15.5), kept in the line's
//            `nanoseconds` for =, < and >
//   period   TODAY, YESTERDAY, LAST 30 DAYS, THIS MONTH, LAST MONTH, only
//            with the period operator (IN) on a date field
//   text     anything
//   matches  a regular expression in RE2's syntax (on a text field)
// A value that does not fit its field's type is an error, never a
// condition that silently matches everything or nothing.

#ifndef QUERY_VALUEFORMS_H_
#define QUERY_VALUEFORMS_H_

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "query/ConditionLine.h"

namespace re2 {
class RE2;
}

namespace eventquery {

// A `matches` line's pattern compiled as every front end decides it: RE2,
// ignoring case unless the pattern says (?-i). Null, with `error` set to
// RE2's reason, when it is no regular expression. Costs linear time in
// the pattern; the result matches in time linear in the text.
std::shared_ptr<const re2::RE2> CompileMatches(const std::u16string& pattern,
                                               std::string* error);

// Checks the value of `line` against its field type and operator, and
// rewrites a date or time in the module's form. Returns what is wrong
// (a sentence without the place) when the value cannot be used.
std::optional<std::string> PrepareValue(ConditionLine& line);

// Shapes used to infer a field type from a value written without one.
bool LooksNumeric(std::string_view text);
// Digits followed by "/" or "-" and a digit: meant as a date.
bool LooksLikeDate(std::string_view text);
// Digits followed by ":" and a digit: meant as a time.
bool LooksLikeTime(std::string_view text);
// One of the named periods, any case.
bool IsPeriodKeyword(std::string_view text);
// A date and a time in one value: yyyy-mm-dd or m/d/yyyy, then a blank
// or "T", then a time ("2026-12-08 22:00", "2026-12-08T22:00:05",
// "12/8/2026 10:00 PM"). Gives the two parts, not yet checked.
bool SplitTimestamp(std::string_view text, std::string* date,
                    std::string* time);

// The seconds of the day of a time line's value as PrepareValue writes it
// (h:mm:ss AM or PM, which the module reads alike); nothing for a value of
// another form.
std::optional<int32_t> SecondsOfDay(std::string_view value);

// The order of two values of a field of `type` (numeric, date with an
// optional time, time): <0, 0 or >0; nothing when either is no value of
// the type. Numbers are compared as doubles, which never reverses two
// decimals.
std::optional<int> OrderOfValues(int32_t type, std::string_view a,
                                 std::string_view b);

// The accepted forms, for messages.
inline constexpr char kDateForms[] =
    "accepted forms: m/d/yyyy (12/7/2026) or yyyy-mm-dd (2026-12-07)";
inline constexpr char kTimeForms[] =
    "accepted forms: h:mm or h:mm:ss on a 24-hour clock, or with AM or PM "
    "(9:30 PM)";

}  // namespace eventquery

#endif  // QUERY_VALUEFORMS_H_
