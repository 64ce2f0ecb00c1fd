// Reading the diagnostic log file back in tests.
//
// Every test process logs into a folder of its own (KVAL_LOG_FOLDER, set by
// the test main before the first message), with detailed logging on. With
// FM_TEST_DEFAULT_LOG_FOLDER set, KVAL_LOG_FOLDER is unset instead and the
// settings library's default folder lies below a fresh XDG_STATE_HOME.

#ifndef TESTS_TESTLOG_H_
#define TESTS_TESTLOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace testlog {

struct Record {
  std::string timestamp;
  std::string source;
  std::string level;
  std::string verbosity;
  std::string message;
};

// The log file of this process.
std::string LogPath();
// Every record of the log file, parsed as CSV (the header row skipped).
std::vector<Record> ReadAll();

// Remembers how many records the log holds; Messages() returns the
// messages written since, across one rotation of the log.
class LogMark {
 public:
  LogMark();
  std::vector<Record> Records() const;
  std::vector<std::string> Messages() const;
  // How often `message` was written since the mark.
  int Count(const std::string& message) const;

 private:
  uint64_t start_;  // the log's size in bytes
  uint64_t file_;   // the log file's inode: it changes when the log rotates
};

// Creates a fresh log folder and points the settings at it (test main).
void UseFreshLogFolder();

}  // namespace testlog

#endif  // TESTS_TESTLOG_H_
