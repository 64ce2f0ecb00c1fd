// Deciding a rule's host checks (see SigmaRule.h) for one record: the
// fields they read are found by column name, exactly or else ignoring
// ASCII case, as the module's fields are.
//
//   re, cased, keyword   RE2 on the cell's text (linear time)
//   cidr                 the cell read as an IPv4 or IPv6 address
//   fieldref             the two cells equal, ignoring ASCII case unless
//                        cased
//   exists               the record has the field (null and empty count)
//   null                 the field is missing, null or empty
//   any value            the field has a value, the empty one too
//
// Thread safety: one decider per thread; the checks are shared.

#ifndef SIGMA_HOSTDECIDER_H_
#define SIGMA_HOSTDECIDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/Record.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {

class HostDecider {
 public:
  // Registers the fields that `checks` read; returns the first slot of
  // these checks (their slots follow in order).
  size_t Add(const std::vector<HostCheck>& checks);

  // Finds the fields among `columns` (again only when they grew).
  void Resolve(const std::vector<std::string>& columns);
  // Forgets the columns: the next input has its own.
  void ResetColumns();

  // The answer of check `slot` (as Add numbered it) for `record`.
  bool Decide(size_t slot, const Record& record) const;

 private:
  struct Slot {
    const HostCheck* check;
    size_t field, other;  // indexes into fields_
  };
  struct Field {
    std::string name;
    int64_t column = -1;
  };
  size_t FieldIndex(const std::string& name);
  const std::optional<std::string_view>* Cell(size_t field,
                                              const Record& record) const;

  std::vector<Slot> slots_;
  std::vector<Field> fields_;
  size_t resolved_ = SIZE_MAX;
};

}  // namespace eventquery::sigma

#endif  // SIGMA_HOSTDECIDER_H_
