// Feeds the in-memory host's data row from input records: for every field
// the filter's conditions name, the cell of its column is read as the
// condition's field type needs (text, number, date, time).
//
// The rule for cells a condition cannot use: a typed (numeric, date or
// time) condition on a field that the record lacks, that holds null or
// nothing but blanks, or that holds a value unreadable as the condition's
// type, is false before its NOT; a text condition on a missing field sees
// empty text. Feed marks such conditions "forced false" for the caller,
// which runs a variant of the filter where they cannot match. A number
// that the module's interface cannot carry exactly (beyond about 2^53, or
// more than six decimals) is compared exactly here, and its conditions are
// forced to that answer; so is a time in the second of a time condition's
// value when a fraction of a second (the cell's or the value's, which the
// module's times cannot carry) tells them apart. Unreadable and inexact
// values come back as notes.
//
// A `matches` condition is a host check (HostDecider): a search of the
// field's text (empty when the record lacks the field), always forced to
// its answer.
//
// Fields are found by column name, exactly or else ignoring ASCII case
// (FieldColumns).
// Thread safety: one feeder per thread.

#ifndef DECIDE_ROWFEEDER_H_
#define DECIDE_ROWFEEDER_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "decide/CellReaders.h"
#include "decide/HostDecider.h"
#include "memory_host/MemoryDataRow.h"
#include "query/ConditionLine.h"
#include "records/FieldColumns.h"
#include "records/Record.h"

namespace eventquery {

// What a text condition wants of a cell that holds a NUL character.
inline constexpr char kTextWithoutNul[] = "text without NUL characters";

// What Feed noticed about one cell.
struct FeedNote {
  // kNotUtf8: a text that is no valid UTF-8, compared with each invalid
  // byte as its own character (U+DC00 + the byte).
  enum Kind : uint8_t { kUnreadable, kInexact, kNotUtf8 };
  Kind kind;
  uint32_t field;      // RowFeeder::field_name
  const char* wanted;  // "a number", "a date", "a time", kTextWithoutNul
  std::string cell;
};

// Per condition: as loaded, or forced to an answer before its NOT.
inline constexpr char kLoaded = '.';
inline constexpr char kForcedFalse = 'F';
inline constexpr char kForcedTrue = 'T';

// The mark of a condition whose value a record cannot serve: the condition
// as written is false, so a line built from a negated operator (">=" as
// NOT "<") is true before its NOT.
inline char UnusableMark(const ConditionLine& line) {
  return line.inverted ? kForcedTrue : kForcedFalse;
}

class RowFeeder {
 public:
  // Throws BuildError for a `matches` line whose pattern RE2 rejects.
  RowFeeder(const std::vector<ConditionLine>& lines, Zone zone);

  // Fills `row` from `record` and `forced` with one mark per condition
  // line; true when any condition is forced. Notes are appended.
  bool Feed(const Record& record, const std::vector<std::string>& columns,
            memhost::MemoryDataRow& row, std::string& forced,
            std::vector<FeedNote>* notes);
  // Feed in two steps, for callers that want the marks of some lines
  // only: Load fills `row` (and the notes); MarksFor then gives the marks
  // of lines [first, first + count) of the record last loaded, and is
  // true when any of them is forced.
  void Load(const Record& record, const std::vector<std::string>& columns,
            memhost::MemoryDataRow& row, std::vector<FeedNote>* notes);
  bool MarksFor(size_t first, size_t count, std::string& forced) const;

  // Forgets the columns found so far: the next input has columns of its
  // own.
  void ResetColumns();
  // Forgets the columns of the fields named `names` alone (columns the
  // caller moved), here and in the host checks.
  void ForgetColumns(const std::vector<std::string>& names);
  // Finds a field also in a column whose name has spaces the field's lacks
  // (FindColumn's `spaceless`), as Sigma rules name fields.
  void MatchFieldsWithoutSpaces() {
    columns_.MatchWithoutSpaces();
    host_.MatchWithoutSpaces();
  }

  const std::string& field_name(uint32_t field) const {
    return fields_[field].name;
  }

  // The names of the fields the conditions read, numbered as field_name
  // numbers them.
  std::vector<std::string> field_names() const;
  // True for a field read on the module's behalf that no line names
  // (EXT_TAGS for a text condition on REL_EXT_TAGS).
  bool field_implicit(uint32_t field) const { return fields_[field].implicit; }

  // The fields no column matches, with the closest of the column names and
  // `hints` (or "").
  std::vector<std::pair<std::string, std::string>> MissingFields(
      const std::vector<std::string>& columns,
      const std::vector<std::string>& hints = {}) const;

 private:
  enum Need : uint8_t { kText = 1, kNumber = 2, kDate = 4, kTime = 8 };
  struct Field {
    std::string name;     // as the filter writes it (UTF-8)
    std::u16string wide;  // the same, as the module asks for it
    uint8_t needs = 0;
    bool implicit = false;  // read on the module's behalf, not named
    // This record's state.
    uint8_t usable = 0;  // Need bits read successfully
    bool inexact = false;
    std::string plain;        // the cell's exact value, when inexact
    std::string rendered;     // what the module sees of it, when inexact
    int32_t seconds = 0;      // the time read: its seconds of the day,
    int32_t nanoseconds = 0;  // and of the second
  };
  struct Condition {
    uint32_t field = 0;
    int32_t type = kTypeText;
    int32_t op = kOpEquals;
    char unusable = kForcedFalse;   // the mark for a value it cannot use
    std::string plain_value;        // numeric =, <, >: the value, exactly
    size_t host_slot = SIZE_MAX;    // a `matches` line's host check
    char host_mark = kForcedFalse;  // its answer for this record
    // Time =, <, >: the value's second of the day (-1: not known) and the
    // fraction of it the line keeps.
    int32_t value_seconds = -1;
    int32_t nanoseconds = 0;
  };

  Zone zone_;
  std::vector<Field> fields_;
  std::vector<Condition> conditions_;
  std::vector<size_t> host_conditions_;
  HostDecider host_{/*without_spaces=*/false};
  FieldColumns columns_;  // of fields_, by index
  std::u16string text_;
  std::string scratch_;
};

}  // namespace eventquery

#endif  // DECIDE_ROWFEEDER_H_
