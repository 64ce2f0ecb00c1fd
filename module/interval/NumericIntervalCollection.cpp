#include "interval/NumericIntervalCollection.h"

#include <algorithm>
#include <stdexcept>

namespace filtermodule {
namespace {

bool LowerFirst(const NumericInterval& a, const NumericInterval& b) {
  return a.lower() < b.lower() ||
         (a.lower() == b.lower() && a.upper() < b.upper());
}

}  // namespace

INumericInterval* NumericIntervalCollection::GetAt(int32_t index) {
  if (static_cast<uint32_t>(index) >= intervals_.size())
    throw std::out_of_range("interval index out of range");
  return &intervals_[static_cast<uint32_t>(index)];
}

void NumericIntervalCollection::Normalize() {
  std::erase_if(intervals_, [](const NumericInterval& x) { return x.empty(); });
  // Sets built by the operations below are sorted already; this check
  // keeps their merge linear.
  if (!std::is_sorted(intervals_.begin(), intervals_.end(), LowerFirst))
    std::sort(intervals_.begin(), intervals_.end(), LowerFirst);
  MergeSorted();
}

void NumericIntervalCollection::MergeSorted() {
  size_t kept = 0;
  for (size_t i = 0; i < intervals_.size(); ++i) {
    const NumericInterval next = intervals_[i];
    // Overlapping intervals merge; touching ones ([1, 5], [6, 9]) stay apart.
    if (kept > 0 && next.lower() <= intervals_[kept - 1].upper()) {
      if (next.upper() > intervals_[kept - 1].upper())
        intervals_[kept - 1].SetUpper(next.upper());
    } else {
      intervals_[kept++] = next;
    }
  }
  intervals_.resize(kept);
}

void NumericIntervalCollection::Complement() {
  if (intervals_.empty()) return;
  Normalize();
  // The values outside at least one interval: outside their common part,
  // which empty intervals alone have none of.
  NumericInterval common(1, 0);
  if (!intervals_.empty()) {
    common = intervals_.front();
    for (const NumericInterval& interval : intervals_) common.Narrow(interval);
  }
  intervals_.clear();
  if (common.empty()) {
    intervals_.emplace_back(kIntervalMin, kIntervalMax);
    return;
  }
  if (common.lower() > kIntervalMin)
    intervals_.emplace_back(kIntervalMin, common.lower() - 1);
  if (common.upper() < kIntervalMax)
    intervals_.emplace_back(common.upper() + 1, kIntervalMax);
}

void NumericIntervalCollection::IntersectWith(
    const NumericIntervalCollection& other) {
  Normalize();
  const std::vector<NumericInterval>* theirs = &other.intervals_;
  NumericIntervalCollection sorted;
  if (!other.IsNormal()) {
    sorted.intervals_ = other.intervals_;
    sorted.Normalize();
    theirs = &sorted.intervals_;
  }
  // Both sorted and disjoint: one sweep, each step passing the interval
  // that ends first.
  std::vector<NumericInterval> pieces;
  size_t a = 0, b = 0;
  while (a < intervals_.size() && b < theirs->size()) {
    NumericInterval piece = intervals_[a];
    piece.Narrow((*theirs)[b]);
    if (!piece.empty()) pieces.push_back(piece);
    if (intervals_[a].upper() < (*theirs)[b].upper())
      ++a;
    else
      ++b;
  }
  intervals_.swap(pieces);
}

void NumericIntervalCollection::UnionWith(INumericIntervalCollection& other) {
  // With itself the count would grow with every copy; its union is itself.
  if (&other != this) {
    Normalize();
    const size_t mine = intervals_.size();
    AppendAll(other);
    // Two sorted runs merge in linear time; anything else is sorted whole.
    auto middle = intervals_.begin() + static_cast<ptrdiff_t>(mine);
    if (std::is_sorted(middle, intervals_.end(), LowerFirst))
      std::inplace_merge(intervals_.begin(), middle, intervals_.end(),
                         LowerFirst);
  }
  Normalize();
}

void NumericIntervalCollection::AppendAll(INumericIntervalCollection& other) {
  // No reserve: an exact one per call would make repeated calls quadratic.
  const uint32_t count = other.GetCount();
  for (uint32_t k = 0; k < count; ++k) {
    INumericInterval* interval = other.GetAt(static_cast<int32_t>(k));
    Append(NumericInterval(interval->GetLower(), interval->GetUpper()));
  }
}

bool NumericIntervalCollection::IsNormal() const {
  for (size_t i = 0; i < intervals_.size(); ++i) {
    if (intervals_[i].empty()) return false;
    if (i > 0 && intervals_[i].lower() <= intervals_[i - 1].upper())
      return false;
  }
  return true;
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
