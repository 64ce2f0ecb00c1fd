// A gzip member's header (RFC 1952), read as its bytes come: ten fixed
// bytes, then the fields its flags announce (extra, name, comment), then
// the header's own check (FHCRC) when flagged. Checked as zlib checks it,
// failing in zlib's words. Private to the records library.
//
// Thread safety: used by one thread at a time.

#ifndef RECORDS_GZIPHEADER_H_
#define RECORDS_GZIPHEADER_H_

#include <cstdint>
#include <string>

namespace eventquery {

class GzipHeader {
 public:
  enum class State { kMore, kDone, kBad };

  GzipHeader();

  // Takes the header's bytes from [data, data + size), advancing both past
  // them; `why` says what is wrong when kBad. Linear in the bytes taken.
  State Take(const uint8_t*& data, uint32_t& size, std::string& why);

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

  // Checks the fixed bytes as they come; false when wrong.
  bool Fixed(std::string& why);
  // Moves to `part`, or past it when the flags leave it out.
  void Next(Part part);

  Part part_ = Part::kFixed;
  uint8_t fixed_[10] = {};
  uint32_t got_ = 0;
  uint32_t number_ = 0;  // the extra field's length, then the check
  unsigned long crc_;    // zlib's CRC-32 of the bytes before the check
};

}  // namespace eventquery

#endif  // RECORDS_GZIPHEADER_H_
