#include "records/Inputs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

#include "ByteSource.h"
#include "EvtxChunks.h"
#include "GzipSource.h"
#include "records/Formats.h"
#include "records/Stop.h"

namespace eventquery {
namespace {

constexpr char kNoEventLogToFollow[] =
    "is a Windows event log: --follow reads text logs (JSON Lines, CSV, "
    "TSV, Zeek) as they are appended";

std::atomic<void (*)()> g_while_waiting{nullptr};
std::atomic<void (*)(const std::string&)> g_follow_notes{nullptr};

// How long a pipe or terminal is waited for before the wait is told, and
// the longest a wait goes untold.
constexpr std::chrono::milliseconds kUntoldWait{25};

// Tells whoever writes what we found that we wait (or are about to).
void WhileWaiting() {
  if (void (*hook)() = g_while_waiting.load()) hook();
}

// Byte ranges of a file, [begin, end) each, in the order to read them.
using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

class FdSource final : public ByteSource {
 public:
  FdSource(int fd, bool own) : fd_(fd), own_(own) {
    struct stat st {};
    regular_ = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  }
  ~FdSource() override {
    if (own_) ::close(fd_);
  }
  bool Ready() override {
    pollfd ready{fd_, POLLIN, 0};
    return regular_ || ::poll(&ready, 1, 0) != 0;
  }
  ssize_t Read(char* buffer, size_t size, std::string& error) override {
    for (;;) {
      // A pipe or terminal may keep us waiting: whoever writes what we
      // found is told, and a stop is seen within a quarter second. A
      // writer that keeps up refills a pipe within microseconds: a wait is
      // told once it lasts 25 ms, or at once when none was told for 25 ms
      // (a writer that trickles records keeps every wait short), so that
      // output stays in blocks, and threads' batches full, while the input
      // keeps coming. A regular file is always ready.
      if (!regular_) {
        pollfd ready{fd_, POLLIN, 0};
        int r = ::poll(&ready, 1, 0);
        if (r == 0) {
          const auto untold = std::chrono::steady_clock::now() - told_;
          if (untold < kUntoldWait)
            r = ::poll(
                &ready, 1,
                static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(
                                     kUntoldWait - untold)
                                     .count()));
        }
        while (r == 0 || (r < 0 && errno == EINTR)) {
          if (StopRequested()) {
            error = "interrupted";
            return -1;
          }
          if (r == 0) {
            WhileWaiting();
            told_ = std::chrono::steady_clock::now();
          }
          r = ::poll(&ready, 1, 250);
        }
        if (StopRequested()) {
          error = "interrupted";
          return -1;
        }
      }
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return n;
      if (errno != EINTR) {
        error = std::strerror(errno);
        return -1;
      }
    }
  }

 private:
  int fd_;
  bool own_;
  bool regular_ = false;
  std::chrono::steady_clock::time_point told_;  // the last wait told
};

// A regular file read as it grows, as tail -F reads it: at its end it
// waits for more (looking every 20 ms, so a record appended is read within
// that); a new file under its name (rotation) is read from its start once
// the old one's last bytes are read, and so is the file when it is cut
// short (truncation); each is said through the follow notes. Never ends:
// a stop ends it ("interrupted").
class FollowSource final : public ByteSource {
 public:
  FollowSource(std::string path, int fd) : path_(std::move(path)), fd_(fd) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0) Identify(st);
  }
  ~FollowSource() override { ::close(fd_); }

  ssize_t Read(char* buffer, size_t size, std::string& error) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n > 0) {
        offset_ += static_cast<uint64_t>(n);
        return n;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = std::strerror(errno);
        return -1;
      }
      if (Reopened() || Rewound()) continue;
      // Every 20 ms: the hook's clock is looked at as often.
      WhileWaiting();
      if (StopRequested()) {
        error = "interrupted";
        return -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool Ready() override {
    struct stat st {};
    return ::fstat(fd_, &st) != 0 ||
           static_cast<uint64_t>(st.st_size) != offset_;
  }

 private:
  void Identify(const struct stat& st) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
  static void Say(const std::string& message) {
    if (auto note = g_follow_notes.load()) note(message);
  }
  // At the end of the file: another file under the name is read from its
  // start. (Whatever the old one got last was read before: we are at its
  // end.)
  bool Reopened() {
    struct stat st {};
    if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_dev == device_ && st.st_ino == inode_))
      return false;
    // Bytes written to the old file since our last read come first.
    struct stat old {};
    if (::fstat(fd_, &old) == 0 && static_cast<uint64_t>(old.st_size) > offset_)
      return true;
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;  // gone again: look later
    ::close(fd_);
    fd_ = fd;
    offset_ = 0;
    if (::fstat(fd_, &st) == 0) Identify(st);
    Say(path_ + ": a new file under the name (rotated): read from its start");
    return true;
  }
  // The file cut short below what was read: read again from its start.
  bool Rewound() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || static_cast<uint64_t>(st.st_size) >= offset_)
      return false;
    if (::lseek(fd_, 0, SEEK_SET) != 0) return false;
    offset_ = 0;
    Say(path_ + ": cut short (truncated): read from its start");
    return true;
  }

  std::string path_;
  int fd_;
  uint64_t offset_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

// Byte ranges of a file, one after another.
class RangesSource final : public ByteSource {
 public:
  RangesSource(int fd, std::vector<std::pair<uint64_t, uint64_t>> ranges)
      : fd_(fd), ranges_(std::move(ranges)) {}
  ~RangesSource() override { ::close(fd_); }
  ssize_t Read(char* buffer, size_t size, std::string& error) override {
    while (next_ < ranges_.size()) {
      auto& [at, end] = ranges_[next_];
      if (at >= end) {
        ++next_;
        continue;
      }
      const size_t want =
          static_cast<size_t>(std::min<uint64_t>(size, end - at));
      const ssize_t n = ::pread(fd_, buffer, want, static_cast<off_t>(at));
      if (n < 0) {
        if (errno == EINTR) continue;
        error = std::strerror(errno);
        return -1;
      }
      if (n == 0) {
        error = "the file is shorter than when it was divided";
        return -1;
      }
      at += static_cast<uint64_t>(n);
      return n;
    }
    return 0;
  }

 private:
  int fd_;
  std::vector<std::pair<uint64_t, uint64_t>> ranges_;
  size_t next_ = 0;
};

// Bytes read ahead, then the rest of the source.
class PrefixSource final : public ByteSource {
 public:
  PrefixSource(std::string prefix, std::unique_ptr<ByteSource> rest)
      : prefix_(std::move(prefix)), rest_(std::move(rest)) {}
  ssize_t Read(char* buffer, size_t size, std::string& error) override {
    if (at_ < prefix_.size()) {
      const size_t n = std::min(size, prefix_.size() - at_);
      std::memcpy(buffer, prefix_.data() + at_, n);
      at_ += n;
      return static_cast<ssize_t>(n);
    }
    return rest_->Read(buffer, size, error);
  }
  bool Ready() override { return at_ < prefix_.size() || rest_->Ready(); }

 private:
  std::string prefix_;
  size_t at_ = 0;
  std::unique_ptr<ByteSource> rest_;
};

// Latin-1 or Windows-1252 bytes as UTF-8: each byte one character, so
// that nothing is lost or made alike.
class TranscodeSource final : public ByteSource {
 public:
  TranscodeSource(std::unique_ptr<ByteSource> in, Encoding encoding)
      : in_(std::move(in)), cp1252_(encoding == Encoding::kCp1252) {}
  bool Ready() override { return !pending_.empty() || in_->Ready(); }

  ssize_t Read(char* out, size_t size, std::string& error) override {
    if (size == 0) return 0;
    while (pending_.empty()) {
      // At most a third of `size`: a byte becomes up to three.
      raw_.resize(std::max<size_t>(1, size / 3));
      const ssize_t n = in_->Read(raw_.data(), raw_.size(), error);
      if (n <= 0) return n;
      for (ssize_t i = 0; i < n; ++i)
        Append(static_cast<unsigned char>(raw_[i]));
    }
    const size_t n = std::min(size, pending_.size() - at_);
    std::memcpy(out, pending_.data() + at_, n);
    at_ += n;
    if (at_ == pending_.size()) {
      pending_.clear();
      at_ = 0;
    }
    return static_cast<ssize_t>(n);
  }

 private:
  void Append(unsigned char b) {
    // Windows-1252 where it differs from Latin-1; its five unused bytes
    // stay the C1 controls that Windows makes of them.
    static constexpr char16_t k1252[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    const char16_t c = cp1252_ && b >= 0x80 && b < 0xA0 ? k1252[b - 0x80] : b;
    if (c < 0x80) {
      pending_.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      pending_.push_back(static_cast<char>(0xC0 | (c >> 6)));
      pending_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      pending_.push_back(static_cast<char>(0xE0 | (c >> 12)));
      pending_.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      pending_.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }

  std::unique_ptr<ByteSource> in_;
  bool cp1252_;
  std::string raw_;
  std::string pending_;
  size_t at_ = 0;
};

// The stream's cookie: the last layer of the input and where its failure
// is told.
struct Cookie {
  std::unique_ptr<ByteSource> source;
  std::shared_ptr<std::string> error;
  std::FILE* file = nullptr;
};

// The streams Inputs opened, by stream, so that ReadReady reads their
// sources straight.
std::mutex g_streams_mutex;
std::unordered_map<std::FILE*, Cookie*>& Streams() {
  static auto* streams = new std::unordered_map<std::FILE*, Cookie*>;
  return *streams;
}

ssize_t CookieRead(void* cookie, char* buffer, size_t size) {
  auto* c = static_cast<Cookie*>(cookie);
  const ssize_t n = c->source->Read(buffer, size, *c->error);
  if (n < 0) errno = EIO;
  return n;
}

int CookieClose(void* cookie) {
  auto* c = static_cast<Cookie*>(cookie);
  if (c->file != nullptr) {
    std::lock_guard<std::mutex> lock(g_streams_mutex);
    Streams().erase(c->file);
  }
  delete c;
  return 0;
}

// Reads up to `size` bytes; fewer only at the end of the input or on a
// failure (then `error` is set), or, when `until_idle`, once a line with
// text on it is read and the source would wait for its writer (blank
// lines alone tell no format).
std::string ReadSome(ByteSource& source, size_t size, std::string& error,
                     bool until_idle = false) {
  std::string bytes(size, '\0');
  size_t got = 0, looked = 0;
  bool text = false, line = false;
  while (got < size) {
    for (; until_idle && !line && looked < got; ++looked) {
      const char c = bytes[looked];
      if (c == '\n')
        line = text;
      else if (c != ' ' && c != '\t' && c != '\r')
        text = true;
    }
    if (line && !source.Ready()) break;
    const ssize_t n = source.Read(bytes.data() + got, size - got, error);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

// `source` as a stdio stream that owns it; null (with `error` said) when
// none can be made.
std::FILE* OpenStream(std::unique_ptr<ByteSource> source,
                      const std::shared_ptr<std::string>& stream_error,
                      std::string& error) {
  auto* cookie = new Cookie{std::move(source), stream_error};
  std::FILE* file = ::fopencookie(
      cookie, "rb",
      cookie_io_functions_t{CookieRead, nullptr, nullptr, CookieClose});
  if (file == nullptr) {
    error = std::strerror(errno);
    CookieClose(cookie);
    return nullptr;
  }
  cookie->file = file;
  std::lock_guard<std::mutex> lock(g_streams_mutex);
  Streams()[file] = cookie;
  return file;
}

// A UTF-16 byte-order mark, as Windows tools write before UTF-16 text.
bool IsUtf16(std::string_view bytes) {
  return bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                               (bytes[0] == '\xFE' && bytes[1] == '\xFF'));
}

bool IsGzip(std::string_view bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0x1F &&
         static_cast<unsigned char>(bytes[1]) == 0x8B;
}

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The format a name's extension says, or nothing (also for ".json", which
// may hold either JSON shape).
std::optional<Format> FormatOfName(std::string path) {
  std::string ext = Lower(std::filesystem::path(path).extension().string());
  if (ext == ".gz") {
    path.resize(path.size() - 3);
    ext = Lower(std::filesystem::path(path).extension().string());
  }
  for (const FormatTraits& f : AllFormats())
    for (const char* e : f.extensions)
      if (ext == e) return f.format;
  return std::nullopt;
}

// True for a name a folder's event file has.
bool IsEventFileName(std::string path) {
  if (FormatOfName(path)) return true;
  std::string ext = Lower(std::filesystem::path(path).extension().string());
  if (ext == ".gz") {
    path.resize(path.size() - 3);
    ext = Lower(std::filesystem::path(path).extension().string());
  }
  return ext == ".json" || ext == ".log";
}

Format FormatOfText(std::string_view text) {
  size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' ||
                             text[i] == '\r' || text[i] == '\n'))
    ++i;
  if (i < text.size() && text[i] == '[') return Format::kJsonArray;
  if (i < text.size() && text[i] == '{') return Format::kJsonLines;
  // Zeek's TSV logs start with their separator.
  if (text.substr(i).starts_with("#separator ")) return Format::kTsv;
  return Format::kCsv;
}

// The bytes of `path` (standard input when `standard`): all of them, or
// `ranges` of a regular file. Sets `size` to their count when known, and
// gives null with `error` set when they cannot be read as asked.
std::unique_ptr<ByteSource> OpenBytes(const std::string& path, bool standard,
                                      const Ranges* ranges, bool follow,
                                      uint64_t& size, std::string& error) {
  int fd = STDIN_FILENO;
  if (!standard) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = std::strerror(errno);
      return nullptr;
    }
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular) size = static_cast<uint64_t>(st.st_size);
  // The source owns the descriptor from here, so that a refusal closes it.
  std::unique_ptr<ByteSource> source;
  if (follow && regular && !standard) {
    source = std::make_unique<FollowSource>(path, fd);
    size = 0;  // it grows
  } else if (ranges == nullptr) {
    source = std::make_unique<FdSource>(fd, !standard);
  } else {
    source = std::make_unique<RangesSource>(fd, *ranges);
    size = 0;
    for (const auto& [begin, end] : *ranges)
      size += end > begin ? end - begin : 0;
  }
  if (S_ISDIR(st.st_mode)) {
    error = "is a directory";
    return nullptr;
  }
  if (ranges != nullptr && !regular) {
    error = "is not a regular file, so it cannot be read in pieces";
    return nullptr;
  }
  return source;
}

// Up to `size` bytes read ahead of `source`; with `until_idle`, from a
// slow writer only what it has written once there is a whole line. A gzip
// stream that fails after some bytes, or a wait for more cut short by a
// stop, gives those bytes first, and the failure comes again where they
// end; any other failure sets `error`.
std::string ReadAhead(ByteSource& source, size_t size, bool compressed,
                      std::string& error, bool until_idle = false) {
  std::string bytes = ReadSome(source, size, error, until_idle);
  if (!error.empty() && (compressed || StopRequested()) && !bytes.empty())
    error.clear();
  return bytes;
}

// Why a file that starts with `prefix` is no text the readers read, or "".
std::string NotText(std::string_view prefix, bool compressed) {
  if (IsUtf16(prefix))
    return std::string("is UTF-16 text") +
           (compressed ? " once decompressed" : "") +
           "; only UTF-8 is read (iconv -f UTF-16 -t UTF-8 converts it)";
  if (prefix.find('\0') != std::string_view::npos)
    return std::string(compressed ? "holds binary data once decompressed"
                                  : "is a binary file") +
           ", not CSV, TSV or JSON text";
  return "";
}

}  // namespace

std::optional<Format> FormatNamed(const std::string& name) {
  for (const FormatTraits& f : AllFormats())
    if (name == f.name) return f.format;
  return std::nullopt;
}

const char* FormatName(Format format) { return FormatTraitsOf(format).name; }

std::optional<Encoding> EncodingNamed(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "utf-8" || n == "utf8") return Encoding::kUtf8;
  if (n == "latin1" || n == "latin-1" || n == "iso-8859-1" || n == "iso8859-1")
    return Encoding::kLatin1;
  if (n == "cp1252" || n == "windows-1252") return Encoding::kCp1252;
  return std::nullopt;
}

std::optional<Format> OutputFormatNamed(const std::string& name) {
  const auto format = FormatNamed(name);
  if (format && !FormatTraitsOf(*format).writable) return std::nullopt;
  return format;
}

Format OutputFormatOf(Format input) { return FormatTraitsOf(input).output; }

Input::Input(const std::string& path, std::optional<Format> format,
             Encoding encoding, bool follow)
    : follow_(follow), encoding_(encoding) {
  Open(path, format, nullptr);
}

Input::Input(const std::string& path, Format format, uint64_t header_end,
             const InputPiece& piece, Encoding encoding)
    : encoding_(encoding) {
  const std::vector<std::pair<uint64_t, uint64_t>> ranges = {
      {0, header_end}, {piece.begin, piece.end}};
  at_file_start_ = header_end > 0 || piece.begin == 0;
  piece_ = true;
  first_line_ = piece.first_line;
  Open(path, format, &ranges);
}

void Input::Open(const std::string& path, std::optional<Format> format,
                 const Ranges* ranges) {
  const bool standard = path == "-" && ranges == nullptr;
  name_ = standard ? "(standard input)" : path;
  // An event log named as one is refused before its first bytes are
  // waited for.
  if (follow_ && (format == Format::kEvtx ||
                  (!format && FormatOfName(path) == Format::kEvtx))) {
    error_ = kNoEventLogToFollow;
    return;
  }
  std::unique_ptr<ByteSource> source =
      OpenBytes(path, standard, ranges, follow_, size_, error_);
  if (source == nullptr) return;
  std::string magic = ReadSome(*source, 2, error_);
  if (!error_.empty()) return;
  compressed_ = IsGzip(magic);
  if (compressed_ && ranges != nullptr) {
    error_ = "is compressed, so it cannot be read in pieces";
    return;
  }
  if (compressed_ && follow_) {
    error_ = "is compressed: --follow reads text as it is appended";
    return;
  }
  source = std::make_unique<PrefixSource>(std::move(magic), std::move(source));
  if (compressed_) source = std::make_unique<GzipSource>(std::move(source));
  // An event log file is bytes, not text: told by its signature, or by the
  // format or name that says it is one (then its reader says what it is).
  std::string head = ReadAhead(*source, 8, compressed_, error_);
  if (!error_.empty()) return;
  const bool evtx =
      (head.size() == 8 && head.compare(0, 8, kEvtxSignature, 8) == 0 &&
       !format) ||
      format == Format::kEvtx ||
      (!format && !standard && FormatOfName(path) == Format::kEvtx);
  source = std::make_unique<PrefixSource>(std::move(head), std::move(source));
  if (evtx && follow_) {
    error_ = kNoEventLogToFollow;
    return;
  }
  if (evtx) {
    format_ = Format::kEvtx;
    file_ = OpenStream(std::move(source), stream_error_, error_);
    return;
  }
  if (encoding_ != Encoding::kUtf8)
    source = std::make_unique<TranscodeSource>(std::move(source), encoding_);
  // A stream's records are not held back to fill the prefix: the format
  // is told from the lines there are.
  std::string prefix =
      ReadAhead(*source, 64 * 1024, compressed_, error_, /*until_idle=*/true);
  if (!error_.empty()) return;
  // A piece's first bytes lie inside a file read whole before.
  if (ranges == nullptr) error_ = NotText(prefix, compressed_);
  if (!error_.empty()) return;
  if (format) {
    format_ = *format;
  } else if (const auto named = standard ? std::nullopt : FormatOfName(path)) {
    format_ = *named;
  } else {
    format_ = FormatOfText(prefix);
  }
  file_ = OpenStream(
      std::make_unique<PrefixSource>(std::move(prefix), std::move(source)),
      stream_error_, error_);
}

Input::~Input() {
  if (file_ != nullptr) std::fclose(file_);
}

std::vector<std::string> ExpandFolders(const std::vector<std::string>& paths,
                                       std::vector<std::string>* notes) {
  namespace fs = std::filesystem;
  std::vector<std::string> out;
  auto note = [notes](std::string text) {
    if (notes != nullptr) notes->push_back(std::move(text));
  };
  for (const std::string& path : paths) {
    std::error_code error;
    if (path == "-" || !fs::is_directory(path, error)) {
      out.push_back(path);
      continue;
    }
    std::vector<std::string> files;
    size_t skipped = 0;
    std::string first_skipped;
    // Folder by folder, so that one that cannot be listed (or an entry
    // that cannot be looked at) is said and the others are read.
    std::vector<fs::path> folders{path};
    while (!folders.empty()) {
      const fs::path folder = std::move(folders.back());
      folders.pop_back();
      std::error_code listed;
      fs::directory_iterator it(folder, listed), end;
      for (; !listed && it != end; it.increment(listed)) {
        std::error_code kind;
        const fs::file_status status = it->symlink_status(kind);
        if (kind) {
          note(it->path().string() + ": cannot be looked at (" +
               kind.message() + "); not read");
          continue;
        }
        if (fs::is_directory(status)) {
          folders.push_back(it->path());
          continue;
        }
        const std::string file = it->path().string();
        // A link is read as what it leads to, when that is a file.
        if (IsEventFileName(file) && fs::is_regular_file(it->path(), kind)) {
          files.push_back(file);
        } else if (skipped++ == 0) {
          first_skipped = file;
        }
      }
      if (listed)
        note(folder.string() + ": cannot be listed (" + listed.message() +
             "); its files not read");
    }
    std::sort(files.begin(), files.end());
    out.insert(out.end(), files.begin(), files.end());
    if (skipped > 0)
      note(path + ": " + std::to_string(skipped) +
           " file(s) not read, their names are no event file's or they are "
           "no regular file (first: " +
           first_skipped + ")");
    if (files.empty()) note(path + ": the folder holds no event file");
  }
  return out;
}

ssize_t ReadReady(std::FILE* file, char* buffer, size_t size) {
  Cookie* cookie = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_streams_mutex);
    const auto it = Streams().find(file);
    if (it != Streams().end()) cookie = it->second;
  }
  // Only ChunkedInput reads an Input's text stream, and only here: no
  // bytes wait in the stream's own buffer.
  if (cookie != nullptr) {
    const ssize_t n = cookie->source->Read(buffer, size, *cookie->error);
    if (n < 0) errno = EIO;
    return n;
  }
  const size_t n = std::fread(buffer, 1, size, file);
  if (n == 0 && std::ferror(file)) return -1;
  return static_cast<ssize_t>(n);
}

void SetWhileWaiting(void (*hook)()) { g_while_waiting.store(hook); }

void SetFollowNotes(void (*note)(const std::string& message)) {
  g_follow_notes.store(note);
}

}  // namespace eventquery
