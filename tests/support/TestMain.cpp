#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestLog.h"

int main(int argc, char** argv) {
  // Before the first message of the process: the log opens once.
  testlog::UseFreshLogFolder();
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  // Keep the log of a failed run for a look.
  if (result == 0 && std::getenv("FM_KEEP_TEST_LOGS") == nullptr &&
      std::getenv("FM_TEST_LOG_FOLDER") == nullptr) {
    const char* folder = std::getenv("KVAL_LOG_FOLDER");
    if (folder == nullptr) folder = std::getenv("XDG_STATE_HOME");
    std::error_code ignored;
    if (folder != nullptr) std::filesystem::remove_all(folder, ignored);
  }
  return result;
}
