// ISA-L's engine (igzip), built where the build found ISA-L.
//
// A member's header is read here and igzip inflates the deflate data and
// checks the trailer: igzip 2.30 takes a header whose check (FHCRC) came in
// more than one piece for a corrupt one.

#include <isa-l/igzip_lib.h>
#include <zlib.h>

#include <algorithm>

#include "Inflater.h"

namespace eventquery {
namespace {

constexpr size_t kMaxStep = size_t{1} << 30;

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

// A gzip header (RFC 1952), read as its bytes come: ten fixed bytes, then
// the fields its flags announce, then the header's own check if flagged.
class GzipHeader {
 public:
  enum class State { kMore, kDone, kBad };

  // Takes the header's bytes from [data, data + size), advancing both past
  // them; `why` says what is wrong when kBad. Linear in the bytes taken.
  State Take(const uint8_t*& data, uint32_t& size, std::string& why) {
    while (size > 0 && part_ != Part::kDone) {
      const Part part = part_;
      const uint8_t* begin = data;
      switch (part) {
        case Part::kFixed:
          fixed_[got_++] = *data++;
          if (!Fixed(why)) return State::kBad;
          break;
        case Part::kExtraLength:
        case Part::kCheck:
          number_ |= static_cast<uint32_t>(*data++) << (8 * got_++);
          if (got_ < 2) break;
          if (part == Part::kExtraLength) {
            Next(number_ > 0 ? Part::kExtra : Part::kName);
          } else if (number_ != (crc_ & 0xFFFF)) {
            why = "header crc mismatch";
            return State::kBad;
          } else {
            Next(Part::kDone);
          }
          break;
        case Part::kExtra: {
          const uint32_t n = std::min(size, number_);
          data += n;
          number_ -= n;
          if (number_ == 0) Next(Part::kName);
          break;
        }
        case Part::kName:
        case Part::kComment: {
          const uint8_t* end = std::find(data, data + size, uint8_t{0});
          const bool ended = end != data + size;
          data = end + ended;
          if (ended) Next(part == Part::kName ? Part::kComment : Part::kCheck);
          break;
        }
        case Part::kDone:
          break;
      }
      size -= static_cast<uint32_t>(data - begin);
      // The header's check covers every byte before it.
      if (part != Part::kCheck)
        crc_ = crc32(crc_, begin, static_cast<uInt>(data - begin));
    }
    return part_ == Part::kDone ? State::kDone : State::kMore;
  }

 private:
  enum class Part {
    kFixed,
    kExtraLength,
    kExtra,
    kName,
    kComment,
    kCheck,
    kDone
  };
  static constexpr uint8_t kHeaderCheck = 2, kExtraField = 4, kNameField = 8,
                           kCommentField = 16, kReserved = 0xE0;

  // Checks the fixed bytes as they come, as zlib does; false when wrong.
  bool Fixed(std::string& why) {
    if (got_ == 2 && (fixed_[0] != 0x1F || fixed_[1] != 0x8B))
      why = "incorrect header check";
    else if (got_ == 3 && fixed_[2] != 8)
      why = "unknown compression method";
    else if (got_ == 4 && (fixed_[3] & kReserved) != 0)
      why = "unknown header flags set";
    else if (got_ == sizeof fixed_)
      Next(Part::kExtraLength);
    return why.empty();
  }

  // Moves to `part`, or past it when the flags leave it out.
  void Next(Part part) {
    const uint8_t flags = fixed_[3];
    got_ = 0;
    if (part != Part::kExtra) number_ = 0;
    if (part == Part::kExtraLength && !(flags & kExtraField))
      part = Part::kName;
    if (part == Part::kName && !(flags & kNameField)) part = Part::kComment;
    if (part == Part::kComment && !(flags & kCommentField)) part = Part::kCheck;
    if (part == Part::kCheck && !(flags & kHeaderCheck)) part = Part::kDone;
    part_ = part;
  }

  Part part_ = Part::kFixed;
  uint8_t fixed_[10] = {};
  uint32_t got_ = 0;
  uint32_t number_ = 0;  // the extra field's length, then the check
  uLong crc_ = crc32(0, nullptr, 0);
};

class IsalInflater final : public Inflater {
 public:
  IsalInflater() { Reset(); }

  void SetInput(const char* data, size_t size) override {
    s_.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data));
    s_.avail_in = static_cast<uint32_t>(std::min(size, kMaxStep));
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
    s_.avail_out = static_cast<uint32_t>(std::min(size, kMaxStep));
    const uint32_t before = s_.avail_out;
    const int r = isal_inflate(&s_);
    written = before - s_.avail_out;
    if (r != ISAL_DECOMP_OK) {
      why = Meaning(r);
      return Step::kCorrupt;
    }
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
