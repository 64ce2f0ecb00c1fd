// Deciding host checks (HostCheck.h) for one record: the fields they read
// are found by column name, exactly or else ignoring ASCII case, as the
// module's fields are (and without spaces, when asked, as Sigma rules
// name fields).
//
//   regex, whole, keyword   RE2 on the cell's text (linear time in it)
//   cidr                    the cell read as an IPv4 or IPv6 address
//   fieldref                the two cells equal, ignoring ASCII case
//                           unless cased
//   exists                  the record has the field (null and empty count)
//   null                    the field is missing, null or empty
//   value                   the field has a value, the empty one too
//
// A check on the event's unnamed data (each_data) reads every column named
// Data or Data_<n>, and holds when one of their values does (null: when
// none has a value).
//
// Thread safety: one decider per thread.

#ifndef DECIDE_HOSTDECIDER_H_
#define DECIDE_HOSTDECIDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "decide/HostCheck.h"
#include "records/FieldColumns.h"
#include "records/Record.h"

namespace eventquery {

class HostDecider {
 public:
  // Fields are also found in a column whose name has spaces the field's
  // lacks when `without_spaces` (FieldColumns::MatchWithoutSpaces).
  explicit HostDecider(bool without_spaces = true)
      : without_spaces_(without_spaces) {}

  // As the constructor's `without_spaces`, before the first Resolve.
  void MatchWithoutSpaces() {
    without_spaces_ = true;
    named_stale_ = true;
  }

  // Keeps a copy of `checks` and registers the fields they read; returns
  // the first slot of these checks (their slots follow in order).
  size_t Add(const std::vector<HostCheck>& checks);

  // Finds the fields among `columns` (again only when they grew).
  void Resolve(const std::vector<std::string>& columns);
  // Forgets the columns: the next input has its own.
  void ResetColumns();
  // Forgets the columns of the fields named `names` alone.
  void ForgetColumns(const std::vector<std::string>& names);

  // The answer of check `slot` (as Add numbered it) for `record`.
  bool Decide(size_t slot, const Record& record) const;

 private:
  struct Slot {
    HostCheck check;
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

  bool without_spaces_;
  std::vector<Slot> slots_;
  std::vector<Field> fields_;
  FieldColumns named_;       // fields_ by name
  bool named_stale_ = true;  // a field was added since named_ was made
  size_t resolved_ = SIZE_MAX;
};

}  // namespace eventquery

#endif  // DECIDE_HOSTDECIDER_H_
