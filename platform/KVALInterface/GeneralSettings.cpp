// Stand-in for the host's settings library: the settings come from the
// process environment.
//
//   KVAL_LOG_FOLDER  folder of the log file; unset or empty: the system's
//                    temporary folder ($TMPDIR, else /tmp)
//   KVAL_DEBUG_LOG   1, true or yes (any case) turn detailed logging on
//
// The environment is read when a settings object is created.

#include <strings.h>

#include <cstdlib>
#include <string>

#include "host/GeneralSettings.h"
#include "textconv/Utf8.h"

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
    if (folder == nullptr || *folder == '\0') folder = std::getenv("TMPDIR");
    if (folder == nullptr || *folder == '\0') folder = "/tmp";
    folder_ = textconv::ToUtf16(folder);
    debug_ = IsTrueWord(std::getenv("KVAL_DEBUG_LOG"));
  }

  uint32_t Release() override {
    delete this;
    return 0;
  }
  const char16_t* GetLogFolder() override { return folder_.c_str(); }
  bool IsDebugLogEnabled() override { return debug_; }

 private:
  ~GeneralSettings() = default;

  std::u16string folder_;
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
