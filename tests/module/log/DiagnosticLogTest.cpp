#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "TestLog.h"
#include "log/DiagnosticLog.h"

namespace filtermodule {
namespace {

using testlog::LogMark;

bool Quiet() { return std::getenv("FM_TEST_DEBUG_LOG") != nullptr; }
bool Unwritable() { return std::getenv("FM_TEST_LOG_UNWRITABLE") != nullptr; }
bool DefaultFolder() {
  return std::getenv("FM_TEST_DEFAULT_LOG_FOLDER") != nullptr;
}

TEST(DiagnosticLogTest, WritesRecordsWithSourceLevelAndVerbosity) {
  if (Quiet() || Unwritable()) GTEST_SKIP() << "needs a detailed log";
  LogMark mark;
  WriteLog(kLogTrace, u"trace line");
  WriteLog(kLogError, u"error line");
  const auto records = mark.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].source, "FilterModule");
  EXPECT_EQ(records[0].level, "TRACE");
  EXPECT_EQ(records[0].verbosity, "3");
  EXPECT_EQ(records[0].message, "trace line");
  EXPECT_EQ(records[1].level, "ERROR");
  EXPECT_EQ(records[1].verbosity, "1");
  EXPECT_EQ(records[1].message, "error line");
  // Local time with milliseconds: "2026-12-08 19:40:00.123".
  EXPECT_EQ(records[0].timestamp.size(), 23u);
  EXPECT_EQ(records[0].timestamp[19], '.');
  EXPECT_LE(DiagnosticLogOpenAttempts(), 1);
}

TEST(DiagnosticLogTest, MessagesComeOutLiterally) {
  if (Quiet() || Unwritable()) GTEST_SKIP() << "needs a detailed log";
  LogMark mark;
  WriteLog(kLogTrace, u"50% done");
  WriteLog(kLogTrace, u"%%");
  WriteLog(kLogTrace, u"%s %d %ls %");
  WriteLog(kLogTrace, u"");
  WriteLog(kLogTrace, static_cast<const char16_t*>(nullptr));
  WriteLog(kLogTrace, u"comma, \"quote\"\nnewline ärger");
  const std::u16string long_text(5000, u'%');
  WriteLog(kLogTrace, long_text);
  const auto messages = mark.Messages();
  ASSERT_EQ(messages.size(), 7u);
  EXPECT_EQ(messages[0], "50% done");
  EXPECT_EQ(messages[1], "%%");
  EXPECT_EQ(messages[2], "%s %d %ls %");
  EXPECT_EQ(messages[3], "");
  EXPECT_EQ(messages[4], "");
  EXPECT_EQ(messages[5], "comma, \"quote\"\nnewline ärger");
  EXPECT_EQ(messages[6], std::string(5000, '%'));
}

// Run by a separate test with FM_TEST_DEBUG_LOG=0: traces are not written.
TEST(DiagnosticLogTest, QuietThresholdDropsTraces) {
  if (!Quiet()) GTEST_SKIP() << "runs with detailed logging off";
  LogMark mark;
  EXPECT_FALSE(LogWants(kLogTrace));
  EXPECT_TRUE(LogWants(kLogError));
  WriteLog(kLogTrace, u"not written");
  WriteLog(kLogError, u"written");
  EXPECT_EQ(mark.Messages(), std::vector<std::string>{"written"});
}

// Run by a separate test whose log folder cannot be created.
TEST(DiagnosticLogTest, FailedOpenIsRetriedAtMostOnceASecond) {
  if (!Unwritable()) GTEST_SKIP() << "runs with an unwritable log folder";
  for (int i = 0; i < 1000; ++i) WriteLog(kLogError, u"dropped");
  EXPECT_EQ(DiagnosticLogOpenAttempts(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  WriteLog(kLogError, u"dropped");
  EXPECT_EQ(DiagnosticLogOpenAttempts(), 2);
  // Still wanted: the library hands it to the process's observers.
  EXPECT_TRUE(LogWants(kLogError));
}

// Run by a separate test without KVAL_LOG_FOLDER: the log lands in the
// user's private state folder, and nobody else may read it.
TEST(DiagnosticLogTest, DefaultFolderAndFileArePrivate) {
  if (!DefaultFolder()) GTEST_SKIP() << "runs without a host log folder";
  WriteLog(kLogError, u"into the default folder");
  const std::string path = testlog::LogPath();
  const std::string folder = path.substr(0, path.rfind('/'));
  struct stat st {};
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0) << folder;
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::lstat(path.c_str(), &st), 0) << path;
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(testlog::ReadAll().back().message, "into the default folder");
}

}  // namespace
}  // namespace filtermodule
