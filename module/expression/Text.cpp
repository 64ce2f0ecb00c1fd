#include "expression/Text.h"

namespace filtermodule {
namespace {
#include "CaseFoldTable.inc"
}  // namespace

char16_t FoldCase(char16_t c) noexcept {
  return static_cast<char16_t>(c + kCaseDelta[kCaseBlock[c >> 8]][c & 0xFF]);
}

void LowerInPlace(std::u16string& text) noexcept {
  for (char16_t& c : text) c = Lowered(c);
}

void AssignLowered(std::u16string& out, std::u16string_view in) {
  out.resize(in.size());
  char16_t* dst = out.data();
  for (size_t i = 0; i < in.size(); ++i) dst[i] = Lowered(in[i]);
}

int CompareNoCase(std::u16string_view a, std::u16string_view b) noexcept {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;  // equal code units fold equally
    const char16_t x = Lowered(a[i]);
    const char16_t y = Lowered(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int CompareNoCase(const char16_t* a, std::u16string_view b) noexcept {
  if (a == nullptr) a = u"";
  size_t i = 0;
  for (; a[i] != u'\0' && i < b.size(); ++i) {
    if (a[i] == b[i]) continue;
    const char16_t x = Lowered(a[i]);
    const char16_t y = Lowered(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a[i] == u'\0') return i == b.size() ? 0 : -1;
  return 1;
}

bool EqualsNoCase(const char16_t* a, std::u16string_view b) noexcept {
  return CompareNoCase(a, b) == 0;
}

std::u16string WidenAscii(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

}  // namespace filtermodule
