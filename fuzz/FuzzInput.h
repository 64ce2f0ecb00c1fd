// Reads typed values off a fuzzer's input bytes; past the end everything
// reads as zero or empty.

#ifndef FUZZ_FUZZINPUT_H_
#define FUZZ_FUZZINPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return pos_ >= size_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  int32_t Small(int32_t lo, int32_t hi) {  // lo..hi inclusive
    return lo +
           static_cast<int32_t>(Byte() % static_cast<uint32_t>(hi - lo + 1));
  }
  int32_t Int32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | Byte();
    return static_cast<int32_t>(v);
  }
  // A text of up to `max` code units drawn from `alphabet` (or any 16-bit
  // unit when the alphabet is empty).
  std::u16string Text(size_t max, const std::u16string& alphabet) {
    const size_t n = Byte() % (max + 1);
    std::u16string s;
    for (size_t i = 0; i < n && !empty(); ++i) {
      if (alphabet.empty()) {
        s.push_back(static_cast<char16_t>((Byte() << 8) | Byte()));
      } else {
        s.push_back(alphabet[Byte() % alphabet.size()]);
      }
    }
    return s;
  }
  std::string Rest() {
    std::string s(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
    pos_ = size_;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

#endif  // FUZZ_FUZZINPUT_H_
