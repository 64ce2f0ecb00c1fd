#include "decide/ModuleLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <stdexcept>

#include "records/ChunkedInput.h"
#include "records/CsvCells.h"

namespace eventquery {
namespace {

struct LogState {
  std::mutex mutex;
  std::filesystem::path file;
  std::filesystem::path own_folder;  // removed at exit
  uint64_t offset = 0;
  ~LogState() {
    std::error_code ignored;
    if (!own_folder.empty()) std::filesystem::remove_all(own_folder, ignored);
  }
};

LogState& State() {
  static LogState state;
  return state;
}

// The bytes of `path` from `offset` on, without following a link.
std::string ReadFrom(const std::filesystem::path& path, uint64_t* offset) {
  std::string bytes;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return bytes;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    const auto size = static_cast<uint64_t>(st.st_size);
    if (size < *offset) *offset = 0;  // rotated or cut short
    if (size > *offset) {
      bytes.resize(size - *offset);
      const ssize_t n =
          ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(*offset));
      bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
  }
  ::close(fd);
  return bytes;
}

}  // namespace

void ModuleLog::Setup(const std::string& folder, bool debug) {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::filesystem::path dir = folder;
  if (dir.empty()) {
    std::string base =
        (std::filesystem::temp_directory_path() / "evfilter.XXXXXX").string();
    if (::mkdtemp(base.data()) == nullptr)
      throw std::runtime_error("cannot make a temporary folder for the log");
    dir = base;
    s.own_folder = dir;
  }
  ::setenv("KVAL_LOG_FOLDER", dir.c_str(), 1);
  if (debug)
    ::setenv("KVAL_DEBUG_LOG", "1", 1);
  else if (!s.own_folder.empty())
    ::setenv("KVAL_DEBUG_LOG", "0", 1);  // nobody reads those traces
  s.file = dir / filtermodule::kLogFileName;
  struct stat st {};
  s.offset =
      ::lstat(s.file.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

std::string ModuleLog::Unreadable() {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.file.empty()) return {};
  const int fd = ::open(s.file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  return "its log " + s.file.string() + " could not be written or read (" +
         std::strerror(errno) +
         "), so a line it could not build would go unnoticed; give "
         "--log-dir a folder of yours";
}

std::vector<LogRecord> ModuleLog::TakeNewRecords() {
  LogState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  std::vector<LogRecord> records;
  if (s.file.empty()) return records;
  uint64_t offset = s.offset;
  std::string bytes = ReadFrom(s.file, &offset);
  if (bytes.empty()) {
    s.offset = offset;
    return records;
  }
  std::FILE* memory = ::fmemopen(bytes.data(), bytes.size(), "rb");
  if (memory == nullptr) return records;
  ChunkedInput input(memory);
  std::string_view raw, terminator;
  uint64_t lines = 0, open_quote = 0;
  uint64_t consumed = 0;
  std::string arena;
  std::vector<std::optional<std::string_view>> cells;
  while (input.NextCsvRecord(&raw, &terminator, &lines, &open_quote)) {
    if (terminator.empty()) break;  // still being written
    consumed += raw.size() + terminator.size();
    SplitCsv(raw, arena, cells);
    if (cells.size() == 5 && *cells[0] != "Timestamp")
      records.push_back({std::string(*cells[2]), std::string(*cells[4])});
  }
  std::fclose(memory);
  s.offset = offset + consumed;
  return records;
}

}  // namespace eventquery
