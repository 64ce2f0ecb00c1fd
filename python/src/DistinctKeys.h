// Numbers the distinct 64-bit keys of a column in the order they first
// appear: an object pointer, an integer, the bits of a double. Open
// addressing over a power-of-two table kept at most half full, so a lookup
// is a multiply, a shift and usually one probe.
//
// Thread safety: none; one thread at a time.

#ifndef FILTERMODULE_PYTHON_DISTINCTKEYS_H_
#define FILTERMODULE_PYTHON_DISTINCTKEYS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fmpython {

class DistinctKeys {
 public:
  DistinctKeys() { Rehash(64); }

  // The number of `key`; a key not seen before gets the next number and
  // `*added` is set.
  uint32_t Find(uint64_t key, bool* added) {
    size_t i = Slot(key);
    for (;;) {
      Entry& e = entries_[i];
      if (e.number == 0) {
        e.key = key;
        e.number = ++size_;
        *added = true;
        if (size_ * 2 > entries_.size()) Rehash(entries_.size() * 2);
        return size_ - 1;
      }
      if (e.key == key) return e.number - 1;
      i = (i + 1) & mask_;
    }
  }

  // Starts loading the entry where `key` would be looked for first.
  void Prefetch(uint64_t key) const {
    __builtin_prefetch(&entries_[Slot(key)]);
  }

  uint32_t size() const { return size_; }

 private:
  struct Entry {
    uint64_t key = 0;
    uint32_t number = 0;  // 1-based; 0 is an empty entry
  };

  size_t Slot(uint64_t key) const {
    // Fibonacci hashing: pointers share their low bits, so mix them up.
    return static_cast<size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
  }

  void Rehash(size_t capacity) {
    std::vector<Entry> old;
    old.swap(entries_);
    entries_.assign(capacity, Entry());
    mask_ = capacity - 1;
    shift_ = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --shift_;
    for (const Entry& e : old) {
      if (e.number == 0) continue;
      size_t i = Slot(e.key);
      while (entries_[i].number != 0) i = (i + 1) & mask_;
      entries_[i] = e;
    }
  }

  std::vector<Entry> entries_;
  size_t mask_ = 0;
  unsigned shift_ = 64;
  uint32_t size_ = 0;
};

}  // namespace fmpython

#endif  // FILTERMODULE_PYTHON_DISTINCTKEYS_H_
