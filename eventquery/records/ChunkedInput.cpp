#include "records/ChunkedInput.h"

#include <algorithm>
#include <cstring>

#include "records/Inputs.h"
#include "records/Stop.h"

namespace eventquery {
namespace {

constexpr std::string_view kNone = "";

}  // namespace

bool ChunkedInput::Fill() {
  if (eof_) return false;
  // A stop reads nothing more; what is buffered is still read.
  if (StopRequested()) throw InputError("interrupted");
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  const size_t old = buffer_.size();
  // What is there: a slow writer's record is read as soon as it comes.
  // The read's size follows what the source gives (a pipe's 64 KiB, a
  // file's 1 MiB), so that the buffer is not grown (and zeroed) far past
  // what comes.
  const size_t chunk = chunk_;
  buffer_.resize(old + chunk);
  const ssize_t n = ReadReady(file_, buffer_.data() + old, chunk);
  if (n >= 0 && static_cast<size_t>(n) == chunk)
    chunk_ = std::min(chunk * 2, kChunk);
  else if (n >= 0 && static_cast<size_t>(n) < chunk / 2)
    chunk_ = std::max(chunk / 2, kSmallChunk);
  buffer_.resize(old + static_cast<size_t>(std::max<ssize_t>(n, 0)));
  if (n < 0) {
    eof_ = true;
    throw InputError("the input could not be read");
  }
  bytes_read_ += static_cast<uint64_t>(n);
  if (n == 0) eof_ = true;
  return n > 0;
}

bool ChunkedInput::More() { return Fill(); }

void ChunkedInput::SkipByteOrderMark() {
  while (buffer_.size() - start_ < 3 && Fill()) {
  }
  if (buffer_.compare(start_, 3, "\xEF\xBB\xBF") == 0) start_ += 3;
}

void ChunkedInput::Take(size_t end, std::string_view* out,
                        std::string_view* terminator) {
  size_t stop = end;
  *terminator = kLf;
  if (stop > start_ && buffer_[stop - 1] == '\r') {
    --stop;
    *terminator = kCrLf;
  }
  *out = std::string_view(buffer_.data() + start_, stop - start_);
  start_ = end + 1;
}

bool ChunkedInput::NextLine(std::string_view* out, std::string_view* terminator,
                            uint64_t* lines) {
  size_t scan = start_;
  for (;;) {
    const void* nl =
        std::memchr(buffer_.data() + scan, '\n', buffer_.size() - scan);
    if (nl != nullptr) {
      Take(static_cast<size_t>(static_cast<const char*>(nl) - buffer_.data()),
           out, terminator);
      *lines = 1;
      return true;
    }
    const size_t consumed = start_;
    scan = buffer_.size();
    if (!Fill()) break;
    scan -= consumed;  // Fill moved the unread bytes to the front
  }
  if (start_ >= buffer_.size()) return false;
  // A last line without its break: a "\r" left of a CRLF is no content.
  size_t end = buffer_.size();
  if (end > start_ && buffer_[end - 1] == '\r') --end;
  *out = std::string_view(buffer_.data() + start_, end - start_);
  *terminator = kNone;
  *lines = 1;
  start_ = buffer_.size();
  return true;
}

bool ChunkedInput::NextCsvRecord(std::string_view* out,
                                 std::string_view* terminator, uint64_t* lines,
                                 uint64_t* open_quote_line) {
  // Most records hold no quote: when none lies before the next break, the
  // record ends there, found in one step.
  if (start_ < buffer_.size()) {
    const char* data = buffer_.data() + start_;
    const size_t left = buffer_.size() - start_;
    const void* nl = std::memchr(data, '\n', left);
    if (nl != nullptr) {
      const auto length =
          static_cast<size_t>(static_cast<const char*>(nl) - data);
      if (std::memchr(data, '"', length) == nullptr) {
        Take(start_ + length, out, terminator);
        *lines = 1;
        *open_quote_line = 0;
        return true;
      }
    }
  }
  enum State { kFieldStart, kUnquoted, kQuoted, kQuoteInQuoted };
  State state = kFieldStart;
  size_t scan = start_;
  uint64_t breaks = 0;
  uint64_t quote_line = 0;
  *open_quote_line = 0;
  for (;;) {
    const char* data = buffer_.data();
    const size_t size = buffer_.size();
    while (scan < size) {
      const char c = data[scan];
      switch (state) {
        case kFieldStart:
          if (c == '"') {
            state = kQuoted;
            quote_line = breaks + 1;
            break;
          }
          if (c == ',') break;
          [[fallthrough]];
        case kUnquoted:
          if (c == '\n') {
            Take(scan, out, terminator);
            *lines = breaks + 1;
            return true;
          }
          state = c == ',' ? kFieldStart : kUnquoted;
          break;
        case kQuoted: {
          // Up to the next quote in one step, counting the breaks passed.
          const void* q = std::memchr(data + scan, '"', size - scan);
          const size_t to =
              q == nullptr
                  ? size
                  : static_cast<size_t>(static_cast<const char*>(q) - data);
          for (size_t k = scan; k < to; ++k) breaks += data[k] == '\n';
          if (q == nullptr) {
            scan = size - 1;  // the loop moves on to the end
            break;
          }
          scan = to;
          state = kQuoteInQuoted;
          break;
        }
        case kQuoteInQuoted:
          if (c == '"') {
            state = kQuoted;  // a doubled quote
          } else if (c == '\n') {
            Take(scan, out, terminator);
            *lines = breaks + 1;
            return true;
          } else {
            state = c == ',' ? kFieldStart : kUnquoted;
          }
          break;
      }
      ++scan;
    }
    const size_t consumed = start_;
    if (!Fill()) break;
    scan -= consumed;  // Fill moved the unread bytes to the front
  }
  if (start_ >= buffer_.size()) return false;
  if (state == kQuoted) *open_quote_line = quote_line;
  size_t end = buffer_.size();
  *terminator = kNone;
  if (state != kQuoted && end > start_ && buffer_[end - 1] == '\r') --end;
  *out = std::string_view(buffer_.data() + start_, end - start_);
  // A final break inside the open field ends a line, not starts one.
  *lines = breaks + (buffer_.back() == '\n' ? 0 : 1);
  start_ = buffer_.size();
  return true;
}

}  // namespace eventquery
