// Finding and reading rule files: files as named, folders recursively
// (.yml and .yaml, in path order), each read whole up to a bound.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <thread>

#include "records/Record.h"
#include "sigma/RuleSelection.h"
#include "sigma/SigmaRule.h"

namespace eventquery::sigma {
namespace {

namespace fs = std::filesystem;

void Unreadable(RuleLoad& load, const std::string& path,
                const std::string& why) {
  RejectedRule r;
  r.meta.file = path;
  r.reason = why;
  r.unreadable = true;
  load.rejected.push_back(std::move(r));
}

void Append(RuleLoad& into, RuleLoad&& from) {
  for (CompiledRule& r : from.loaded) into.loaded.push_back(std::move(r));
  for (CompiledFilter& f : from.filters) into.filters.push_back(std::move(f));
  for (CompiledCorrelation& c : from.correlations)
    into.correlations.push_back(std::move(c));
  for (RejectedRule& r : from.rejected) into.rejected.push_back(std::move(r));
  into.files += from.files;
}

// The text of the regular file at `path`, at most `max_bytes` of it; "" and
// `why` set when it cannot be read. Opened without blocking: a FIFO or a
// device is refused by its type before a byte is read. `kind` names
// another kind of file than a rule file in a refusal.
std::string ReadRuleFile(const std::string& path, size_t max_bytes,
                         std::string& why, const char* kind = nullptr) {
  const std::string what = kind == nullptr ? "rule file" : kind;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    why = std::string("cannot be opened: ") + std::strerror(errno);
    return {};
  }
  std::string text;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = std::string("cannot be read: ") + std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = S_ISFIFO(st.st_mode)   ? "is a FIFO, not a " + what
          : !S_ISDIR(st.st_mode) ? "is a device or socket, not a " + what
          : kind == nullptr      ? "is a folder that cannot be listed"
                                 : "is a folder, not a " + what;
  } else {
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        why = std::string("cannot be read: ") + std::strerror(errno);
        break;
      }
      if (n == 0) break;
      if (text.size() + static_cast<size_t>(n) > max_bytes) {
        why = "is larger than " + std::to_string(max_bytes) +
              " bytes, the most a " + what + " may be" +
              (kind == nullptr ? " (--max-rule-bytes)" : "");
        break;
      }
      text.append(buffer, static_cast<size_t>(n));
    }
  }
  ::close(fd);
  if (!why.empty()) text.clear();
  return text;
}

void LoadFile(RuleLoad& load, const std::string& path,
              const CompileOptions& options) {
  std::string why;
  const std::string text = ReadRuleFile(path, options.max_bytes, why);
  if (!why.empty()) {
    ++load.files;
    Unreadable(load, path, why);
    return;
  }
  Append(load, CompileRules(text, path, options));
}

// Loads `files` in order, compiled on up to `options.threads` threads: each
// takes the next file not taken, and the loads are appended in order.
void LoadFiles(RuleLoad& load, const std::vector<std::string>& files,
               const CompileOptions& options) {
  const size_t threads = std::min<size_t>(options.threads, files.size());
  if (threads < 2) {
    for (const std::string& f : files) LoadFile(load, f, options);
    return;
  }
  std::vector<RuleLoad> parts(files.size());
  std::atomic<size_t> next{0};
  std::exception_ptr failure;
  std::mutex failure_lock;
  auto work = [&] {
    try {
      for (size_t i = next++; i < files.size(); i = next++)
        LoadFile(parts[i], files[i], options);
    } catch (...) {
      const std::lock_guard<std::mutex> lock(failure_lock);
      if (!failure) failure = std::current_exception();
      next = files.size();
    }
  };
  std::vector<std::thread> helpers;
  // Reserved before any starts: a joinable thread must never be dropped.
  helpers.reserve(threads - 1);
  for (size_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the others do the work
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  if (failure) std::rethrow_exception(failure);
  for (RuleLoad& part : parts) Append(load, std::move(part));
}

bool IsRuleFile(const fs::path& p) {
  const std::string ext = p.extension().string();
  return ext == ".yml" || ext == ".yaml";
}

// Why a folder's entry named as a rule file is none, or "".
std::string NotARuleFile(const fs::directory_entry& entry) {
  std::error_code ec;
  if (entry.is_regular_file(ec)) return "";
  if (ec == std::errc::too_many_symbolic_link_levels)
    return "a symbolic link loop";
  if (entry.is_symlink() && !fs::exists(entry.symlink_status()))
    return "a symbolic link to nothing";
  if (ec == std::errc::no_such_file_or_directory)
    return "a symbolic link to nothing";
  if (ec) return "cannot be looked at: " + ec.message();
  if (entry.is_fifo(ec)) return "a FIFO, not a file";
  // A folder is walked into, but a link to one is not followed: said, so
  // that the rules behind it are not lost unseen.
  if (entry.is_directory(ec))
    return entry.is_symlink(ec) ? "a symbolic link to a folder, not followed"
                                : "";
  return "not a regular file";
}

}  // namespace

RuleLoad LoadRules(const std::vector<std::string>& paths,
                   const CompileOptions& options) {
  RuleLoad load;
  for (const std::string& path : paths) {
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      ++load.files;
      Unreadable(load, path, "no such file or folder");
      continue;
    }
    if (!fs::is_directory(status)) {
      LoadFile(load, path, options);
      continue;
    }
    std::vector<std::string> files;
    fs::recursive_directory_iterator it(path, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
      if (!IsRuleFile(it->path())) continue;
      const std::string why = NotARuleFile(*it);
      if (why.empty()) {
        std::error_code kind;
        if (it->is_regular_file(kind)) files.push_back(it->path().string());
      } else {
        load.skipped.push_back(it->path().string() + ": " + why);
      }
    }
    std::sort(load.skipped.begin(), load.skipped.end());
    if (ec) {
      ++load.files;
      Unreadable(load, path, "cannot be listed: " + ec.message());
    }
    std::sort(files.begin(), files.end());
    LoadFiles(load, files, options);
  }
  return load;
}

std::vector<std::string> ReadRuleIds(const std::string& path) {
  std::string why;
  // Room for a hundred thousand ids and their comments.
  const std::string text =
      ReadRuleFile(path, 16 << 20, why, "file of rule ids");
  if (!why.empty()) throw InputError(path + ": " + why);
  std::vector<std::string> ids;
  size_t line = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view entry(text.data() + at, end - at);
    at = end + 1;
    ++line;
    entry = entry.substr(0, entry.find('#'));
    const size_t first = entry.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) continue;
    entry = entry.substr(first, entry.find_last_not_of(" \t\r") - first + 1);
    if (entry.find_first_of(" \t") != std::string_view::npos)
      throw InputError(path + ":" + std::to_string(line) +
                       ": one rule id per line, not '" + std::string(entry) +
                       "'");
    ids.emplace_back(entry);
  }
  return ids;
}

}  // namespace eventquery::sigma
