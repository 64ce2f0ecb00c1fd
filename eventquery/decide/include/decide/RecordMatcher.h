// Decides one record at a time: feeds the in-memory row from the record's
// cells (RowFeeder), picks the filter variant in which the conditions the
// record cannot serve are decided before their NOT (FilterVariants) and
// asks the module. This is how every front end decides a record.
//
// Thread safety: a matcher is used by one thread at a time (the module's
// filters are); give each thread its own.

#ifndef DECIDE_RECORDMATCHER_H_
#define DECIDE_RECORDMATCHER_H_

#include <string>
#include <vector>

#include "decide/CellReaders.h"
#include "decide/FilterVariants.h"
#include "decide/RowFeeder.h"
#include "memory_host/MemoryDataRow.h"
#include "query/ConditionLine.h"
#include "records/Record.h"

namespace eventquery {

class RecordMatcher {
 public:
  // Builds the filter of `lines`; throws BuildError when the module cannot
  // build all of it.
  RecordMatcher(const std::vector<ConditionLine>& lines, Zone zone)
      : feeder_(lines, zone), variants_(lines) {}

  // True when the record, whose cells are named by `columns`, matches.
  // Notes about its cells are appended. Throws what the module's IsMatch
  // throws.
  bool Match(const Record& record, const std::vector<std::string>& columns,
             std::vector<FeedNote>* notes) {
    feeder_.Feed(record, columns, row_, forced_, notes);
    return variants_.For(forced_)->IsMatch(&row_);
  }

  const RowFeeder& feeder() const { return feeder_; }
  FilterVariants& variants() { return variants_; }
  // Starts a new input, whose columns are its own.
  void NewInput() { feeder_.ResetColumns(); }

 private:
  RowFeeder feeder_;
  FilterVariants variants_;
  memhost::MemoryDataRow row_;
  std::string forced_;
};

}  // namespace eventquery

#endif  // DECIDE_RECORDMATCHER_H_
