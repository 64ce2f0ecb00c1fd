// An ordered set of integer intervals standing for their union.
//
// Intervals may overlap, nest, touch or be empty; no operation sorts the set
// or promises a smallest form. Every operation appends at the end and keeps
// the order of what stays. Union, intersection and complement end with one
// merging pass (Normalize): each interval absorbs every later interval that
// holds one of its current end points. Adjacent intervals stay apart.
//
// A set lives on the heap and ends with Release; use IntervalSetPtr to hold
// one. Cost: the merging pass is O(n^2) in the count, the intersection
// O(n x m); sets stay as small as the filter's conditions make them.
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
  // The one-pass merge described above.
  void Normalize();
  // Replaces every interval by the parts of the 32-bit range outside it
  // (the piece above before the piece below), then merges.
  void Complement();
  // Every interval narrowed by every interval of `other`, then merged.
  void IntersectWith(const NumericIntervalCollection& other);
  // Appends every interval of `other`, then merges; with itself: merges.
  void UnionWith(INumericIntervalCollection& other);

  const std::vector<NumericInterval>& intervals() const { return intervals_; }
  // True when some interval contains `value`.
  bool Covers(int32_t value) const;

 private:
  ~NumericIntervalCollection() = default;

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
