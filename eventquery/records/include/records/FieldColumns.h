// Finding a field's column by name, as every front end does: the column
// named exactly so, else one whose name differs in ASCII case only. In
// JSON records, whose keys vary, a record's cell is that of the first such
// column the record names (with a value or null), exact names first:
// "User" in one object and "user" in the next are the same field.
//
// Thread safety: FindColumn is pure; a FieldColumns is used by one thread.

#ifndef RECORDS_FIELDCOLUMNS_H_
#define RECORDS_FIELDCOLUMNS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Record.h"

namespace eventquery {

// The column of `name` among `columns`, or -1. Costs O(columns).
int64_t FindColumn(const std::vector<std::string>& columns,
                   std::string_view name);

// The `names` that no column matches (in any ASCII case), each with the
// closest of `columns` and `hints` (by edit distance; "" when there are
// none). Costs O(names x (columns + hints)) edit distances.
std::vector<std::pair<std::string, std::string>> MissingNames(
    const std::vector<std::string>& names,
    const std::vector<std::string>& columns,
    const std::vector<std::string>& hints = {});

// The cells of a fixed list of fields in the records of one input after
// another. Only columns new since the last record are looked at (JSON keys
// appear as they are read), so finding costs O(fields) per record and
// O(fields x columns) per input.
class FieldColumns {
 public:
  FieldColumns() = default;
  explicit FieldColumns(std::vector<std::string> names)
      : names_(std::move(names)),
        exact_(names_.size()),
        other_(names_.size()) {}

  // Forgets the columns found: the next input has columns of its own.
  void Reset();
  // Field `i`'s cell in `record`, whose cells `columns` names; nothing
  // when the record lacks it (or holds null).
  std::optional<std::string_view> Cell(const Record& record,
                                       const std::vector<std::string>& columns,
                                       size_t i);
  // The column Cell takes field `i` from in `record`: the first candidate
  // the record names, else the first candidate, else -1.
  int64_t ColumnIn(const Record& record,
                   const std::vector<std::string>& columns, size_t i);
  // Field `i`'s first candidate column among `columns` (so far), or -1.
  int64_t Column(const std::vector<std::string>& columns, size_t i);

  const std::vector<std::string>& names() const { return names_; }

 private:
  void Resolve(const std::vector<std::string>& columns);

  std::vector<std::string> names_;
  // Per field: the columns named exactly so, and those in another case.
  std::vector<std::vector<uint32_t>> exact_, other_;
  size_t resolved_ = 0;  // columns looked at so far
};

}  // namespace eventquery

#endif  // RECORDS_FIELDCOLUMNS_H_
