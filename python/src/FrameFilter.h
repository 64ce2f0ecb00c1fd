// A filter over pandas frames: built whole by the module (a build that
// writes any error line raises BuildError, never a partial filter), and
// deciding records exactly as `evfilter match` does, through the event
// library's record matcher: every cell a condition needs is read by the
// library's cell rules (RowFeeder), and a condition whose value a record
// cannot serve runs in a filter variant where it is decided before its
// NOT (FilterVariants).
//
// Frames arrive as prepared columns (see filtermodule/__init__.py): int64,
// float64, bool and datetime64[ns] arrays read in place, object arrays
// whose objects are classified with the GIL held. A field is the column of
// its name (exactly, else ignoring ASCII case); a dotted name also reaches
// into the dicts and lists of the columns its prefixes name, as a JSON
// reader reaches into a record's objects (JsonValues.h, Places):
// "Event.System.EventID" on an "Event" column. Mask reads each distinct
// value of a column once, as the library reads the text a file written
// from the frame would hold (FieldColumn), and then decides the rows in
// order, without the GIL, on a row that serves those readings by index
// (ColumnRow). MaskByText, the earlier way and the reference for tests,
// renders every cell as text and feeds the record matcher from it
// (TextColumn), as Match does for one record.
//
// Thread safety: a FrameFilter is used by one thread at a time; its calls
// take the filter's own lock (after the GIL is released), so threads
// sharing one filter wait for each other, and threads with their own
// filters run at once.

#ifndef FILTERMODULE_PYTHON_FRAMEFILTER_H_
#define FILTERMODULE_PYTHON_FRAMEFILTER_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "FieldReader.h"
#include "decide/CellReaders.h"
#include "decide/RecordMatcher.h"
#include "query/ConditionLine.h"

namespace fmpython {

class FrameFilter {
 public:
  // Throws eventquery::BuildError when the module cannot build the filter.
  FrameFilter(std::vector<eventquery::ConditionLine> lines, bool utc);

  const std::vector<eventquery::ConditionLine>& lines() const { return lines_; }
  // The module's text form of the filter ("" when its log holds no traces).
  const std::string& text() const { return text_; }
  bool utc() const { return zone_ == eventquery::Zone::kUtc; }

  // One result per row of the frame's columns (`names`, `kinds`, and the
  // arrays of those the filter reads, see Needed); the notes and the fields
  // no column has come back alongside: (mask, notes, missing), missing as
  // (field, why) pairs, `why` "" for a name no column has.
  pybind11::tuple Mask(
      size_t rows, const std::vector<std::string>& names,
      const std::vector<std::string>& kinds,
      const std::vector<std::optional<pybind11::array>>& arrays);
  // As Mask, each cell rendered as text and fed to the record matcher: the
  // reference Mask is tested against.
  pybind11::tuple MaskByText(
      size_t rows, const std::vector<std::string>& names,
      const std::vector<std::string>& kinds,
      const std::vector<std::optional<pybind11::array>>& arrays);
  // The positions of the columns the filter reads, among `names`.
  std::vector<int64_t> Needed(const std::vector<std::string>& names) const;
  // One record given as (name, value) pairs, values as object cells:
  // (matched, notes, missing).
  pybind11::tuple Match(const std::vector<std::string>& names,
                        pybind11::array values);
  // The interval set of `field`, as (lower, upper) pairs.
  std::vector<std::pair<int32_t, int32_t>> Intervals(const std::string& field);

 private:
  // What the cell readers noticed, counted per field and kind.
  struct NoteCount {
    std::string field;
    std::string kind;  // "unreadable", "inexact" or "not utf-8"
    std::string wanted;
    uint64_t count = 0;
    uint64_t first_row = 0;
    std::string first_cell;
  };
  using Notes = std::map<std::pair<uint32_t, int>, NoteCount>;
  using Missing = std::vector<std::pair<std::string, std::string>>;

  // Where a field's values are in a frame: a column of its name, or paths
  // into columns named by a prefix of it (column, path inside).
  struct Place {
    int64_t column = -1;
    std::vector<std::pair<size_t, std::string>> ways;
  };
  std::vector<Place> Places(const std::vector<std::string>& names) const;

  // The column a field reads: the frame's own, or one made of the cells at
  // its path.
  struct Column {
    std::string name;
    std::string kind;
    pybind11::array array;
  };
  // The column of each field (nothing for a field no column has, noted in
  // `missing`), after checking that the lists agree and that every column
  // read is given with `rows` rows. `record`: the frame is one record.
  std::vector<std::optional<Column>> Columns(
      size_t rows, const std::vector<std::string>& names,
      const std::vector<std::string>& kinds,
      const std::vector<std::optional<pybind11::array>>& arrays,
      Missing* missing) const;
  pybind11::tuple ByText(
      size_t rows, const std::vector<std::string>& names,
      const std::vector<std::string>& kinds,
      const std::vector<std::optional<pybind11::array>>& arrays, bool record);
  void Count(const std::vector<eventquery::FeedNote>& row_notes, size_t row,
             Notes& notes) const;
  static pybind11::list NoteList(const Notes& notes);

  std::vector<eventquery::ConditionLine> lines_;
  eventquery::Zone zone_;
  eventquery::RecordMatcher matcher_;
  std::string text_;
  // The fields the filter reads, in the matcher's numbering: the matcher
  // is fed records whose columns are these names, each found by itself.
  std::vector<std::string> fields_;
  FieldReader reader_;
  // The rows' indexes of one Mask, kept for the next (with the GIL held).
  std::vector<std::vector<uint32_t>> index_buffers_;
  std::string forced_;
  std::mutex mutex_;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_FRAMEFILTER_H_
