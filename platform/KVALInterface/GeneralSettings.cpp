// Stand-in for the host's settings library: the settings come from the
// process environment.
//
//   KVAL_LOG_FOLDER  folder of the log file; unset or empty: a folder of
//                    the user's own, open to nobody else
//                    ($XDG_STATE_HOME/filtermodule, else
//                    $HOME/.local/state/filtermodule, else
//                    /tmp/filtermodule-<uid>; see PrivateFolder.h)
//   KVAL_DEBUG_LOG   1, true or yes (any case) turn detailed logging on
//
// The environment is read when a settings object is created. When no safe
// folder can be had, GetLogFolder returns null and the log stays closed.

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "KVALInterface/GeneralSettings.h"
#include "PrivateFolder.h"
#include "common/Utf8.h"

namespace {

bool IsTrueWord(const char* text) {
  if (text == nullptr) return false;
  return strcasecmp(text, "1") == 0 || strcasecmp(text, "true") == 0 ||
         strcasecmp(text, "yes") == 0;
}

class GeneralSettings final : public IGeneralSettings {
 public:
  GeneralSettings() {
    const char* folder = std::getenv("KVAL_LOG_FOLDER");
    if (folder != nullptr && *folder != '\0') {
      folder_ = common::ToUtf16(folder);
    } else {
      // Not $TMPDIR or /tmp themselves: any user could plant the log's
      // name there first.
      const std::string fallback =
          kval::DefaultLogFolder(std::getenv("XDG_STATE_HOME"),
                                 std::getenv("HOME"), "/tmp", ::geteuid());
      has_folder_ = !fallback.empty();
      folder_ = common::ToUtf16(fallback);
    }
    debug_ = IsTrueWord(std::getenv("KVAL_DEBUG_LOG"));
  }

  uint32_t Release() override {
    delete this;
    return 0;
  }
  const char16_t* GetLogFolder() override {
    return has_folder_ ? folder_.c_str() : nullptr;
  }
  bool IsDebugLogEnabled() override { return debug_; }

 private:
  ~GeneralSettings() = default;

  std::u16string folder_;
  bool has_folder_ = true;
  bool debug_ = false;
};

}  // namespace

extern "C" IGeneralSettings* CreateGeneralSettings() {
  try {
    return new GeneralSettings();
  } catch (...) {
    return nullptr;  // no settings object: the caller's log stays closed
  }
}
