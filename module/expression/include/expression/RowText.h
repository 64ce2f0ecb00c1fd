// A row's field as comparisons on text see it: the row text.
//
// The row loader stores what the host's accessor returned natively in the
// condition's slot; the text is made from it only when a comparison asks:
// a number rendered ("%ld", or the "%f" rendering made at load) and
// zero-filled to the condition's fill, a date or a time in its normal form,
// the host's text lower-cased. A text handed over as such (the dates and
// times outside what is stored natively) is stored lower-cased and
// normalised at once, with its day or second when it reads as one.
//
// Cost: O(text); the slot's buffers are reused, so no allocation in steady
// state. Thread safety: one thread at a time per slot.

#ifndef FILTERMODULE_EXPRESSION_ROWTEXT_H_
#define FILTERMODULE_EXPRESSION_ROWTEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "expression/RowValues.h"

namespace filtermodule {

// Brings a lower-cased `text` to the normal form of a date or a time field
// (through `scratch`, swapped in); true when the type has one. Throws
// StatusFailure for a date or a time it cannot read.
bool NormalizeForFieldType(int32_t field_type, std::u16string& text,
                           std::u16string& scratch);

// Makes `slot` hold `text` as the row text of a field of `field_type`.
// Throws StatusFailure for a date or time it cannot read.
void SetSlotText(int32_t field_type, RowSlot& slot, std::u16string_view text);

// The row text of `slot`, made on demand into the slot; a number is
// zero-filled to `fill` characters.
std::u16string_view RowTextOfSlot(RowSlot& slot, size_t fill);

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_ROWTEXT_H_
