#include "log/DiagnosticLog.h"

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <mutex>
#include <string>

#include "KVALInterface/GeneralSettings.h"
#include "qel_log/QelLog.h"

namespace filtermodule {
namespace {

constexpr char16_t kPropertyList[] =
    u"%Source; %Locking; %CSV Log Path; %Output Type; %CSV Limit;";
constexpr char16_t kSource[] = u"FilterModule";
constexpr char16_t kFileName[] = u"\\Filter-Module.csv";
constexpr int32_t kLocking = 1;
constexpr int32_t kOutputType = 2;
constexpr int32_t kCsvLimit = 26214400;  // 25 MiB

// Process-wide state. open_result is published last, with release order, so
// a thread that sees it non-zero also sees the handle and the threshold.
std::atomic<int32_t> g_open_result{0};
std::atomic<int32_t> g_handle{0};
std::atomic<int32_t> g_threshold{1};
std::atomic<int32_t> g_open_attempts{0};
std::mutex g_open_mutex;
// When the last failed open happened; guarded by g_open_mutex.
std::chrono::steady_clock::time_point g_last_failure;
bool g_failed_before = false;

// Releases the settings object however OpenLog ends.
struct SettingsGuard {
  IGeneralSettings* settings;
  ~SettingsGuard() {
    if (settings != nullptr) settings->Release();
  }
};

// Passes the library the extra properties; any failure is dropped.
void SetLibraryProperties() noexcept {
  void* library = ::dlopen(kQelLogLibraryName, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return;
  if (auto fn = reinterpret_cast<QelLogSetPropertiesFn>(
          ::dlsym(library, kQelLogSetPropertiesName))) {
    try {
      // A failed write shuts the log for a second, not five minutes: the
      // records of those minutes would be lost.
      fn(10, 1, 10485760, 1);
    } catch (...) {
    }
  }
  ::dlclose(library);
}

// Opens the log. Called with g_open_mutex held and the log not open.
void OpenLogLocked() {
  SettingsGuard guard{CreateGeneralSettings()};
  if (guard.settings == nullptr) return;
  const char16_t* folder = guard.settings->GetLogFolder();
  if (folder == nullptr) return;
  std::u16string path(folder);
  path += kFileName;
  int32_t handle = 0;
  g_open_attempts.fetch_add(1, std::memory_order_relaxed);
  const int32_t result =
      CreateLogHandle(&handle, kPropertyList, kSource, kLocking, path.c_str(),
                      kOutputType, kCsvLimit);
  const int32_t threshold = guard.settings->IsDebugLogEnabled() ? 3 : 1;
  SetLogLevel(handle, threshold);
  guard.settings->Release();
  guard.settings = nullptr;
  SetLibraryProperties();
  g_handle.store(handle, std::memory_order_relaxed);
  g_threshold.store(threshold, std::memory_order_relaxed);
  g_open_result.store(result, std::memory_order_release);
}

// True when the log is open after the call.
bool EnsureOpen() noexcept {
  if (g_open_result.load(std::memory_order_acquire) != 0) return true;
  try {
    std::lock_guard<std::mutex> lock(g_open_mutex);
    if (g_open_result.load(std::memory_order_acquire) != 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (g_failed_before && now - g_last_failure < std::chrono::seconds(1))
      return false;
    try {
      OpenLogLocked();
    } catch (...) {
    }
    if (g_open_result.load(std::memory_order_acquire) != 0) return true;
    g_failed_before = true;
    g_last_failure = now;
  } catch (...) {
  }
  return false;
}

int32_t VerbosityOf(int32_t level) { return level == 0 ? 1 : 3; }

void CallWriteLogEntry(int32_t handle, int32_t level, int32_t verbosity,
                       const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  WriteLogEntry(handle, level, verbosity, 0, 0, format, args);
  va_end(args);
}

}  // namespace

bool LogWants(int32_t level) noexcept {
  // A log that is not open still takes the record: the library hands it to
  // the process's observers (a host that must know of a failed build).
  EnsureOpen();
  return VerbosityOf(level) <= g_threshold.load(std::memory_order_relaxed);
}

void WriteLog(int32_t level, std::u16string_view text) noexcept {
  if (!LogWants(level)) return;
  try {
    // Every "%" is doubled so that the library's formatter writes the
    // message literally; no format arguments are passed.
    char16_t small[257];
    std::u16string large;
    char16_t* escaped = small;
    size_t percents = 0;
    for (char16_t c : text) percents += c == u'%';
    const size_t length = text.size() + percents;
    if (length >= sizeof small / sizeof small[0]) {
      large.resize(length);
      escaped = large.data();
    }
    size_t out = 0;
    for (char16_t c : text) {
      escaped[out++] = c;
      if (c == u'%') escaped[out++] = u'%';
    }
    escaped[out] = u'\0';
    CallWriteLogEntry(g_handle.load(std::memory_order_relaxed), level,
                      VerbosityOf(level), escaped);
  } catch (...) {
    // A message that cannot be copied is dropped.
  }
}

void WriteLog(int32_t level, const char16_t* text) noexcept {
  WriteLog(level,
           text == nullptr ? std::u16string_view() : std::u16string_view(text));
}

int32_t DiagnosticLogOpenAttempts() noexcept {
  return g_open_attempts.load(std::memory_order_relaxed);
}

}  // namespace filtermodule
