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

#include "ScratchFolder.h"

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string out;
  std::string err;

  // The records written (or counted) as the closing line of the messages
  // says ("... read, N written, ..."), or -1 when there is none: a count
  // that failed is not printed, but the records read before the failure
  // are summed up there.
  long long Written() const {
    const size_t read = err.rfind(" record(s) read, ");
    if (read == std::string::npos) return -1;
    return std::atoll(err.c_str() + read + 17);
  }
};

class EvfilterCliTest : public ScratchFolder {
 protected:
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
};

#endif  // TESTS_EVFILTERRUN_H_
