// A filter and its variants: in a variant, chosen conditions are replaced
// by lines that can never match (a LIKE with an unclosed "[" set) or always
// do (CONTAINS of the empty text), keeping their NOT flag, brackets and
// link. That is how a condition is decided "false before its NOT" for a
// record whose value it cannot use (see RowFeeder). Variants are built on
// first use and kept, up to a bound.
//
// Thread safety: one thread at a time.

#ifndef DECIDE_FILTERVARIANTS_H_
#define DECIDE_FILTERVARIANTS_H_

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "decide/BuiltFilter.h"
#include "filtermodule/FilterModule.h"
#include "query/ConditionLine.h"

namespace eventquery {

class FilterVariants {
 public:
  explicit FilterVariants(std::vector<ConditionLine> lines);
  // The filter for one record: `forced` holds one mark per line (see
  // RowFeeder: loaded, forced false, forced true). Built on first use.
  IFilter* For(const std::string& forced);
  // The filter as the lines write it, and its build.
  IFilter* base() const { return base_->get(); }
  const BuiltFilter& base_build() const { return *base_; }
  // How many variants were built so far (a variant built may replace
  // others when the cache is full).
  size_t variants_built() const { return built_; }

 private:
  std::vector<ConditionLine> lines_;
  std::unique_ptr<BuiltFilter> base_;
  std::unordered_map<std::string, std::unique_ptr<BuiltFilter>> cache_;
  size_t built_ = 0;
};

}  // namespace eventquery

#endif  // DECIDE_FILTERVARIANTS_H_
