// Finding a field's column by name, as every front end does: the column
// named exactly so, else one whose name differs in ASCII case only. A
// field keeps the column it was first found in for the whole input (JSON
// keys appear as records are read). When that column matched in another
// case only, a further column of the name in yet another case is recorded
// as a clash, for the caller to report, since its values are not read for
// the field; beside a column of the exact name, the others are other
// fields.
//
// Thread safety: FindColumn and MissingNames are pure; a FieldColumns is
// used by one thread.

#ifndef RECORDS_FIELDCOLUMNS_H_
#define RECORDS_FIELDCOLUMNS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "records/Record.h"

namespace eventquery {

// The column of `name` among `columns`, or -1. With `spaceless`, when no
// column has the name in any ASCII case, one whose name equals it once its
// spaces are taken out (the Sigma rule format writes Defender's "Source
// Name" as SourceName). Costs O(columns).
int64_t FindColumn(const std::vector<std::string>& columns,
                   std::string_view name, bool spaceless = false);

// The `names` that no column matches (in any ASCII case), each with the
// closest of `columns` and `hints` (by edit distance; "" when there are
// none). Costs O(names x (columns + hints)) edit distances.
std::vector<std::pair<std::string, std::string>> MissingNames(
    const std::vector<std::string>& names,
    const std::vector<std::string>& columns,
    const std::vector<std::string>& hints = {});

// The cells of a fixed list of fields in the records of one input after
// another. Only columns new since the last record are looked at, so
// finding costs O(fields) per record and O(fields x columns) per input.
class FieldColumns {
 public:
  FieldColumns() = default;
  explicit FieldColumns(std::vector<std::string> names)
      : names_(std::move(names)), columns_(names_.size(), -1) {}

  // Forgets the columns found: the next input has columns of its own.
  void Reset();
  // Forgets the columns of the fields named `names` (columns a caller
  // moved), which are found anew when the columns grow.
  void Forget(const std::vector<std::string>& names);
  // Finds fields as FindColumn does with `spaceless` (for Sigma rules).
  void MatchWithoutSpaces() { spaceless_ = true; }
  // Field `i`'s cell in `record`, whose cells `columns` names; nothing
  // when the record lacks it (or holds null).
  std::optional<std::string_view> Cell(const Record& record,
                                       const std::vector<std::string>& columns,
                                       size_t i);
  // Looks at the columns new since the last call: every record's columns
  // should be seen, so that fields find the same columns wherever they
  // are looked up.
  void See(const std::vector<std::string>& columns) { Resolve(columns); }
  // Field `i`'s column among `columns` (so far), or -1.
  int64_t Column(const std::vector<std::string>& columns, size_t i);
  // Columns named like a field in another case after the field had its
  // column: (field, its column's name, the other name), in the order
  // found. Grows as columns appear; emptied by Reset.
  const std::vector<std::array<std::string, 3>>& clashes() const {
    return clashes_;
  }

  const std::vector<std::string>& names() const { return names_; }

 private:
  void Resolve(const std::vector<std::string>& columns);

  std::vector<std::string> names_;
  std::vector<int64_t> columns_;  // per field, or -1
  size_t resolved_ = 0;           // columns looked at so far
  bool spaceless_ = false;
  std::vector<std::array<std::string, 3>> clashes_;
};

}  // namespace eventquery

#endif  // RECORDS_FIELDCOLUMNS_H_
