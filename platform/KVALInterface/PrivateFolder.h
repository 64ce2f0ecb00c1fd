// The settings library's choice of the log folder when the host names none.
//
// The default folder belongs to the user who runs the host and is open to
// nobody else, so that no other local user can read the log or plant a file
// or link under its name: $XDG_STATE_HOME/filtermodule, else
// $HOME/.local/state/filtermodule, else <temporary base>/filtermodule-<uid>.
// The first two lie in the user's own home and are created, when missing,
// by the logging library (mode 0700). The last lies in a folder that every
// user may write to, so it is created here with mode 0700 and refused when
// it already exists but is not a private directory of the user.
//
// Thread safety: the functions keep no state; they may be called from any
// thread.

#ifndef FILTERMODULE_PLATFORM_KVALINTERFACE_PRIVATEFOLDER_H_
#define FILTERMODULE_PLATFORM_KVALINTERFACE_PRIVATEFOLDER_H_

#include <sys/types.h>

#include <string>

namespace kval {

// Creates `path` with mode 0700 when it is missing. True when `path` is then
// a directory itself (not a symbolic link) owned by `uid` that grants
// nothing to its group or to others.
bool EnsurePrivateFolder(const std::string& path, uid_t uid);

// The default log folder from the given environment values (null or empty:
// unset; relative paths are ignored) for user `uid`, falling back to
// "<temp_base>/filtermodule-<uid>". Empty when the fallback is refused.
std::string DefaultLogFolder(const char* xdg_state_home, const char* home,
                             const std::string& temp_base, uid_t uid);

}  // namespace kval

#endif  // FILTERMODULE_PLATFORM_KVALINTERFACE_PRIVATEFOLDER_H_
