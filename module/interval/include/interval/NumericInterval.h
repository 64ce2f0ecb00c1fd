// A closed interval of signed 32-bit integers, held by value. Both bounds
// belong to it; lower > upper makes it empty. A new interval is the whole
// range [-2147483648, 2147483647], which stands for "no restriction".

#ifndef FILTERMODULE_INTERVAL_NUMERICINTERVAL_H_
#define FILTERMODULE_INTERVAL_NUMERICINTERVAL_H_

#include <cstdint>
#include <limits>

#include "filtermodule/FilterModule.h"

namespace filtermodule {

inline constexpr int32_t kIntervalMin = std::numeric_limits<int32_t>::min();
inline constexpr int32_t kIntervalMax = std::numeric_limits<int32_t>::max();

class NumericInterval final : public INumericInterval {
 public:
  NumericInterval() = default;
  NumericInterval(int32_t lower, int32_t upper)
      : lower_(lower), upper_(upper) {}
  NumericInterval(const NumericInterval&) = default;
  NumericInterval& operator=(const NumericInterval&) = default;
  ~NumericInterval() = default;

  int32_t GetLower() override { return lower_; }
  int32_t GetUpper() override { return upper_; }
  bool Contains(int32_t value) override {
    return lower_ <= value && value <= upper_;
  }

  int32_t lower() const { return lower_; }
  int32_t upper() const { return upper_; }
  bool empty() const { return lower_ > upper_; }
  void SetLower(int32_t value) { lower_ = value; }
  void SetUpper(int32_t value) { upper_ = value; }
  // The smallest interval covering both (they need not overlap).
  void Widen(NumericInterval other);
  // The values both hold; empty when they share none.
  void Narrow(NumericInterval other);

  bool operator==(const NumericInterval& o) const {
    return lower_ == o.lower_ && upper_ == o.upper_;
  }

 private:
  int32_t lower_ = kIntervalMin;
  int32_t upper_ = kIntervalMax;
};

}  // namespace filtermodule

#endif  // FILTERMODULE_INTERVAL_NUMERICINTERVAL_H_
