// A fixture that runs the built evfilter on small files in a private
// folder and captures its status, output and messages.

#ifndef TESTS_EVFILTERRUN_H_
#define TESTS_EVFILTERRUN_H_

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;
};

class EvfilterCliTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string base = fs::temp_directory_path() / "evfiltertest.XXXXXX";
    dir_ = mkdtemp(base.data());
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string File(const std::string& name, const std::string& content) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }

  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  // Runs evfilter with `args` (shell words) and `input` on standard input;
  // `env` (shell words) goes before the command.
  Result Run(const std::string& args, const std::string& input = "",
             const std::string& env = "") {
    const std::string in = File("stdin.txt", input);
    const std::string command =
        env + " " + std::string(EVFILTER_PATH) + " " + args + " < " + in +
        " > " + (dir_ / "out").string() + " 2> " + (dir_ / "err").string();
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read(dir_ / "out"),
            Read(dir_ / "err")};
  }

  fs::path dir_;
};

#endif  // TESTS_EVFILTERRUN_H_
