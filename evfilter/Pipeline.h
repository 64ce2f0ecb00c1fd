// `evfilter match`: every record of every input is read, decided by the
// filter module and written or counted, in input order, on one thread or
// several.
//
// RecordMatcher decides one record: it feeds the in-memory row, picks the
// filter variant in which the conditions the record cannot serve are false
// (see RowFeeder and FilterVariants) and asks the module. With -j N,
// batches of records go to N threads, each with its own matcher (a filter
// is used by one thread at a time); results are settled in input order.
//
// Every input record is either written (matched, or with -v not matched),
// or not, and `match` and `match -v` together write each exactly once. A
// line that is no record is reported.

#ifndef EVFILTER_PIPELINE_H_
#define EVFILTER_PIPELINE_H_

#include <optional>
#include <string>
#include <vector>

#include "evfilter/CellReaders.h"
#include "evfilter/FilterBuild.h"
#include "evfilter/Inputs.h"
#include "evfilter/RowFeeder.h"
#include "memory_host/MemoryDataRow.h"

namespace evfilter {

struct MatchOptions {
  std::vector<std::string> inputs;
  bool count = false;
  bool invert = false;
  bool strict = false;
  std::optional<Format> input_format;
  std::optional<Format> output_format;
  unsigned jobs = 1;
  Zone zone = Zone::kLocal;
};

class RecordMatcher {
 public:
  RecordMatcher(const std::vector<memhost::LineSpec>& lines, Zone zone)
      : feeder_(lines, zone), variants_(lines) {}

  // True when the record matches. Notes about its cells are appended.
  // Throws what the module's IsMatch throws.
  bool Match(const Record& record, const std::vector<std::string>& columns,
             std::vector<FeedNote>* notes);
  const RowFeeder& feeder() const { return feeder_; }
  // Starts a new input, whose columns are its own.
  void NewInput() { feeder_.ResetColumns(); }

 private:
  RowFeeder feeder_;
  FilterVariants variants_;
  memhost::MemoryDataRow row_;
  std::string forced_;
};

// Runs `match`; returns the exit status (0 written, 1 none, 2 failure).
int RunMatch(const std::vector<memhost::LineSpec>& lines,
             const MatchOptions& options);

}  // namespace evfilter

#endif  // EVFILTER_PIPELINE_H_
