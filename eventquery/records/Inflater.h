// Decompression of gzip streams of one or more members (`cat a.gz b.gz`
// makes two), behind one interface with two engines: ISA-L's igzip, about
// three times as fast, where the build found it, and zlib, always built,
// as the fallback and the reference the tests compare it with. Both check
// every member's CRC-32 and length (IsalInflater.cpp says where they
// differ). Private to the records library.
//
// Use: SetInput() when AvailIn() is 0, then Inflate() until it reports an
// end, a failure or a full output; Reset() after a member's end starts the
// next one with the input that is left.
//
// Thread safety: an Inflater is used by one thread at a time.

#ifndef RECORDS_INFLATER_H_
#define RECORDS_INFLATER_H_

#include <cstddef>
#include <memory>
#include <string>

namespace eventquery {

// The most given to an engine at a time: both count in 32 bits.
inline constexpr size_t kMaxInflateStep = size_t{1} << 30;

class Inflater {
 public:
  enum class Step {
    kMore,       // output full, or input used up inside a member
    kMemberEnd,  // a member ended, its checks passed; Reset() for the next
    kCorrupt,    // `why` says what is wrong
  };

  virtual ~Inflater() = default;

  // The next compressed bytes; they must stay until AvailIn() is 0.
  virtual void SetInput(const char* data, size_t size) = 0;
  // Compressed bytes given and not yet used.
  virtual size_t AvailIn() const = 0;
  // Decompresses into [out, out + size); `written` is set to what was
  // written (on kCorrupt, what is known to be the stream's: igzip's then
  // counts nothing). Linear in the bytes read and written.
  virtual Step Inflate(char* out, size_t size, size_t& written,
                       std::string& why) = 0;
  // Starts a member after kMemberEnd, keeping the input that is left.
  virtual void Reset() = 0;
  // The engine's name, for benchmarks and reports.
  virtual const char* Name() const = 0;
};

// The fastest engine this build has; nullptr (with `why` set) if it cannot
// start.
std::unique_ptr<Inflater> MakeInflater(std::string& why);
// zlib's engine.
std::unique_ptr<Inflater> MakeZlibInflater(std::string& why);
// ISA-L's engine, or nullptr (with `why` set) where the build has none.
std::unique_ptr<Inflater> MakeIsalInflater(std::string& why);

}  // namespace eventquery

#endif  // RECORDS_INFLATER_H_
