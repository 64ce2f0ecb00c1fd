#include "decide/ModuleLog.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "common/Utf8.h"
#include "qel_log/QelLog.h"

namespace eventquery {

struct LogCaptureAccess {
  static thread_local LogCapture* current;
  static void Add(LogCapture& capture, int32_t level, const char16_t* message) {
    try {
      capture.records_.push_back({LevelWord(level), common::ToUtf8(message)});
    } catch (...) {
      capture.lost_ = true;  // no memory for it
    }
  }
  static std::string LevelWord(int32_t level) {
    switch (level) {
      case 0:
        return filtermodule::kLogLevelError;
      case 2:
        return filtermodule::kLogLevelTrace;
      default:
        return std::to_string(level);
    }
  }
};

thread_local LogCapture* LogCaptureAccess::current = nullptr;

namespace {

struct OwnFolder {
  std::mutex mutex;
  std::filesystem::path path;  // removed at exit
  void Remove() {
    std::lock_guard<std::mutex> lock(mutex);
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
    path.clear();
  }
  ~OwnFolder() { Remove(); }
};

OwnFolder& Own() {
  static OwnFolder own;
  return own;
}

// Called by the logging library on the thread that writes the record.
void Observe(void* /*context*/, int32_t level, int32_t /*verbosity*/,
             const char16_t* message) {
  LogCapture* capture = LogCaptureAccess::current;
  if (capture == nullptr || message == nullptr) return;
  LogCaptureAccess::Add(*capture, level, message);
}

void Observed() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (qellog_AddObserver(&Observe, nullptr) == 0)
      throw std::runtime_error("cannot observe the filter module's log");
  });
}

}  // namespace

void ModuleLog::Setup(const std::string& folder, bool debug) {
  Observed();
  OwnFolder& own = Own();
  std::filesystem::path dir = folder;
  if (dir.empty()) {
    std::string base =
        (std::filesystem::temp_directory_path() / "evfilter.XXXXXX").string();
    if (::mkdtemp(base.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder for the log");
    dir = base;
    std::lock_guard<std::mutex> lock(own.mutex);
    own.path = dir;
  }
  ::setenv("KVAL_LOG_FOLDER", dir.c_str(), 1);
  if (debug)
    ::setenv("KVAL_DEBUG_LOG", "1", 1);
  else if (folder.empty())
    ::setenv("KVAL_DEBUG_LOG", "0", 1);  // nobody reads those traces
}

int64_t ModuleLog::DroppedRecords() { return qellog_DroppedRecords(); }

LogCapture::LogCapture()
    : outer_(LogCaptureAccess::current),
      unobserved_at_start_(qellog_UnobservedRecords()) {
  Observed();
  LogCaptureAccess::current = this;
}

LogCapture::~LogCapture() { LogCaptureAccess::current = outer_; }

bool LogCapture::complete() const {
  return !lost_ && qellog_UnobservedRecords() == unobserved_at_start_;
}

}  // namespace eventquery
