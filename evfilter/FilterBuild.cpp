#include "evfilter/FilterBuild.h"

#include "evfilter/CsvReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "evfilter/RecordReaders.h"

namespace evfilter {
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
  s.file = dir / kLogFileName;
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

BuiltFilter::BuiltFilter(const std::vector<memhost::LineSpec>& lines)
    : list_(lines), definition_(&list_) {
  // One build at a time, so that the records read back are this build's.
  static std::mutex build_mutex;
  std::lock_guard<std::mutex> lock(build_mutex);
  ModuleLog::TakeNewRecords();  // what came before is not this build's
  filter_ = CreateFilterFromFilterDefinition(&definition_);
  records_ = ModuleLog::TakeNewRecords();
  // A log that cannot be written or read would hide a partial build.
  if (const std::string problem = ModuleLog::Unreadable(); !problem.empty()) {
    if (filter_ != nullptr) DestroyFilter(filter_);
    filter_ = nullptr;
    throw BuildError(problem);
  }
  std::string errors;
  for (const LogRecord& r : records_)
    if (r.level == kLogLevelError)
      errors += (errors.empty() ? "" : "; ") + r.message;
  if (filter_ == nullptr && errors.empty())
    errors = "the filter module could not create a filter";
  if (!errors.empty()) {
    if (filter_ != nullptr) DestroyFilter(filter_);
    filter_ = nullptr;
    throw BuildError(errors);
  }
}

BuiltFilter::~BuiltFilter() {
  if (filter_ != nullptr) DestroyFilter(filter_);
}

FilterVariants::FilterVariants(std::vector<memhost::LineSpec> lines)
    : lines_(std::move(lines)), base_(std::make_unique<BuiltFilter>(lines_)) {}

IFilter* FilterVariants::For(const std::string& forced) {
  if (forced.find_first_not_of('.') == std::string::npos) return base_->get();
  auto found = cache_.find(forced);
  if (found != cache_.end()) return found->second->get();
  // Bounded: records rarely lack more than a few patterns of fields, but a
  // pathological input must not grow the cache without end.
  if (cache_.size() >= 4096) cache_.clear();
  std::vector<memhost::LineSpec> lines = lines_;
  for (size_t i = 0; i < lines.size() && i < forced.size(); ++i) {
    if (forced[i] == '.') continue;
    memhost::LineSpec& l = lines[i];
    l.type = 1;  // text
    l.has_tag = false;
    l.tag.clear();
    if (forced[i] == 'F') {
      l.op = 1;  // LIKE with a set that never closes: matches nothing
      l.value = u"[";
    } else {
      l.op = 2;  // CONTAINS the empty text: matches everything
      l.value.clear();
    }
  }
  auto built = std::make_unique<BuiltFilter>(lines);
  ++built_;
  IFilter* filter = built->get();
  cache_.emplace(forced, std::move(built));
  return filter;
}

}  // namespace evfilter
