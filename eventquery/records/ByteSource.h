// The layers an input is read through (a file or pipe, a range of a file,
// gzip, a change of encoding): each a stream of bytes reading from the one
// below. Private to the records library.
//
// Thread safety: a source is used by one thread at a time.

#ifndef RECORDS_BYTESOURCE_H_
#define RECORDS_BYTESOURCE_H_

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace eventquery {

// A stream of bytes; Read returns 0 at the end and -1 on failure, after
// putting the reason in `error`.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual ssize_t Read(char* buffer, size_t size, std::string& error) = 0;
  // Whether Read would give bytes (or the end) without waiting for a
  // writer; true when that cannot be told.
  virtual bool Ready() { return true; }
};

}  // namespace eventquery

#endif  // RECORDS_BYTESOURCE_H_
