// An ordered set of integer intervals standing for their union.
//
// Append adds an interval as given. Every other operation leaves the set in
// its normal form: sorted by lower bound, without empty intervals, and
// without overlaps; intervals that only touch ([1, 5], [6, 9]) stay apart.
// The host must accept any form, so none is promised through the
// interface.
//
// A set lives on the heap and ends with Release; use IntervalSetPtr to hold
// one. Cost: union and intersection of normal sets are linear merges
// (O(n + m)); Normalize of an unsorted set sorts it (O(n log n)).
//
// Thread safety: one thread at a time; a set holds no reference to the
// filter that made it.

#ifndef FILTERMODULE_INTERVAL_NUMERICINTERVALCOLLECTION_H_
#define FILTERMODULE_INTERVAL_NUMERICINTERVALCOLLECTION_H_

#include <memory>
#include <vector>

#include "filtermodule/FilterModule.h"
#include "interval/NumericInterval.h"

namespace filtermodule {

class NumericIntervalCollection final : public INumericIntervalCollection {
 public:
  NumericIntervalCollection() = default;
  NumericIntervalCollection(const NumericIntervalCollection&) = delete;
  NumericIntervalCollection& operator=(const NumericIntervalCollection&) =
      delete;

  uint32_t GetCount() override {
    return static_cast<uint32_t>(intervals_.size());
  }
  // Throws std::out_of_range for a negative index or one past the end.
  INumericInterval* GetAt(int32_t index) override;
  void Release() override { delete this; }
  void Reserved(int32_t /*a*/, int32_t /*b*/) override {}

  // Appends a copy, without merging.
  void Append(NumericInterval interval) { intervals_.push_back(interval); }
  // Appends a copy of every interval of `other` (not this set), without
  // merging.
  void AppendAll(INumericIntervalCollection& other);
  // Brings the set to its normal form; the union stays the same.
  void Normalize();
  // The values outside at least one of the intervals once normalised: for
  // one interval its exact complement; for two or more disjoint ones, or
  // for empty intervals only, the whole range. A set without intervals
  // stays without.
  void Complement();
  // The values in both sets.
  void IntersectWith(const NumericIntervalCollection& other);
  // The values in either set; with itself: normalises.
  void UnionWith(INumericIntervalCollection& other);

  const std::vector<NumericInterval>& intervals() const { return intervals_; }
  // True when some interval contains `value`.
  bool Covers(int32_t value) const;

 private:
  ~NumericIntervalCollection() = default;
  // Merges overlapping neighbours of a sorted set without empty intervals.
  void MergeSorted();
  // True when the set is in its normal form.
  bool IsNormal() const;

  std::vector<NumericInterval> intervals_;
};

struct IntervalSetReleaser {
  void operator()(NumericIntervalCollection* set) const { set->Release(); }
};
using IntervalSetPtr =
    std::unique_ptr<NumericIntervalCollection, IntervalSetReleaser>;

// A new set holding `interval`.
IntervalSetPtr MakeIntervalSet(NumericInterval interval);

}  // namespace filtermodule

#endif  // FILTERMODULE_INTERVAL_NUMERICINTERVALCOLLECTION_H_
