// Where the build found no ISA-L: zlib alone.

#include "Inflater.h"

namespace eventquery {

std::unique_ptr<Inflater> MakeIsalInflater(std::string& why) {
  why = "this build has no ISA-L";
  return nullptr;
}

}  // namespace eventquery
