// Field-name comparison shared by the in-memory rows.

#ifndef MEMORY_HOST_NAMEMATCH_H_
#define MEMORY_HOST_NAMEMATCH_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace memhost {

// True when `name` equals the null-terminated `field`; reads `field` no
// further than its terminator.
inline bool SameName(const std::u16string& name, const char16_t* field) {
  const size_t n = name.size();
  for (size_t i = 0; i < n; ++i)
    if (field[i] != name[i]) return false;
  return field[n] == u'\0';
}

// A slot of a table of 2^bits remembered name texts, by the text's
// address. Addresses of texts held in objects made one after another share
// their low bits, so they are mixed first (Fibonacci hashing).
template <unsigned bits>
inline size_t NameSlot(const char16_t* field) {
  return static_cast<size_t>(
      (static_cast<uint64_t>(reinterpret_cast<uintptr_t>(field)) *
       0x9E3779B97F4A7C15ull) >>
      (64 - bits));
}

}  // namespace memhost

#endif  // MEMORY_HOST_NAMEMATCH_H_
