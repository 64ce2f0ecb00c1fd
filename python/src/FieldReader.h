// Reads one value of one field exactly as evfilter's RowFeeder reads it
// inside a whole record: the value the in-memory row then serves for each
// accessor, the marks of the conditions on that field (loaded, forced
// false, forced true) and the notes (unreadable, inexact).
//
// A feeder reads each field of a record on its own, and a condition's mark
// depends on its own field's value only, so reading a record field by field
// gives the same row, marks and notes as feeding it whole. The typed column
// path (FieldColumn) relies on that to read each distinct value of a
// column once.
//
// Fields are numbered as the feeder numbers them (the order in which the
// condition lines first name them, an EXT_TAGS read on behalf of a text
// condition on REL_EXT_TAGS after its line's field).
//
// Thread safety: one thread at a time; no Python.

#ifndef FILTERMODULE_PYTHON_FIELDREADER_H_
#define FILTERMODULE_PYTHON_FIELDREADER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decide/CellReaders.h"
#include "decide/RowFeeder.h"
#include "memory_host/MemoryDataRow.h"
#include "query/ConditionLine.h"
#include "records/Record.h"

namespace fmpython {

class FieldReader {
 public:
  FieldReader(const std::vector<eventquery::ConditionLine>& lines,
              eventquery::Zone zone);

  uint32_t fields() const { return static_cast<uint32_t>(names_.size()); }
  // The field's name as the lines write it, in UTF-8 and as the module
  // passes it to a row.
  const std::string& name(uint32_t field) const { return names_[field]; }
  const std::u16string& wide(uint32_t field) const { return wide_[field]; }
  // The condition lines on the field, in line order.
  const std::vector<uint32_t>& conditions(uint32_t field) const {
    return conditions_[field];
  }
  // True when only numeric conditions read the field.
  bool number_only(uint32_t field) const { return number_only_[field]; }

  // Reads `cell` (nothing for a missing value) as the value of `field`;
  // the results below hold until the next call.
  void Read(uint32_t field, std::optional<std::string_view> cell);
  memhost::MemoryDataRow& row() { return row_; }
  // One mark per condition line; only the field's own conditions count.
  const std::string& forced() const { return forced_; }
  const std::vector<eventquery::FeedNote>& notes() const { return notes_; }

 private:
  eventquery::RowFeeder feeder_;
  std::vector<std::string> names_;
  std::vector<std::u16string> wide_;
  std::vector<std::vector<uint32_t>> conditions_;
  std::vector<bool> number_only_;
  eventquery::Record record_;
  memhost::MemoryDataRow row_;
  std::string forced_;
  std::vector<eventquery::FeedNote> notes_;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_FIELDREADER_H_
