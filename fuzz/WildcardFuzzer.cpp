// The wildcard matcher against the literal reference on small inputs; on
// large ones it only has to finish (libFuzzer's timeout watches).

#include "FuzzInput.h"
#include "WildcardOracle.h"
#include "expression/Wildcard.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool small = (in.Byte() & 3) != 0;
  const std::u16string alphabet = (in.Byte() & 1) ? u"*?[]!-abc" : u"";
  const size_t max = small ? 10 : 2000;
  const std::u16string pattern = in.Text(max, alphabet);
  const std::u16string text = in.Text(max, alphabet);
  const bool ours = filtermodule::MatchWildcard(pattern.c_str(), text.c_str());
  if (small && ours != oracle::MatchWildcard(pattern.c_str(), text.c_str()))
    std::abort();
  return 0;
}
