// A condition the host decides for each record, outside the module: a
// regular expression (an expression's MATCHES, Sigma's re), an address in
// a network, two fields compared, a field's presence. The line it stands
// for is forced to the answer before its NOT, and the module's tree still
// decides the filter. HostDecider decides them.
//
// Thread safety: plain data; the regular expression is RE2's, which may be
// shared by threads.

#ifndef DECIDE_HOSTCHECK_H_
#define DECIDE_HOSTCHECK_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace re2 {
class RE2;
}

namespace eventquery {

// An IP network of a cidr value.
struct IpNetwork {
  bool v6 = false;
  uint8_t address[16] = {};
  int prefix = 0;  // bits
};

struct HostCheck {
  enum Kind : uint8_t {
    kRegex,     // the field's text has a match (search, not anchored)
    kWhole,     // the whole text matches `regex` (cased: case counting)
    kCidr,      // the field holds an address in `network`
    kFieldRef,  // the field equals the field `other`
    kExists,    // the field is there (or, !wanted, is not)
    kNull,      // the field is missing, null or empty
    kValue,     // the field has a value (empty too)
    kKeyword,   // some field of the record has a match
    kConstant,  // `wanted`, whatever the record holds (no field)
  };
  Kind kind = kRegex;
  size_t line = 0;     // the condition line it decides
  std::string field;   // "" for a keyword
  std::string other;   // kFieldRef
  bool wanted = true;  // kExists, kConstant
  bool cased = false;  // kFieldRef
  // kRegex: a missing or null field is searched as empty text, as the
  // module sees a text field the row lacks (an expression's MATCHES);
  // otherwise the check is false there (Sigma's re).
  bool absent_is_empty = false;
  // The field is the event's unnamed data, Data, Data_2, Data_3, ...: the
  // check holds when one value does (null: when none has a value).
  bool each_data = false;
  std::shared_ptr<const re2::RE2> regex;  // kRegex, kWhole, kKeyword
  IpNetwork network;                      // kCidr
  std::string written;                    // as the rule writes it, for show
};

}  // namespace eventquery

#endif  // DECIDE_HOSTCHECK_H_
