// The log sources of the Sigma rule format's taxonomy appendix that name
// Windows event log channels and event ids: a Windows service gives its
// channels, a category Sysmon's channel (or PowerShell's) and event ids.
//
// Thread safety: pure.

#ifndef SIGMA_TAXONOMY_H_
#define SIGMA_TAXONOMY_H_

#include <string>
#include <string_view>
#include <vector>

namespace eventquery::sigma {

struct SourceConditions {
  std::vector<std::string> channels;  // any of them ("" none: any channel)
  std::vector<int> event_ids;         // any of them (none: any id)
  // Why the log source adds no condition although it names one (or, when
  // `partly`, only the service's channel), or "".
  std::string unmapped;
  bool partly = false;
};

SourceConditions MapLogSource(std::string_view product,
                              std::string_view category,
                              std::string_view service);

}  // namespace eventquery::sigma

#endif  // SIGMA_TAXONOMY_H_
