#include "interval/NumericIntervalCollection.h"

#include <stdexcept>

namespace filtermodule {

INumericInterval* NumericIntervalCollection::GetAt(int32_t index) {
  if (static_cast<uint32_t>(index) >= intervals_.size())
    throw std::out_of_range("interval index out of range");
  return &intervals_[static_cast<uint32_t>(index)];
}

void NumericIntervalCollection::Normalize() {
  for (size_t i = 0; i < intervals_.size(); ++i) {
    NumericInterval current = intervals_[i];
    size_t j = i + 1;
    while (j < intervals_.size()) {
      NumericInterval& later = intervals_[j];
      if (later.Contains(current.lower()) || later.Contains(current.upper())) {
        current.Widen(later);
        intervals_[i] = current;
        intervals_.erase(intervals_.begin() + static_cast<ptrdiff_t>(j));
      } else {
        ++j;
      }
    }
  }
}

void NumericIntervalCollection::Complement() {
  std::vector<NumericInterval> pieces;
  pieces.reserve(intervals_.size() * 2);
  for (const NumericInterval& interval : intervals_) {
    if (interval.upper() < kIntervalMax)
      pieces.emplace_back(interval.upper() + 1, kIntervalMax);
    if (interval.lower() > kIntervalMin)
      pieces.emplace_back(kIntervalMin, interval.lower() - 1);
  }
  intervals_.swap(pieces);
  Normalize();
}

void NumericIntervalCollection::IntersectWith(
    const NumericIntervalCollection& other) {
  std::vector<NumericInterval> pieces;
  pieces.reserve(intervals_.size() * other.intervals_.size());
  for (const NumericInterval& a : intervals_) {
    for (const NumericInterval& b : other.intervals_) {
      NumericInterval piece = a;
      piece.Narrow(b);
      pieces.push_back(piece);
    }
  }
  intervals_.swap(pieces);
  Normalize();
}

void NumericIntervalCollection::UnionWith(INumericIntervalCollection& other) {
  // With itself the count would grow with every copy; its union is itself.
  if (&other != this) {
    for (uint32_t k = 0; k < other.GetCount(); ++k) {
      INumericInterval* interval = other.GetAt(static_cast<int32_t>(k));
      Append(NumericInterval(interval->GetLower(), interval->GetUpper()));
    }
  }
  Normalize();
}

bool NumericIntervalCollection::Covers(int32_t value) const {
  for (const NumericInterval& interval : intervals_)
    if (interval.lower() <= value && value <= interval.upper()) return true;
  return false;
}

IntervalSetPtr MakeIntervalSet(NumericInterval interval) {
  IntervalSetPtr set(new NumericIntervalCollection());
  set->Append(interval);
  return set;
}

}  // namespace filtermodule
