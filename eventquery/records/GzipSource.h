// The decompressed text of a gzip stream of one or more members, read from
// the layer below. Private to the records library.
//
// Text decompressed before a failure is handed out first; then the failure
// (a stream cut short, corrupt data with the compressed byte it was found
// near). What is decompressed is handed out before waiting for a slow
// writer.
//
// Thread safety: used by one thread at a time.

#ifndef RECORDS_GZIPSOURCE_H_
#define RECORDS_GZIPSOURCE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "ByteSource.h"
#include "Inflater.h"

namespace eventquery {

class GzipSource final : public ByteSource {
 public:
  // Inflated by `engine`, or by the fastest this build has when null.
  explicit GzipSource(std::unique_ptr<ByteSource> in,
                      std::unique_ptr<Inflater> engine = nullptr);
  bool Ready() override;
  // Linear in the bytes read and written.
  ssize_t Read(char* out, size_t size, std::string& error) override;

 private:
  std::unique_ptr<ByteSource> in_;
  std::string buffer_;
  std::unique_ptr<Inflater> inflater_;
  bool in_end_ = false;
  bool done_ = false;
  bool member_ended_ = false;
  // The last step filled the output: the engine may hold more of it.
  bool held_output_ = false;
  uint64_t compressed_ = 0;
  std::string failure_;
};

}  // namespace eventquery

#endif  // RECORDS_GZIPSOURCE_H_
