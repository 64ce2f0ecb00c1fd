// Linear-time search for a fixed text (Knuth-Morris-Pratt).
//
// Prepare builds the failure table once per needle: O(needle) time and
// memory, reusing earlier buffers. Find is O(text + needle) whatever the
// texts are, so a crafted value cannot make a search quadratic, and
// allocates nothing. Empty needles occur in every text.
// Thread safety: Find may run on many threads once prepared.

#ifndef FILTERMODULE_EXPRESSION_SUBSTRINGSEARCH_H_
#define FILTERMODULE_EXPRESSION_SUBSTRINGSEARCH_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace filtermodule {

class SubstringSearch {
 public:
  // Makes `needle` the text to look for (copied).
  void Prepare(std::u16string_view needle);
  // True when the needle occurs in `text` as a contiguous run, compared
  // exactly.
  bool FoundIn(std::u16string_view text) const noexcept;
  // The same in the lower-cased null-terminated `text`, folded as it is
  // read (null: empty).
  bool FoundInFolded(const char16_t* text) const noexcept;
  // The text looked for.
  const std::u16string& needle() const { return needle_; }

 private:
  std::u16string needle_;
  std::vector<uint32_t> failure_;  // longest proper border of needle_[0..i]
};

}  // namespace filtermodule

#endif  // FILTERMODULE_EXPRESSION_SUBSTRINGSEARCH_H_
