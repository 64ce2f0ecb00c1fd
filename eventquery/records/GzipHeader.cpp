#include "GzipHeader.h"

#include <zlib.h>

#include <algorithm>

namespace eventquery {
namespace {

constexpr uint8_t kHeaderCheck = 2, kExtraField = 4, kNameField = 8,
                  kCommentField = 16, kReserved = 0xE0;

}  // namespace

GzipHeader::GzipHeader() : crc_(crc32(0, nullptr, 0)) {}

GzipHeader::State GzipHeader::Take(const uint8_t*& data, uint32_t& size,
                                   std::string& why) {
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
        // Both little-endian 16-bit numbers.
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
        // Both end in a zero byte.
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

bool GzipHeader::Fixed(std::string& why) {
  // As zlib: the magic once both bytes are in, then the method, the flags.
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

void GzipHeader::Next(Part part) {
  const uint8_t flags = fixed_[3];
  got_ = 0;
  if (part != Part::kExtra) number_ = 0;
  if (part == Part::kExtraLength && !(flags & kExtraField)) part = Part::kName;
  if (part == Part::kName && !(flags & kNameField)) part = Part::kComment;
  if (part == Part::kComment && !(flags & kCommentField)) part = Part::kCheck;
  if (part == Part::kCheck && !(flags & kHeaderCheck)) part = Part::kDone;
  part_ = part;
}

}  // namespace eventquery
