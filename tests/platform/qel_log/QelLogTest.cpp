#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "qel_log/QelLog.h"

namespace {

namespace fs = std::filesystem;

constexpr char16_t kProperties[] =
    u"%Source; %Locking; %CSV Log Path; %Output Type; %CSV Limit;";

fs::path FreshFolder() {
  std::string base = fs::temp_directory_path() / "qeltest.XXXXXX";
  return mkdtemp(base.data());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void Write(int32_t handle, int32_t level, int32_t verbosity,
           const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogEntry(handle, level, verbosity, 0, 0, format, args);
  va_end(args);
}

int32_t Open(const std::u16string& path, int32_t limit) {
  int32_t handle = 0;
  EXPECT_NE(
      CreateLogHandle(&handle, kProperties, u"Test", 1, path.c_str(), 2, limit),
      0);
  return handle;
}

std::u16string Wide(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

TEST(QelLogTest, CreatesFolderReadsBackslashesAndWritesCsv) {
  const fs::path folder = FreshFolder();
  const std::u16string path =
      Wide((folder / "a" / "b").string()) + u"\\Filter-Module.csv";
  const int32_t handle = Open(path, 0);
  SetLogLevel(handle, 3);
  Write(handle, 2, 3, u"100%% sure, \"quoted\" %s %d", u"ärger", 42);
  Write(handle, 0, 1, u"plain");
  const std::string text = ReadFile(folder / "a" / "b" / "Filter-Module.csv");
  EXPECT_EQ(text.rfind("Timestamp,Source,Level,Verbosity,Message\n", 0), 0u);
  EXPECT_NE(text.find(",Test,TRACE,3,\"100% sure, \"\"quoted\"\" ärger 42\"\n"),
            std::string::npos);
  EXPECT_NE(text.find(",Test,ERROR,1,plain\n"), std::string::npos);
}

TEST(QelLogTest, ThresholdDropsMoreVerboseRecords) {
  const fs::path folder = FreshFolder();
  const int32_t handle = Open(Wide((folder / "log.csv").string()), 0);
  SetLogLevel(handle, 1);
  Write(handle, 2, 3, u"trace");
  Write(handle, 0, 1, u"error");
  const std::string text = ReadFile(folder / "log.csv");
  EXPECT_EQ(text.find("trace"), std::string::npos);
  EXPECT_NE(text.find("error"), std::string::npos);
}

TEST(QelLogTest, RefusesWhatItCannotOpen) {
  int32_t handle = 0;
  EXPECT_EQ(CreateLogHandle(&handle, kProperties, u"Test", 1,
                            u"/dev/null/x/log.csv", 2, 0),
            0);
  EXPECT_EQ(CreateLogHandle(&handle, u"%Source; %Colour;", u"Test", 1), 0);
  EXPECT_EQ(CreateLogHandle(&handle, kProperties, u"Test", 1, u"", 2, 0), 0);
  EXPECT_EQ(CreateLogHandle(nullptr, kProperties, u"Test", 1, u"x", 2, 0), 0);
  // Writing to a handle that was never made does nothing.
  Write(0, 0, 1, u"nowhere");
  Write(9999, 0, 1, u"nowhere");
}

TEST(QelLogTest, RotatesAtTheLimitAndKeepsOldFiles) {
  const fs::path folder = FreshFolder();
  qellog_SetLogProperties(2, 300, 10485760, 1);
  const int32_t handle =
      Open(Wide((folder / "Filter-Module.csv").string()), 400);
  SetLogLevel(handle, 3);
  for (int i = 0; i < 40; ++i) Write(handle, 0, 1, u"record number %d", i);
  qellog_SetLogProperties(10, 300, 10485760, 1);
  EXPECT_TRUE(fs::exists(folder / "Filter-Module.csv"));
  EXPECT_TRUE(fs::exists(folder / "Filter-Module.1.csv"));
  EXPECT_TRUE(fs::exists(folder / "Filter-Module.2.csv"));
  EXPECT_FALSE(fs::exists(folder / "Filter-Module.3.csv"));
  for (const char* name : {"Filter-Module.csv", "Filter-Module.1.csv"})
    EXPECT_LE(fs::file_size(folder / name), 400u) << name;
  EXPECT_NE(ReadFile(folder / "Filter-Module.csv").find("record number 39"),
            std::string::npos);
}

TEST(QelLogTest, CutsOverlongMessages) {
  const fs::path folder = FreshFolder();
  qellog_SetLogProperties(10, 300, 8, 0);
  const int32_t handle = Open(Wide((folder / "log.csv").string()), 0);
  SetLogLevel(handle, 3);
  Write(handle, 0, 1, u"abcdefghijkl");
  qellog_SetLogProperties(10, 300, 10485760, 1);
  const std::string text = ReadFile(folder / "log.csv");
  EXPECT_NE(text.find(",abcdefgh\n"), std::string::npos);
  EXPECT_EQ(text.find("Timestamp"), std::string::npos);  // no header row
}

TEST(QelLogTest, RecordsOfManyThreadsNeverInterleave) {
  const fs::path folder = FreshFolder();
  const int32_t handle = Open(Wide((folder / "log.csv").string()), 0);
  SetLogLevel(handle, 3);
  std::vector<std::thread> threads;
  const std::u16string body(300, u'x');
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i)
        Write(handle, 0, 1, u"thread %d %s", t, body.c_str());
    });
  }
  for (auto& thread : threads) thread.join();
  std::istringstream lines(ReadFile(folder / "log.csv"));
  std::string line;
  int records = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("Timestamp", 0) == 0) continue;
    ++records;
    EXPECT_EQ(line.substr(line.size() - 300), std::string(300, 'x'));
    EXPECT_NE(line.find(",Test,ERROR,1,thread "), std::string::npos);
  }
  EXPECT_EQ(records, 8 * 200);
}

// The log's files and folders are private to the user who writes them.
mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(QelLogSafetyTest, NewFoldersAndFilesAreOpenToTheOwnerOnly) {
  const fs::path folder = FreshFolder();
  const int32_t handle =
      Open(Wide((folder / "a" / "b").string()) + u"\\Filter-Module.csv", 0);
  Write(handle, 0, 1, u"record");
  EXPECT_EQ(ModeOf(folder / "a"), 0700u);
  EXPECT_EQ(ModeOf(folder / "a" / "b"), 0700u);
  EXPECT_EQ(ModeOf(folder / "a" / "b" / "Filter-Module.csv"), 0600u);
  EXPECT_EQ(ModeOf(folder / "a" / "b" / "Filter-Module.csv.lock"), 0600u);
}

// Another user plants the log's name first, as a link to a file of the
// user who runs the host. Nothing may reach the link's target.
TEST(QelLogSafetyTest, PlantedSymbolicLinkIsRefused) {
  const fs::path folder = FreshFolder();
  const fs::path victim = folder / "victim.txt";
  std::ofstream(victim) << "victim's data\n";
  fs::create_symlink(victim, folder / "Filter-Module.csv");
  int32_t handle = 0;
  EXPECT_EQ(CreateLogHandle(
                &handle, kProperties, u"Test", 1,
                Wide((folder / "Filter-Module.csv").string()).c_str(), 2, 0),
            0);
  Write(handle, 0, 1, u"record");
  EXPECT_EQ(ReadFile(victim), "victim's data\n");
  EXPECT_TRUE(fs::is_symlink(folder / "Filter-Module.csv"));
}

TEST(QelLogSafetyTest, DanglingLinkCreatesNothingAtItsTarget) {
  const fs::path folder = FreshFolder();
  const fs::path target = folder / "created-by-the-log";
  fs::create_symlink(target, folder / "log.csv");
  int32_t handle = 0;
  EXPECT_EQ(CreateLogHandle(&handle, kProperties, u"Test", 1,
                            Wide((folder / "log.csv").string()).c_str(), 2, 0),
            0);
  EXPECT_FALSE(fs::exists(target));
}

TEST(QelLogSafetyTest, PlantedHardLinkIsRefused) {
  const fs::path folder = FreshFolder();
  const fs::path victim = folder / "victim.txt";
  std::ofstream(victim) << "victim's data\n";
  fs::create_hard_link(victim, folder / "log.csv");
  int32_t handle = 0;
  EXPECT_EQ(CreateLogHandle(&handle, kProperties, u"Test", 1,
                            Wide((folder / "log.csv").string()).c_str(), 2, 0),
            0);
  Write(handle, 0, 1, u"record");
  EXPECT_EQ(ReadFile(victim), "victim's data\n");
}

// A FIFO without a reader would block an ordinary open for write forever.
TEST(QelLogSafetyTest, PlantedFifoIsRefusedWithoutBlocking) {
  const fs::path folder = FreshFolder();
  ASSERT_EQ(::mkfifo((folder / "log.csv").c_str(), 0600), 0);
  int32_t handle = 0;
  EXPECT_EQ(CreateLogHandle(&handle, kProperties, u"Test", 1,
                            Wide((folder / "log.csv").string()).c_str(), 2, 0),
            0);
}

TEST(QelLogSafetyTest, PlantedLockLinkIsNotFollowed) {
  const fs::path folder = FreshFolder();
  const fs::path target = folder / "created-by-the-lock";
  fs::create_symlink(target, folder / "log.csv.lock");
  const int32_t handle = Open(Wide((folder / "log.csv").string()), 0);
  Write(handle, 0, 1, u"record");
  EXPECT_FALSE(fs::exists(target));
  // The record itself is still written, without the lock between processes.
  EXPECT_NE(ReadFile(folder / "log.csv").find("record"), std::string::npos);
}

// The name is swapped for a link while the log is open: the log notices
// that the name no longer holds its file and does not follow the link.
TEST(QelLogSafetyTest, LinkSwappedInAfterTheOpenIsRefused) {
  const fs::path folder = FreshFolder();
  const fs::path log = folder / "log.csv";
  const int32_t handle = Open(Wide(log.string()), 0);
  Write(handle, 0, 1, u"first");
  const fs::path victim = folder / "victim.txt";
  std::ofstream(victim) << "victim's data\n";
  fs::rename(log, folder / "moved.csv");
  fs::create_symlink(victim, log);
  Write(handle, 0, 1, u"second");
  EXPECT_EQ(ReadFile(victim), "victim's data\n");
  EXPECT_EQ(ReadFile(folder / "moved.csv").find("second"), std::string::npos);
}

}  // namespace
