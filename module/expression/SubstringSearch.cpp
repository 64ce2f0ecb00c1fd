#include "expression/SubstringSearch.h"

#include "expression/Text.h"

namespace filtermodule {

void SubstringSearch::Prepare(std::u16string_view needle) {
  needle_.assign(needle);
  failure_.assign(needle_.size(), 0);
  uint32_t k = 0;
  for (size_t i = 1; i < needle_.size(); ++i) {
    while (k > 0 && needle_[i] != needle_[k]) k = failure_[k - 1];
    if (needle_[i] == needle_[k]) ++k;
    failure_[i] = k;
  }
}

bool SubstringSearch::FoundIn(std::u16string_view text) const noexcept {
  const size_t m = needle_.size();
  if (m == 0) return true;
  if (m > text.size()) return false;
  uint32_t k = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    while (k > 0 && text[i] != needle_[k]) k = failure_[k - 1];
    if (text[i] == needle_[k] && ++k == m) return true;
  }
  return false;
}

bool SubstringSearch::FoundInFolded(const char16_t* text) const noexcept {
  const size_t m = needle_.size();
  if (m == 0) return true;
  if (text == nullptr) return false;
  uint32_t k = 0;
  for (const char16_t* p = text; *p != u'\0'; ++p) {
    const char16_t c = Lowered(*p);
    while (k > 0 && c != needle_[k]) k = failure_[k - 1];
    if (c == needle_[k] && ++k == m) return true;
  }
  return false;
}

}  // namespace filtermodule
