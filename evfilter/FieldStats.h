// `match --stats`: per field, how many records had it, lacked it (no such
// key or cell, or null), or held a value that could not be read as the
// type its conditions compare (counted once per record).
//
// Thread safety: one thread.

#ifndef EVFILTER_FIELDSTATS_H_
#define EVFILTER_FIELDSTATS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "records/FieldColumns.h"
#include "records/Record.h"

namespace evfilter {

class FieldStats {
 public:
  explicit FieldStats(std::vector<std::string> fields)
      : columns_(fields), counts_(fields.size()), unread_(fields.size()) {}

  // Counts `record` (cells named by `columns`); `unreadable` lists the
  // fields (by index) whose value could not be read, repeats allowed.
  void Add(const eventquery::Record& record,
           const std::vector<std::string>& columns,
           const std::vector<size_t>& unreadable);
  // The next records come from another input, with columns of its own.
  void NewInput() { columns_.Reset(); }
  // One line per field, for standard error.
  std::vector<std::string> Lines() const;

  const std::vector<std::string>& fields() const { return columns_.names(); }

 private:
  struct Counts {
    uint64_t had = 0, missing = 0, unreadable = 0;
  };
  eventquery::FieldColumns columns_;
  std::vector<Counts> counts_;
  std::vector<uint64_t> unread_;  // the record that was last counted unread
  uint64_t records_ = 0;
};

}  // namespace evfilter

#endif  // EVFILTER_FIELDSTATS_H_
