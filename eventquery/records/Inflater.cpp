// zlib's engine, and the choice of engine.

#include "Inflater.h"

#include <zlib.h>

#include <algorithm>

namespace eventquery {
namespace {

class ZlibInflater final : public Inflater {
 public:
  bool Start(std::string& why) {
    // 16 + 15: a gzip header and the largest window.
    if (inflateInit2(&z_, 16 + 15) == Z_OK) return started_ = true;
    why = "zlib cannot start";
    return false;
  }
  ~ZlibInflater() override {
    if (started_) inflateEnd(&z_);
  }

  void SetInput(const char* data, size_t size) override {
    z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z_.avail_in = static_cast<uInt>(std::min(size, kMaxInflateStep));
  }
  size_t AvailIn() const override { return z_.avail_in; }

  Step Inflate(char* out, size_t size, size_t& written,
               std::string& why) override {
    z_.next_out = reinterpret_cast<Bytef*>(out);
    z_.avail_out = static_cast<uInt>(std::min(size, kMaxInflateStep));
    const uInt before = z_.avail_out;
    const int r = inflate(&z_, Z_NO_FLUSH);
    written = before - z_.avail_out;
    if (r == Z_STREAM_END) return Step::kMemberEnd;
    if (r == Z_OK || r == Z_BUF_ERROR) return Step::kMore;
    why = z_.msg != nullptr ? z_.msg : "zlib error " + std::to_string(r);
    return Step::kCorrupt;
  }

  void Reset() override { inflateReset(&z_); }
  const char* Name() const override { return "zlib"; }

 private:
  z_stream z_{};
  bool started_ = false;
};

}  // namespace

std::unique_ptr<Inflater> MakeZlibInflater(std::string& why) {
  auto z = std::make_unique<ZlibInflater>();
  if (!z->Start(why)) return nullptr;
  return z;
}

std::unique_ptr<Inflater> MakeInflater(std::string& why) {
  std::string none;
  if (auto isal = MakeIsalInflater(none)) return isal;
  return MakeZlibInflater(why);
}

}  // namespace eventquery
