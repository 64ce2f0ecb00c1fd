// The values of one data row as the conditions of a filter see them: one
// slot per condition, filled by the row loader in condition order, and the
// state that persists from row to row (the zero-fill of numeric values).
//
// A slot holds what the host's accessor returned, natively: an integer, a
// real, a day number, seconds of the day, or a view of the host's text. The
// text that a comparison may need (the number rendered, the text
// lower-cased, the date in its normal form) is made only when a comparison
// asks for it, into the slot's own buffer, which is reused from row to row:
// matching a row allocates nothing in steady state.
//
// The expressions only read the tree; everything that belongs to a row or
// changes between rows lives here, owned by the filter.
//
// Thread safety: one thread at a time, like the filter that owns it.

#ifndef FILTERMODULE_EXPRESSION_ROWVALUES_H_
#define FILTERMODULE_EXPRESSION_ROWVALUES_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "expression/SubstringSearch.h"

namespace filtermodule {

struct RowSlot {
  enum class Kind : uint8_t {
    kEmpty,     // nothing loaded (an unknown field type): empty text
    kInteger,   // `integer`
    kReal,      // `real`, rendered in `text` (six decimals) at load
    kDays,      // `days` since 1970-01-01 of a date in the normal range
    kSeconds,   // `seconds` of the day
    kHostText,  // `host`, as the host gave it (not lower-cased)
    kText,      // `text` holds the row text already (lower-case, normal form)
  };
  Kind kind = Kind::kEmpty;
  int32_t integer = 0;
  double real = 0;
  int64_t days = 0;
  int32_t seconds = 0;
  // kText of a date or time field: `days` or `seconds` is valid.
  bool has_native = false;
  // The host's null-terminated text; read in place, never copied unless a
  // comparison needs it lower-cased.
  const char16_t* host = nullptr;
  // The row text as comparisons on text see it; made on demand.
  std::u16string text;
  bool text_ready = false;
  // Room for rendering and normalising a text on the rare paths.
  std::u16string rendered;
  std::u16string scratch;
  // Numeric: the length of the number's rendering ("%ld" or "%f").
  size_t rendered_length = 0;
};

// What a condition keeps from row to row.
struct ConditionState {
  // Numeric: the value and the row text are zero-filled to the longest of
  // the value and every rendering seen so far. That length is kept as the
  // longest text (the value, reals) and the range of integers seen, whose
  // longest rendering is that of one of the two ends.
  size_t text_fill = 0;
  bool has_integer = false;
  int32_t min_integer = 0;
  int32_t max_integer = 0;
  // The length the value and the row text are filled to.
  size_t Fill() const;
  // Date: day numbers of the first days of months seen lately.
  struct MonthEntry {
    uint32_t key = 0;  // year * 12 + month - 1; 0 is no month of 1971..9999
    int64_t first = 0;
  };
  MonthEntry months[16];
  // The value zero-filled to `filled_for` characters, and what is made of
  // it, for the comparisons that read the value as text.
  size_t filled_for = 0;
  std::u16string filled_value;
  std::u16string filled_like;
  SubstringSearch filled_search;
  std::u16string filled_tagged_like;
  std::u16string filled_tagged_contains;
  SubstringSearch filled_tagged_search;
};

// Characters of "%ld" of `value`.
inline size_t RenderedLength(int32_t value) {
  uint32_t m = value < 0 ? 0u - static_cast<uint32_t>(value)
                         : static_cast<uint32_t>(value);
  size_t n = value < 0 ? 2 : 1;
  for (; m >= 10; m /= 10) ++n;
  return n;
}

inline size_t ConditionState::Fill() const {
  size_t fill = text_fill;
  if (has_integer) {
    fill = std::max(fill, RenderedLength(min_integer));
    fill = std::max(fill, RenderedLength(max_integer));
  }
  return fill;
}

// Today's local date for the named periods of one row: the clock is asked
// at most once per row, and only when a period is evaluated.
struct PeriodToday {
  bool asked = false;
  bool known = false;  // false when the local conversion failed
  int64_t days = 0;    // since 1970-01-01
  // Forgets the date: the next row asks the clock again.
  void Reset() { asked = false; }
};

struct RowValues {
  std::vector<RowSlot> slots;
  std::vector<ConditionState> states;
  PeriodToday today;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_ROWVALUES_H_
