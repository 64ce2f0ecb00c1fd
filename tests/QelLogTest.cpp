#include <gtest/gtest.h>

#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/QelLog.h"

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

}  // namespace
