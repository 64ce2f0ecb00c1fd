// Stand-in for the maker's logging library: a CSV log writer.
//
// A log is created by CreateLogHandle from named properties:
//   Source        text written into every record's source column
//   Locking       1: records of several threads and processes never
//                 interleave (an in-process mutex plus flock on
//                 "<file>.lock"); 0: the in-process mutex only
//   CSV Log Path  file path; every backslash is read as "/"; a missing
//                 folder is created, open to its owner only (0700)
//   Output Type   2: CSV file (the only kind this library writes)
//   CSV Limit     bytes a file may reach before it is rotated; 0 or less
//                 never rotates
// A record is one CSV line (RFC 4180 quoting, UTF-8): local timestamp with
// milliseconds, source, level name, verbosity, message. It is written when
// its verbosity is at most the log's threshold (SetLogLevel; 1 until set).
// Rotation renames "X.csv" to "X.1.csv", "X.1.csv" to "X.2.csv" and so on,
// keeping as many old files as qellog_SetLogProperties says.
//
// qellog_SetLogProperties(keep_files, retry_seconds, max_message_bytes,
// header_row), defaults 10, 300, 10485760, 1:
//   keep_files         rotated files kept (0: none)
//   retry_seconds      after a record could not be written (folder gone,
//                      disk full), records are dropped for this many seconds
//                      before the file is opened again (the module asks
//                      for 1)
//   max_message_bytes  longer messages are cut to this many UTF-8 bytes
//   header_row         1: a new file starts with a header row
//
// Nothing here fails its caller: a record that cannot be written is dropped
// and counted (qellog_DroppedRecords). A record is written whole or not at
// all: one write() under the lock, and a short one is cut back to where the
// record began. The lock between processes is waited for at most a second.
//
// Observers (qellog_AddObserver) see every record a log of the process
// takes, and those sent to a handle that never opened, on the writing
// thread and before the file is tried: what a process wrote reaches it
// whatever happens to the file.
//
// Files are made so that the log cannot be turned against the user who
// writes it: the log and its lock file are created with mode 0600, and are
// opened only when the name is a regular file with a single link that this
// user owns, never through a symbolic link; anything else counts as a
// failed open and its records are dropped. Rotation renames the log only when
// the name still holds the very file this process has open, and moves older
// files only when they are regular files.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/Utf8.h"
#include "qel_log/QelLog.h"

namespace {

std::atomic<int32_t> g_keep_files{10};
std::atomic<int32_t> g_retry_seconds{1};
std::atomic<int32_t> g_max_message_bytes{10485760};
std::atomic<int32_t> g_header_row{1};

constexpr char kHeader[] = "Timestamp,Source,Level,Verbosity,Message\n";

// Records dropped: not written, or written short and cut back.
std::atomic<int64_t> g_dropped{0};
// Records that could not be handed to the observers (no memory to format
// one, an observer that failed).
std::atomic<int64_t> g_unobserved{0};

// The registered observers. Records are handed out under the shared lock;
// adding or removing one takes it whole. Never destroyed, like the logs:
// threads may still write while the process exits.
struct Observers {
  std::shared_mutex mutex;
  std::vector<std::pair<QelLogObserverFn, void*>> list;
};
Observers& TheObservers() {
  static Observers* observers = new Observers();
  return *observers;
}
std::atomic<bool> g_have_observers{false};

void Notify(int32_t level, int32_t verbosity, const char16_t* message) {
  if (!g_have_observers.load(std::memory_order_acquire)) return;
  Observers& o = TheObservers();
  std::shared_lock<std::shared_mutex> lock(o.mutex);
  for (const auto& [fn, context] : o.list) {
    try {
      fn(context, level, verbosity, message);
    } catch (...) {
      // An observer's failure is its own; the record still goes on, but
      // it was not seen.
      g_unobserved.fetch_add(1, std::memory_order_relaxed);
    }
  }
}

// Creates every missing folder on the way to `dir`.
void MakeFolders(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos == dir.size() || dir[pos] == '/') {
      std::string part = dir.substr(0, pos);
      if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return;
    }
  }
}

// Opens `path` for `flags`, creating it with mode 0600. Refuses a symbolic
// link (O_NOFOLLOW), a FIFO or device (O_NONBLOCK keeps a FIFO without a
// reader from blocking the open), a file with more than one link (a hard
// link planted to another file) and one another user owns. -1 on refusal or
// failure.
int OpenOwnFile(const std::string& path, int flags) {
  int fd = ::open(path.c_str(),
                  flags | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  // Never a standard descriptor: in a host whose standard output is closed,
  // a log opened as 1 would take the host's output, and the host's
  // output would land in the log.
  if (fd <= STDERR_FILENO) {
    const int high = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    if (high < 0) return -1;
    fd = high;
  }
  struct stat st {};
  // A file another user made first in a shared folder is theirs to read.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 ||
      st.st_uid != ::geteuid()) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// True when `path` names a regular file itself (not a link to one).
bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// "dir/name.csv" with index 3 -> "dir/name.3.csv".
std::string RotatedName(const std::string& path, int index) {
  const size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
    dot = path.size();
  return path.substr(0, dot) + "." + std::to_string(index) + path.substr(dot);
}

void AppendCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out.append(field);
    return;
  }
  out.push_back('"');
  for (char c : field) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  out.push_back('"');
}

std::string LevelName(int32_t level) {
  switch (level) {
    case 0:
      return "ERROR";
    case 1:
      return "WARNING";
    case 2:
      return "TRACE";
    default:
      return std::to_string(level);
  }
}

void AppendTimestamp(std::string& out) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char buf[64];
  const size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(buf + n, sizeof buf - n, ".%03ld", now.tv_nsec / 1000000);
  out += buf;
}

// printf-style formatting of a UTF-16 format into `out`: %%, %s
// (const char16_t*), %d, %i, %u, %ld, %lu, %c. Anything else is copied as it
// stands.
void Format(const char16_t* format, va_list args, std::u16string& out) {
  out.clear();
  if (format == nullptr) return;
  auto append_ascii = [&out](const char* s) {
    while (*s) out.push_back(static_cast<char16_t>(*s++));
  };
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') {
      out.push_back(*p);
      continue;
    }
    const char16_t* start = p;
    bool is_long = false;
    if (p[1] == u'l') {
      is_long = true;
      ++p;
    }
    char buf[32];
    switch (p[1]) {
      case u'%':
        out.push_back(u'%');
        ++p;
        break;
      case u's': {
        const char16_t* s = va_arg(args, const char16_t*);
        out.append(s ? s : u"(null)");
        ++p;
        break;
      }
      case u'd':
      case u'i':
        if (is_long)
          std::snprintf(buf, sizeof buf, "%ld", va_arg(args, long));
        else
          std::snprintf(buf, sizeof buf, "%d", va_arg(args, int));
        append_ascii(buf);
        ++p;
        break;
      case u'u':
        if (is_long)
          std::snprintf(buf, sizeof buf, "%lu", va_arg(args, unsigned long));
        else
          std::snprintf(buf, sizeof buf, "%u", va_arg(args, unsigned));
        append_ascii(buf);
        ++p;
        break;
      case u'c':
        out.push_back(static_cast<char16_t>(va_arg(args, int)));
        ++p;
        break;
      default:
        p = start;
        out.push_back(u'%');
        break;
    }
  }
}

class LogFile {
 public:
  LogFile(std::string source, bool locking, std::string path, int64_t limit)
      : source_(std::move(source)),
        locking_(locking),
        path_(std::move(path)),
        lock_path_(path_ + ".lock"),
        limit_(limit) {}

  ~LogFile() {
    if (fd_ >= 0) ::close(fd_);
    if (lock_fd_ >= 0) ::close(lock_fd_);
  }

  // Opens the file for a first time; false when it cannot be written.
  bool Open() {
    std::lock_guard<std::mutex> guard(mu_);
    return OpenLocked();
  }

  void SetThreshold(int32_t threshold) { threshold_.store(threshold); }

  bool Wants(int32_t verbosity) const {
    return verbosity <= threshold_.load(std::memory_order_relaxed);
  }

  // Buffers are per thread and reused, so that a steady stream of records
  // allocates nothing.
  void Write(int32_t level, int32_t verbosity, std::u16string_view message) {
    thread_local std::string record;
    thread_local std::string text;
    record.clear();
    AppendTimestamp(record);
    record.push_back(',');
    AppendCsvField(record, source_);
    record.push_back(',');
    record += LevelName(level);
    record.push_back(',');
    record += std::to_string(verbosity);
    record.push_back(',');
    text.clear();
    common::AppendUtf8(message, text);
    const auto max = static_cast<size_t>(std::max<int32_t>(
        0, g_max_message_bytes.load(std::memory_order_relaxed)));
    if (text.size() > max) {
      size_t cut = max;
      while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
      text.resize(cut);
    }
    AppendCsvField(record, text);
    record.push_back('\n');

    std::lock_guard<std::mutex> guard(mu_);
    const auto now = std::chrono::steady_clock::now();
    if (now < retry_after_) {
      g_dropped.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    // A lock held elsewhere for a second costs this record, and the log
    // shuts as after a failed write, so that the next records do not wait
    // too. A lock file that is refused (a link, another user's) or that
    // cannot be locked at all is done without: one write per record keeps
    // records whole all the same.
    ProcessLock lock(locking_ ? LockFd() : -1);
    if (lock.timed_out()) {
      g_dropped.fetch_add(1, std::memory_order_relaxed);
      // From the end of the wait, not its start.
      retry_after_ =
          std::chrono::steady_clock::now() +
          std::chrono::seconds(g_retry_seconds.load(std::memory_order_relaxed));
      return;
    }
    if (!EnsureCurrent() || !WriteAll(record, lock.held())) {
      g_dropped.fetch_add(1, std::memory_order_relaxed);
      CloseFile();
      retry_after_ = now + std::chrono::seconds(
                               g_retry_seconds.load(std::memory_order_relaxed));
    }
  }

 private:
  // flock on a separate file: the log file itself is renamed by rotation.
  // Waits at most a second for a lock held elsewhere: a process that holds
  // it longer must not block the host. A lock that cannot be taken at all
  // (no file, ENOLCK on a file system without locks) is neither held nor
  // timed out.
  class ProcessLock {
   public:
    explicit ProcessLock(int fd) : fd_(fd) {
      if (fd_ < 0) return;
      const auto give_up =
          std::chrono::steady_clock::now() + std::chrono::seconds(1);
      auto pause = std::chrono::microseconds(100);
      for (;;) {
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
          held_ = true;
          return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= give_up) {
          timed_out_ = true;
          break;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(10000));
      }
      fd_ = -1;
    }
    ~ProcessLock() {
      if (fd_ >= 0) ::flock(fd_, LOCK_UN);
    }
    bool held() const { return held_; }
    bool timed_out() const { return timed_out_; }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;

   private:
    int fd_;
    bool held_ = false;
    bool timed_out_ = false;
  };

  int LockFd() {
    if (lock_fd_ < 0) lock_fd_ = OpenOwnFile(lock_path_, O_RDWR);
    return lock_fd_;
  }

  bool OpenLocked() {
    CloseFile();
    const size_t slash = path_.rfind('/');
    if (slash != std::string::npos && slash > 0)
      MakeFolders(path_.substr(0, slash));
    fd_ = OpenOwnFile(path_, O_WRONLY | O_APPEND);
    if (fd_ < 0) return false;
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
      CloseFile();
      return false;
    }
    inode_ = st.st_ino;
    device_ = st.st_dev;
    return true;
  }

  void CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  // Makes fd_ the file now at path_ (another process may have rotated it)
  // and rotates it when the next record would pass the limit.
  bool EnsureCurrent() {
    struct stat st {};
    if (fd_ < 0 || ::lstat(path_.c_str(), &st) != 0 || st.st_ino != inode_ ||
        st.st_dev != device_) {
      if (!OpenLocked()) return false;
    }
    if (::fstat(fd_, &st) != 0) return false;
    pending_size_ = st.st_size;
    return true;
  }

  // `locked`: no other process appends meanwhile.
  bool WriteAll(const std::string& record, bool locked) {
    if (limit_ > 0 && pending_size_ > 0 &&
        pending_size_ + static_cast<int64_t>(record.size()) > limit_) {
      Rotate();
      if (!OpenLocked()) return false;
      pending_size_ = 0;
    }
    if (pending_size_ == 0 && g_header_row.load(std::memory_order_relaxed)) {
      thread_local std::string headed;
      headed.assign(kHeader, sizeof kHeader - 1);
      headed += record;
      return WriteWhole(headed, locked);
    }
    return WriteWhole(record, locked);
  }

  // One write of all of `bytes`: a record never shares a line with half of
  // another. A short write (a full disk) is cut back to where it began
  // when `locked`; without the lock another process may have appended
  // since, and its records must not be cut.
  bool WriteWhole(const std::string& bytes, bool locked) {
    ssize_t n;
    do {
      n = ::write(fd_, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(bytes.size())) return true;
    if (n > 0 && locked) {
      // Under the lock nobody else appends: the file ended at pending_size_.
      while (::ftruncate(fd_, static_cast<off_t>(pending_size_)) != 0 &&
             errno == EINTR) {
      }
    }
    return false;
  }

  // Moves the open file aside. Does nothing when the name no longer holds
  // the file that fd_ has open: whatever stands there now is not ours to
  // move, and the next open decides about it.
  void Rotate() {
    const int keep = g_keep_files.load(std::memory_order_relaxed);
    struct stat st {};
    const bool ours = fd_ >= 0 && ::lstat(path_.c_str(), &st) == 0 &&
                      S_ISREG(st.st_mode) && st.st_ino == inode_ &&
                      st.st_dev == device_;
    CloseFile();
    if (!ours) return;
    if (keep <= 0) {
      ::unlink(path_.c_str());
      return;
    }
    ::unlink(RotatedName(path_, keep).c_str());
    for (int k = keep - 1; k >= 1; --k) {
      const std::string from = RotatedName(path_, k);
      if (IsRegularFile(from))
        ::rename(from.c_str(), RotatedName(path_, k + 1).c_str());
    }
    ::rename(path_.c_str(), RotatedName(path_, 1).c_str());
  }

  const std::string source_;
  const bool locking_;
  const std::string path_;
  const std::string lock_path_;
  const int64_t limit_;
  std::atomic<int32_t> threshold_{1};

  std::mutex mu_;  // guards everything below
  int fd_ = -1;
  int lock_fd_ = -1;
  ino_t inode_ = 0;
  dev_t device_ = 0;
  int64_t pending_size_ = 0;
  std::chrono::steady_clock::time_point retry_after_{};
};

// Handles are 1-based slots; a log lives until the process ends.
constexpr int32_t kMaxLogs = 256;
std::array<std::atomic<LogFile*>, kMaxLogs> g_logs{};
std::atomic<int32_t> g_log_count{0};

LogFile* Lookup(int32_t handle) {
  if (handle <= 0 || handle > kMaxLogs) return nullptr;
  return g_logs[static_cast<size_t>(handle - 1)].load(
      std::memory_order_acquire);
}

std::u16string_view Trim(std::u16string_view s) {
  while (!s.empty() && (s.front() == u' ' || s.front() == u'\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == u' ' || s.back() == u'\t'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

extern "C" int32_t CreateLogHandle(int32_t* handle,
                                   const char16_t* property_list, ...) {
  if (handle == nullptr || property_list == nullptr) return 0;
  va_list args;
  va_start(args, property_list);
  // va_end however this function ends.
  struct ArgsEnd {
    va_list& args;
    ~ArgsEnd() { va_end(args); }
  } args_end{args};
  std::u16string source = u"";
  std::u16string path;
  int32_t locking = 0;
  int32_t output_type = 2;
  int64_t limit = 0;
  bool known = true;
  try {
    std::u16string_view list(property_list);
    while (known && !list.empty()) {
      const size_t end = list.find(u';');
      std::u16string_view item = Trim(list.substr(0, end));
      list = end == std::u16string_view::npos ? std::u16string_view()
                                              : list.substr(end + 1);
      if (item.empty()) continue;
      if (item.front() == u'%') item.remove_prefix(1);
      // Each value's type follows from its property's name.
      if (item == u"Source") {
        const char16_t* s = va_arg(args, const char16_t*);
        source = s ? s : u"";
      } else if (item == u"CSV Log Path") {
        const char16_t* s = va_arg(args, const char16_t*);
        path = s ? s : u"";
      } else if (item == u"Locking") {
        locking = va_arg(args, int32_t);
      } else if (item == u"Output Type") {
        output_type = va_arg(args, int32_t);
      } else if (item == u"CSV Limit") {
        limit = va_arg(args, int32_t);
      } else {
        known = false;  // its value's type is unknown: the list cannot be read
      }
    }
    if (!known || path.empty() || output_type != 2) return 0;
    for (char16_t& c : path)
      if (c == u'\\') c = u'/';
    // "\\" doubled by a folder that ended in a backslash stays one separator.
    std::string narrow_path;
    for (char c : common::ToUtf8(path))
      if (!(c == '/' && !narrow_path.empty() && narrow_path.back() == '/'))
        narrow_path.push_back(c);
    auto log = std::make_unique<LogFile>(common::ToUtf8(source), locking == 1,
                                         std::move(narrow_path), limit);
    if (!log->Open()) return 0;
    const int32_t slot = g_log_count.fetch_add(1);
    if (slot >= kMaxLogs) return 0;
    g_logs[static_cast<size_t>(slot)].store(log.release(),
                                            std::memory_order_release);
    *handle = slot + 1;
    return 1;
  } catch (...) {
    return 0;
  }
}

extern "C" int32_t SetLogLevel(int32_t handle, int32_t threshold) {
  LogFile* log = Lookup(handle);
  if (log == nullptr) return 0;
  log->SetThreshold(threshold);
  return 1;
}

extern "C" int32_t WriteLogEntry(int32_t handle, int32_t level,
                                 int32_t verbosity, int32_t /*reserved1*/,
                                 int32_t /*reserved2*/, const char16_t* format,
                                 va_list args) {
  LogFile* log = Lookup(handle);
  if (log != nullptr && !log->Wants(verbosity)) return 1;
  // A record for a log that never opened is a record not written.
  if (log == nullptr) g_dropped.fetch_add(1, std::memory_order_relaxed);
  if (log == nullptr && !g_have_observers.load(std::memory_order_acquire))
    return 0;
  try {
    thread_local std::u16string message;
    va_list copy;
    va_copy(copy, args);
    Format(format, copy, message);
    va_end(copy);
    Notify(level, verbosity, message.c_str());
    if (log == nullptr) return 0;
    log->Write(level, verbosity, message);
    return 1;
  } catch (...) {
    // No memory to format it: neither the file nor the observers have it.
    g_dropped.fetch_add(1, std::memory_order_relaxed);
    if (g_have_observers.load(std::memory_order_acquire))
      g_unobserved.fetch_add(1, std::memory_order_relaxed);
    return 0;
  }
}

extern "C" int32_t qellog_AddObserver(QelLogObserverFn fn, void* context) {
  if (fn == nullptr) return 0;
  try {
    Observers& o = TheObservers();
    std::unique_lock<std::shared_mutex> lock(o.mutex);
    o.list.emplace_back(fn, context);
    g_have_observers.store(true, std::memory_order_release);
    return 1;
  } catch (...) {
    return 0;
  }
}

extern "C" int32_t qellog_RemoveObserver(QelLogObserverFn fn, void* context) {
  Observers& o = TheObservers();
  std::unique_lock<std::shared_mutex> lock(o.mutex);
  for (auto it = o.list.begin(); it != o.list.end(); ++it) {
    if (it->first == fn && it->second == context) {
      o.list.erase(it);
      g_have_observers.store(!o.list.empty(), std::memory_order_release);
      return 1;
    }
  }
  return 0;
}

extern "C" int64_t qellog_DroppedRecords() {
  return g_dropped.load(std::memory_order_relaxed);
}

extern "C" int64_t qellog_UnobservedRecords() {
  return g_unobserved.load(std::memory_order_relaxed);
}

extern "C" int32_t qellog_SetLogProperties(int32_t keep_files,
                                           int32_t retry_seconds,
                                           int32_t max_message_bytes,
                                           int32_t header_row) {
  g_keep_files.store(keep_files < 0 ? 0 : keep_files);
  g_retry_seconds.store(retry_seconds < 0 ? 0 : retry_seconds);
  g_max_message_bytes.store(max_message_bytes < 0 ? 0 : max_message_bytes);
  g_header_row.store(header_row);
  return 1;
}
