// Opening evfilter's inputs and telling their formats.
//
// An input is a file or "-" (standard input). Its first bytes are read
// ahead, to refuse what is not text (a gzip stream, a file with NUL bytes)
// and to tell the format when neither the option nor the extension does:
// JSON Lines when the first character that is not blank (after a
// byte-order mark) is "{", else CSV.
//
// Thread safety: one thread per input.

#ifndef EVFILTER_INPUTS_H_
#define EVFILTER_INPUTS_H_

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace evfilter {

enum class Format { kCsv, kJsonLines };

// The format named on the command line ("csv", "jsonl"), or nothing.
std::optional<Format> FormatNamed(const std::string& name);
inline constexpr char kFormatNames[] = "csv, jsonl";

// An open input; closes its stream when it ends.
class Input {
 public:
  // Opens `path` ("-": standard input). On failure `error()` says why, in
  // words for a person ("No such file or directory", "is a directory").
  Input(const std::string& path, std::optional<Format> format);
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  bool ok() const { return file_ != nullptr; }
  const std::string& error() const { return error_; }
  // The name to use in messages.
  const std::string& name() const { return name_; }
  std::FILE* file() const { return file_; }
  Format format() const { return format_; }
  // The size in bytes of a regular file; 0 when not known (a pipe).
  uint64_t size() const { return size_; }

 private:
  std::string name_;
  std::string error_;
  std::FILE* file_ = nullptr;
  Format format_ = Format::kCsv;
  uint64_t size_ = 0;
};

}  // namespace evfilter

#endif  // EVFILTER_INPUTS_H_
