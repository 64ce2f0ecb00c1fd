// A test fixture with a private folder of its own for the files a test
// writes, removed when the test ends.

#ifndef TESTS_SUPPORT_SCRATCHFOLDER_H_
#define TESTS_SUPPORT_SCRATCHFOLDER_H_

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class ScratchFolder : public testing::Test {
 protected:
  void SetUp() override {
    std::string base = std::filesystem::temp_directory_path() / "fmtest.XXXXXX";
    dir_ = mkdtemp(base.data());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Writes `content` to `name` in the folder; its path.
  std::string File(const std::string& name, const std::string& content) {
    const std::filesystem::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::filesystem::path dir_;
};

#endif  // TESTS_SUPPORT_SCRATCHFOLDER_H_
