// Reads a stream in chunks and hands out whole lines or CSV records
// (line breaks inside quoted fields belong to the record). Memory stays
// proportional to the longest record; a line or record costs time linear
// in its bytes.
//
// Thread safety: one thread.

#ifndef RECORDS_CHUNKEDINPUT_H_
#define RECORDS_CHUNKEDINPUT_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "records/Record.h"

namespace eventquery {

// Reads chunks of a stream and hands out whole lines or CSV records.
class ChunkedInput {
 public:
  explicit ChunkedInput(std::FILE* file) : file_(file) {}
  // Skips a UTF-8 byte-order mark at the current position.
  void SkipByteOrderMark();
  // The next line, without its break; false at the end.
  bool NextLine(std::string_view* out, std::string_view* terminator,
                uint64_t* lines);
  // The next CSV record (line breaks inside quoted fields belong to it);
  // false at the end. A quoted field still open at the end of the input
  // sets `*open_quote_line` (lines counted from the record's start, 1 for
  // its first) and yields the rest of the input as the record.
  bool NextCsvRecord(std::string_view* out, std::string_view* terminator,
                     uint64_t* lines, uint64_t* open_quote_line);
  uint64_t bytes_read() const { return bytes_read_; }
  // The offset in the stream of the first byte not yet handed out: where
  // the next line or record starts.
  uint64_t position() const { return bytes_read_ - (buffer_.size() - start_); }

  // For readers that scan by themselves: the bytes read but not yet taken,
  // More to read further (false at the end; the window then has to be
  // asked for again), and Advance to take bytes from its front.
  std::string_view Window() const {
    return std::string_view(buffer_).substr(start_);
  }
  bool More();
  void Advance(size_t bytes) { start_ += bytes; }

 private:
  // Reads the next chunk; false at the end. Throws InputError when the
  // stream fails (a corrupt gzip stream, a read error).
  bool Fill();
  // The record [start_, end) with its break at `end`.
  void Take(size_t end, std::string_view* out, std::string_view* terminator);
  static constexpr size_t kChunk = size_t{1} << 20;
  static constexpr size_t kSmallChunk = size_t{64} << 10;

  std::FILE* file_;
  size_t chunk_ = kChunk;  // the next read's size
  std::string buffer_;
  size_t start_ = 0;
  bool eof_ = false;
  uint64_t bytes_read_ = 0;
};

}  // namespace eventquery

#endif  // RECORDS_CHUNKEDINPUT_H_
