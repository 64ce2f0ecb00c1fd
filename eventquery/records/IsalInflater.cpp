// ISA-L's engine (igzip), built where the build found ISA-L.
//
// A member's header is read by GzipHeader and igzip inflates the deflate
// data and checks the trailer: igzip 2.30 takes a header whose check
// (FHCRC) came in more than one piece for a corrupt one.
//
// Where igzip and zlib differ: igzip accepts a dynamic block whose Huffman
// codes are incomplete, which zlib refuses (the member's CRC-32 and length
// still check the text); and a call that fails may have written bytes that
// are not the stream's (a distance reaching before the member), so what a
// failing call wrote is dropped.

#include <isa-l/igzip_lib.h>

#include <algorithm>

#include "GzipHeader.h"
#include "Inflater.h"

namespace eventquery {
namespace {

// What an igzip failure means, in zlib's words where zlib has them.
const char* Meaning(int r) {
  switch (r) {
    case ISAL_INVALID_BLOCK:
      return "invalid block";
    case ISAL_INVALID_SYMBOL:
      return "invalid code";
    case ISAL_INVALID_LOOKBACK:
      return "invalid distance too far back";
    case ISAL_INVALID_WRAPPER:
      return "incorrect header check";
    case ISAL_UNSUPPORTED_METHOD:
      return "unknown compression method";
    case ISAL_INCORRECT_CHECKSUM:
      return "incorrect data or length check";
    default:
      return "igzip cannot go on";
  }
}

class IsalInflater final : public Inflater {
 public:
  IsalInflater() { Reset(); }

  void SetInput(const char* data, size_t size) override {
    s_.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
    s_.avail_in = static_cast<uint32_t>(std::min(size, kMaxInflateStep));
  }
  size_t AvailIn() const override { return s_.avail_in; }

  Step Inflate(char* out, size_t size, size_t& written,
               std::string& why) override {
    written = 0;
    if (!header_done_) {
      const uint8_t* next_in = s_.next_in;
      switch (header_.Take(next_in, s_.avail_in, why)) {
        case GzipHeader::State::kBad:
          return Step::kCorrupt;
        case GzipHeader::State::kMore:
          s_.next_in = const_cast<uint8_t*>(next_in);
          return Step::kMore;
        case GzipHeader::State::kDone:
          s_.next_in = const_cast<uint8_t*>(next_in);
          header_done_ = true;
      }
    }
    s_.next_out = reinterpret_cast<uint8_t*>(out);
    s_.avail_out = static_cast<uint32_t>(std::min(size, kMaxInflateStep));
    const uint32_t before = s_.avail_out;
    const int r = isal_inflate(&s_);
    if (r != ISAL_DECOMP_OK) {
      why = Meaning(r);
      return Step::kCorrupt;  // nothing written counts
    }
    written = before - s_.avail_out;
    // A finished member has written all of its output.
    return s_.block_state == ISAL_BLOCK_FINISH ? Step::kMemberEnd : Step::kMore;
  }

  void Reset() override {
    // The reset forgets the input; what is left belongs to the next member.
    uint8_t* next_in = s_.next_in;
    const uint32_t avail_in = s_.avail_in;
    isal_inflate_init(&s_);
    // The deflate data, then the trailer's CRC-32 and length, checked.
    s_.crc_flag = ISAL_GZIP_NO_HDR_VER;
    s_.next_in = next_in;
    s_.avail_in = avail_in;
    header_ = GzipHeader();
    header_done_ = false;
  }
  const char* Name() const override { return "igzip"; }

 private:
  inflate_state s_{};
  GzipHeader header_;
  bool header_done_ = false;
};

}  // namespace

std::unique_ptr<Inflater> MakeIsalInflater(std::string&) {
  return std::make_unique<IsalInflater>();
}

}  // namespace eventquery
