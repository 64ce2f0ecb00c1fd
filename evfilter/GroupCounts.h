// `match --count-by`: the records counted by the values of one or more
// fields, written at the end, most frequent first (ties in the order
// their values first came).
//
// Memory follows the number of distinct values (or value tuples), not of
// records. Beyond `max_groups` distinct ones Add throws FatalError: the
// counts are written whole or not at all. A record that lacks a field
// counts under no value (an empty CSV cell, JSON null), apart from the
// empty text.
//
// Thread safety: one thread.

#ifndef EVFILTER_GROUPCOUNTS_H_
#define EVFILTER_GROUPCOUNTS_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "records/FieldColumns.h"
#include "records/Inputs.h"
#include "records/Record.h"

namespace evfilter {

class GroupCounts {
 public:
  GroupCounts(std::vector<std::string> fields, uint64_t max_groups)
      : columns_(std::move(fields)), max_groups_(max_groups) {}

  // Counts `record`, whose cells `columns` names. Costs O(its values'
  // size) on average.
  void Add(const eventquery::Record& record,
           const std::vector<std::string>& columns);
  // The next records come from another input, with columns of its own.
  void NewInput() { columns_.Reset(); }
  // Sees the columns of a record that is not counted (see Writer::Track).
  void Track(const std::vector<std::string>& columns) { columns_.See(columns); }
  // Writes the groups as CSV, TSV or JSON Lines (a header row or keys of
  // the fields and "count"), the first `limit` only when it is not 0.
  // Returns the text; costs O(groups log groups).
  std::string Render(eventquery::Format format, uint64_t limit) const;

  uint64_t groups() const { return groups_.size(); }

 private:
  struct Group {
    uint64_t count = 0;
    uint64_t first = 0;  // its rank of first appearance
  };
  eventquery::FieldColumns columns_;
  uint64_t max_groups_;
  // Key: per field, '-' for no value or '+', the value's size, ':' and
  // the value, so that no two tuples share a key.
  std::unordered_map<std::string, Group> groups_;
  std::string key_;  // reused
};

}  // namespace evfilter

#endif  // EVFILTER_GROUPCOUNTS_H_
