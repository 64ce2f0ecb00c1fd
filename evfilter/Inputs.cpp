#include "evfilter/Inputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace evfilter {
namespace {

// A stream over a descriptor whose first bytes were read ahead.
struct ReadAhead {
  int fd;
  bool own;
  std::string prefix;
  size_t at = 0;
};

ssize_t ReadAheadRead(void* cookie, char* buffer, size_t size) {
  auto* r = static_cast<ReadAhead*>(cookie);
  if (r->at < r->prefix.size()) {
    const size_t n = std::min(size, r->prefix.size() - r->at);
    std::memcpy(buffer, r->prefix.data() + r->at, n);
    r->at += n;
    return static_cast<ssize_t>(n);
  }
  for (;;) {
    const ssize_t n = ::read(r->fd, buffer, size);
    if (n >= 0 || errno != EINTR) return n;
  }
}

int ReadAheadClose(void* cookie) {
  auto* r = static_cast<ReadAhead*>(cookie);
  if (r->own) ::close(r->fd);
  delete r;
  return 0;
}

// Reads up to `size` bytes; fewer only at the end of the input.
std::string ReadSome(int fd, size_t size, int* error) {
  std::string bytes(size, '\0');
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, bytes.data() + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      break;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

}  // namespace

std::optional<Format> FormatNamed(const std::string& name) {
  if (name == "csv") return Format::kCsv;
  if (name == "jsonl") return Format::kJsonLines;
  return std::nullopt;
}

Input::Input(const std::string& path, std::optional<Format> format) {
  const bool standard = path == "-";
  name_ = standard ? "(standard input)" : path;
  int fd = STDIN_FILENO;
  if (!standard) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error_ = std::strerror(errno);
      return;
    }
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
    size_ = static_cast<uint64_t>(st.st_size);
  if (S_ISDIR(st.st_mode)) {
    error_ = "is a directory";
    if (!standard) ::close(fd);
    return;
  }
  int read_error = 0;
  std::string prefix = ReadSome(fd, 64 * 1024, &read_error);
  if (read_error != 0) {
    error_ = std::strerror(read_error);
    if (!standard) ::close(fd);
    return;
  }
  if (prefix.size() >= 2 && static_cast<unsigned char>(prefix[0]) == 0x1F &&
      static_cast<unsigned char>(prefix[1]) == 0x8B) {
    error_ =
        "is gzip-compressed; decompress it first (zcat FILE | evfilter ...)";
    if (!standard) ::close(fd);
    return;
  }
  if (prefix.find('\0') != std::string::npos) {
    error_ = "is a binary file, not CSV or JSON Lines text";
    if (!standard) ::close(fd);
    return;
  }
  if (format) {
    format_ = *format;
  } else {
    const std::string ext = std::filesystem::path(path).extension().string();
    if (ext == ".csv") {
      format_ = Format::kCsv;
    } else if (ext == ".jsonl" || ext == ".ndjson" || ext == ".json") {
      format_ = Format::kJsonLines;
    } else {
      size_t i = prefix.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
      while (i < prefix.size() && (prefix[i] == ' ' || prefix[i] == '\t' ||
                                   prefix[i] == '\r' || prefix[i] == '\n'))
        ++i;
      format_ = i < prefix.size() && prefix[i] == '{' ? Format::kJsonLines
                                                      : Format::kCsv;
    }
  }
  auto* cookie = new ReadAhead{fd, !standard, std::move(prefix)};
  file_ = ::fopencookie(
      cookie, "rb",
      cookie_io_functions_t{ReadAheadRead, nullptr, nullptr, ReadAheadClose});
  if (file_ == nullptr) {
    error_ = std::strerror(errno);
    ReadAheadClose(cookie);
  }
}

Input::~Input() {
  if (file_ != nullptr) std::fclose(file_);
}

}  // namespace evfilter
