// Field-name comparison shared by the in-memory rows.

#ifndef MEMORY_HOST_NAMEMATCH_H_
#define MEMORY_HOST_NAMEMATCH_H_

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

}  // namespace memhost

#endif  // MEMORY_HOST_NAMEMATCH_H_
