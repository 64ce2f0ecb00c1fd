#include "interval/NumericInterval.h"

#include <algorithm>

namespace filtermodule {

void NumericInterval::Widen(NumericInterval other) {
  lower_ = std::min(lower_, other.lower_);
  upper_ = std::max(upper_, other.upper_);
}

void NumericInterval::Narrow(NumericInterval other) {
  lower_ = std::max(lower_, other.lower_);
  upper_ = std::min(upper_, other.upper_);
}

}  // namespace filtermodule
