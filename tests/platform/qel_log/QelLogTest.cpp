#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdarg>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
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
  qellog_SetLogProperties(2, 1, 10485760, 1);
  const int32_t handle =
      Open(Wide((folder / "Filter-Module.csv").string()), 400);
  SetLogLevel(handle, 3);
  for (int i = 0; i < 40; ++i) Write(handle, 0, 1, u"record number %d", i);
  qellog_SetLogProperties(10, 1, 10485760, 1);
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
  qellog_SetLogProperties(10, 1, 8, 0);
  const int32_t handle = Open(Wide((folder / "log.csv").string()), 0);
  SetLogLevel(handle, 3);
  Write(handle, 0, 1, u"abcdefghijkl");
  qellog_SetLogProperties(10, 1, 10485760, 1);
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

// Observers see what the process logs, also when no file takes it.
TEST(QelLogObserverTest, ObserversSeeEveryRecordWhateverBecomesOfTheFile) {
  struct Seen {
    std::vector<std::u16string> messages;
  } seen;
  auto observe = [](void* context, int32_t level, int32_t verbosity,
                    const char16_t* message) {
    static_cast<Seen*>(context)->messages.push_back(
        std::u16string(message) + u" " + static_cast<char16_t>(u'0' + level) +
        static_cast<char16_t>(u'0' + verbosity));
  };
  ASSERT_NE(qellog_AddObserver(observe, &seen), 0);
  const fs::path folder = FreshFolder();
  const int32_t handle = Open(Wide((folder / "log.csv").string()), 0);
  SetLogLevel(handle, 1);
  const int64_t dropped = qellog_DroppedRecords();
  Write(handle, 0, 1, u"into the file %d%%", 7);
  Write(handle, 2, 3, u"above the threshold");
  Write(0, 0, 1, u"no file");
  EXPECT_EQ(qellog_DroppedRecords(), dropped + 1);
  EXPECT_NE(qellog_RemoveObserver(observe, &seen), 0);
  EXPECT_EQ(qellog_RemoveObserver(observe, &seen), 0);
  Write(0, 0, 1, u"after");
  EXPECT_EQ(seen.messages, (std::vector<std::u16string>{u"into the file 7% 01",
                                                        u"no file 01"}));
  EXPECT_NE(ReadFile(folder / "log.csv").find("into the file 7%"),
            std::string::npos);
  // An observer that fails leaves a count, for those that must see all.
  auto failing = [](void*, int32_t, int32_t, const char16_t*) {
    throw std::runtime_error("no room");
  };
  ASSERT_NE(qellog_AddObserver(failing, nullptr), 0);
  const int64_t unobserved = qellog_UnobservedRecords();
  Write(handle, 0, 1, u"missed");
  EXPECT_EQ(qellog_UnobservedRecords(), unobserved + 1);
  EXPECT_NE(qellog_RemoveObserver(failing, nullptr), 0);
  EXPECT_NE(ReadFile(folder / "log.csv").find("missed"), std::string::npos);
}

// In a folder open to everybody (a host's shared log folder), another user
// may make the log or its lock first.
TEST(QelLogSafetyTest, FilesOfAnotherUserAreRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make another's files";
  const fs::path folder = FreshFolder();
  const fs::path log = folder / "Filter-Module.csv";
  std::ofstream(log) << "theirs\n";
  ASSERT_EQ(::chmod(log.c_str(), 0666), 0);
  ASSERT_EQ(::chown(log.c_str(), 65534, 65534), 0);
  int32_t handle = 0;
  EXPECT_EQ(CreateLogHandle(&handle, kProperties, u"Test", 1,
                            Wide(log.string()).c_str(), 2, 0),
            0);
  Write(handle, 0, 1, u"secret value");
  EXPECT_EQ(ReadFile(log), "theirs\n");
  // Their lock file, held by them: not waited for at all; the record is
  // written without the lock.
  const fs::path other = folder / "other.csv";
  std::ofstream(other.string() + ".lock") << "";
  ASSERT_EQ(::chown((other.string() + ".lock").c_str(), 65534, 65534), 0);
  const int held = ::open((other.string() + ".lock").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const int32_t mine = Open(Wide(other.string()), 0);
  const auto start = std::chrono::steady_clock::now();
  Write(mine, 0, 1, u"mine");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_NE(ReadFile(other).find("mine"), std::string::npos);
  ::close(held);
}

// A lock held by another process for longer than a second costs that
// record (counted), not the host's thread.
TEST(QelLogSafetyTest, ALockHeldTooLongDropsTheRecordAfterASecond) {
  qellog_SetLogProperties(10, 1, 10485760, 1);
  const fs::path folder = FreshFolder();
  const fs::path log = folder / "log.csv";
  const int32_t handle = Open(Wide(log.string()), 0);
  Write(handle, 0, 1, u"before");
  // Another open file description conflicts as another process would.
  const int held = ::open((log.string() + ".lock").c_str(), O_RDWR);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const int64_t dropped = qellog_DroppedRecords();
  const auto start = std::chrono::steady_clock::now();
  Write(handle, 0, 1, u"while held");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(3));
  EXPECT_EQ(qellog_DroppedRecords(), dropped + 1);
  // The log then shuts for the retry time: the next record does not wait.
  const auto next = std::chrono::steady_clock::now();
  Write(handle, 0, 1, u"also dropped");
  EXPECT_LT(std::chrono::steady_clock::now() - next,
            std::chrono::milliseconds(100));
  EXPECT_EQ(qellog_DroppedRecords(), dropped + 2);
  ::flock(held, LOCK_UN);
  ::close(held);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  Write(handle, 0, 1, u"after");
  const std::string text = ReadFile(log);
  EXPECT_EQ(text.find("while held"), std::string::npos);
  EXPECT_EQ(text.find("also dropped"), std::string::npos);
  EXPECT_NE(text.find("after"), std::string::npos);
}

// A write cut short (the file-size limit stands in for a full disk) is
// taken back, so the next record never runs into half of one; the file is
// tried again a second later, not minutes later.
TEST(QelLogSafetyTest, AShortWriteIsTakenBackAndRetriedASecondLater) {
  const fs::path folder = FreshFolder();
  const fs::path log = folder / "log.csv";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    qellog_SetLogProperties(10, 1, 10485760, 1);
    const int32_t handle = Open(Wide(log.string()), 0);
    Write(handle, 0, 1, u"first");
    const auto size = static_cast<rlim_t>(fs::file_size(log));
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{size + 40, limit.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    Write(handle, 0, 1, u"%s", std::u16string(200, u'x').c_str());
    const bool cut_back = fs::file_size(log) == size;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    Write(handle, 0, 1, u"too soon");
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    Write(handle, 0, 1, u"later");
    const std::string text = ReadFile(log);
    const bool whole = text.find("xxx") == std::string::npos &&
                       text.find("too soon") == std::string::npos &&
                       text.size() > 5 &&
                       text.compare(text.size() - 7, 7, ",later\n") == 0;
    ::_exit(cut_back && whole ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(log);
}
