#include "PrivateFolder.h"

#include <sys/stat.h>

#include <cerrno>

namespace kval {
namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

}  // namespace

bool EnsurePrivateFolder(const std::string& path, uid_t uid) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  // lstat, not stat: a link planted under the name is refused, not followed.
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == uid &&
         (st.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

std::string DefaultLogFolder(const char* xdg_state_home, const char* home,
                             const std::string& temp_base, uid_t uid) {
  if (IsAbsolute(xdg_state_home))
    return std::string(xdg_state_home) + "/filtermodule";
  if (IsAbsolute(home)) return std::string(home) + "/.local/state/filtermodule";
  std::string folder = temp_base + "/filtermodule-" + std::to_string(uid);
  if (!EnsurePrivateFolder(folder, uid)) return std::string();
  return folder;
}

}  // namespace kval
