// Points the module's log at a private folder before the first message.

#ifndef FUZZ_FUZZLOGSETUP_H_
#define FUZZ_FUZZLOGSETUP_H_

#include <cstdlib>
#include <filesystem>
#include <string>

inline void UsePrivateLogFolder() {
  std::string base = std::filesystem::temp_directory_path() / "fmfuzz.XXXXXX";
  if (char* made = mkdtemp(base.data())) setenv("KVAL_LOG_FOLDER", made, 1);
  setenv("KVAL_DEBUG_LOG", "0", 1);
}

#endif  // FUZZ_FUZZLOGSETUP_H_
