#include "WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace evfilter {

std::string WriteWholeFile(const std::string& path, std::string_view text) {
  if (path.empty()) return "no file name";
  if (path.back() == '/') return "a folder, not a file name";
  // Only a regular file is replaced: never a link (its target, or a
  // system's link such as /dev/stdout), a device or a FIFO.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
    return S_ISLNK(st.st_mode)
               ? "is a symbolic link: neither followed nor replaced (name "
                 "the file itself)"
               : "is not a regular file";
  std::string name = path + ".XXXXXX";
  std::vector<char> temp(name.begin(), name.end());
  temp.push_back('\0');
  // mkstemp creates the file 0600 with O_EXCL: never someone else's.
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  std::string error;
  for (size_t done = 0; done < text.size() && error.empty();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = n < 0 ? std::strerror(errno) : "nothing written";
    else
      done += static_cast<size_t>(n);
  }
  if (error.empty() && ::fsync(fd) != 0) error = std::strerror(errno);
  if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
  if (error.empty() && ::rename(temp.data(), path.c_str()) != 0)
    error = std::strerror(errno);
  if (!error.empty()) ::unlink(temp.data());
  return error;
}

}  // namespace evfilter
