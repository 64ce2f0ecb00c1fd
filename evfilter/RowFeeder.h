// Feeds the in-memory host's data row from input records: for every field
// the filter's conditions name, the cell of its column is read as the
// condition's field type needs (text, number, date, time).
//
// Fields are found by column name, exactly or else ignoring ASCII case. A
// cell that cannot be read as its condition needs makes the record
// unreadable: Feed reports which field and cell.

#ifndef EVFILTER_ROWFEEDER_H_
#define EVFILTER_ROWFEEDER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "evfilter/RecordReaders.h"
#include "memory_host/MemoryDataRow.h"
#include "memory_host/MemoryFilterLines.h"

namespace evfilter {

struct CellProblem {
  std::string field;
  std::string cell;
  std::string wanted;  // "a number", "a date", "a time"
  bool missing_column = false;
};

class RowFeeder {
 public:
  explicit RowFeeder(const std::vector<memhost::LineSpec>& lines);

  // Fills `row` from `record`; the first problem when a cell cannot be read.
  std::optional<CellProblem> Feed(const Record& record,
                                  const std::vector<std::string>& columns,
                                  memhost::MemoryDataRow& row);

  // The fields no column matches, with the closest column name (or "").
  std::vector<std::pair<std::string, std::string>> MissingFields(
      const std::vector<std::string>& columns) const;

 private:
  enum Need : uint8_t { kText = 1, kNumber = 2, kDate = 4, kTime = 8 };
  struct Field {
    std::string name;     // as the filter writes it (UTF-8)
    std::u16string wide;  // the same, as the module asks for it
    uint8_t needs = 0;
    int64_t column = -1;    // resolved column, or -1
    bool implicit = false;  // read on the module's behalf, not named
  };
  void Resolve(const std::vector<std::string>& columns);

  std::vector<Field> fields_;
  size_t resolved_columns_ = 0;
  std::u16string text_;
};

// Levenshtein distance ignoring ASCII case (for "did you mean").
size_t EditDistance(const std::string& a, const std::string& b);

}  // namespace evfilter

#endif  // EVFILTER_ROWFEEDER_H_
