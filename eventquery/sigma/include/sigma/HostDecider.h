// Deciding a rule's host checks (see SigmaRule.h) for one record: the
// fields they read are found by column name, exactly or else ignoring
// ASCII case, as the module's fields are.
//
//   re, whole, keyword   RE2 on the cell's text (linear time)
//   cidr                 the cell read as an IPv4 or IPv6 address
//   fieldref             the two cells equal, ignoring ASCII case unless
//                        cased
//   exists               the record has the field (null and empty count)
//   null                 the field is missing, null or empty
//   any value            the field has a value, the empty one too
//
// A check on the event's unnamed data (each_data) reads every column named
// Data or Data_<n>, and holds when one of their values does (null: when
// none has a value).
//
// Thread safety: one decider per thread; the checks are shared.

#ifndef SIGMA_HOSTDECIDER_H_
#define SIGMA_HOSTDECIDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "records/FieldColumns.h"
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
    bool each_data = false;
    std::vector<size_t> data_columns;  // Data, Data_2, ... (each_data)
  };
  size_t FieldIndex(const std::string& name, bool each_data);
  const std::optional<std::string_view>* Cell(size_t field,
                                              const Record& record) const;
  // The answer of slot `s`'s check on one cell (null when the record lacks
  // it).
  bool DecideCell(const Slot& s, const std::optional<std::string_view>* cell,
                  const Record& record) const;

  std::vector<Slot> slots_;
  std::vector<Field> fields_;
  FieldColumns named_;       // fields_ by name
  bool named_stale_ = true;  // a field was added since named_ was made
  size_t resolved_ = SIZE_MAX;
};

}  // namespace eventquery::sigma

#endif  // SIGMA_HOSTDECIDER_H_
