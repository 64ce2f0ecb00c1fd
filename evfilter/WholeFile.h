// Writing a file whole or not at all, for outputs a run makes at its end
// (hunt's report).
//
// Thread safety: any thread; two writers of one path race, the last
// rename wins.

#ifndef EVFILTER_WHOLEFILE_H_
#define EVFILTER_WHOLEFILE_H_

#include <string>
#include <string_view>

namespace evfilter {

// Writes `text` to a new private (0600) file beside `path` and renames it
// over `path`: a reader never sees half a file, and on failure `path` is
// as it was. Refuses a `path` that is there and no regular file (a
// symbolic link is neither followed nor replaced). Returns "" or why it
// failed.
std::string WriteWholeFile(const std::string& path, std::string_view text);

}  // namespace evfilter

#endif  // EVFILTER_WHOLEFILE_H_
