// Finding many ASCII needles in one pass over a UTF-8 text (Aho-Corasick),
// ignoring case as the module does: the text is folded by the simple
// lowercase mapping, under which the only characters beyond ASCII that
// become ASCII are U+0130 (to "i") and U+212A KELVIN SIGN (to "k"); every
// other character beyond ASCII, and every byte of invalid UTF-8, stands in
// no needle. The hunt uses it to skip a rule whose condition needs one of
// some literals in a field that holds none of them.
//
// Cost: building is linear in the needles' total length times the number
// of distinct needle bytes; a scan is linear in the text's length plus the
// matches found.
//
// Thread safety: built once, then scanned by any number of threads.

#ifndef SIGMA_NEEDLESCANNER_H_
#define SIGMA_NEEDLESCANNER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace eventquery::sigma {

class NeedleScanner {
 public:
  // Adds a needle (ASCII, not empty); its id. The same needle twice gets
  // the same id.
  uint32_t Add(const std::string& needle);
  // Makes the automaton; no Add after it.
  void Build();

  // For each needle found in `text`, seen[id] = stamp, and its id appended
  // to `found` the first time.
  void Scan(std::string_view text, std::vector<uint32_t>& seen, uint32_t stamp,
            std::vector<uint32_t>& found) const;

 private:
  struct BuildNode {
    std::vector<std::pair<uint8_t, uint32_t>> next;
    std::vector<uint32_t> ends;
  };
  std::vector<std::string> needles_;
  std::vector<BuildNode> trie_{1};
  uint8_t class_of_[256] = {};
  uint32_t classes_ = 1;
  std::vector<uint32_t> delta_;    // state * classes_ + class -> state
  std::vector<uint32_t> ends_;     // the needles ending at each state ...
  std::vector<uint32_t> ends_at_;  // ... from ends_at_[s] to ends_at_[s+1]
  std::vector<uint32_t> dict_;     // nearest suffix state with ends, or 0
};

}  // namespace eventquery::sigma

#endif  // SIGMA_NEEDLESCANNER_H_
