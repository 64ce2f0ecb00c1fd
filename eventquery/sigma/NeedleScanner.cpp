#include "NeedleScanner.h"

#include <algorithm>
#include <deque>

namespace eventquery::sigma {
namespace {

uint8_t Fold(char c) {
  const auto u = static_cast<uint8_t>(c);
  return u >= 'A' && u <= 'Z' ? static_cast<uint8_t>(u + 32) : u;
}

}  // namespace

uint32_t NeedleScanner::Add(const std::string& needle) {
  std::string folded;
  for (char c : needle) folded.push_back(static_cast<char>(Fold(c)));
  for (uint32_t i = 0; i < needles_.size(); ++i)
    if (needles_[i] == folded) return i;
  const auto id = static_cast<uint32_t>(needles_.size());
  needles_.push_back(folded);
  uint32_t node = 0;
  for (char c : folded) {
    const auto b = static_cast<uint8_t>(c);
    auto& next = trie_[node].next;
    auto it = std::find_if(next.begin(), next.end(),
                           [b](const auto& e) { return e.first == b; });
    if (it == next.end()) {
      trie_.emplace_back();
      // `next` may have moved with the vector.
      trie_[node].next.emplace_back(b, static_cast<uint32_t>(trie_.size() - 1));
      node = static_cast<uint32_t>(trie_.size() - 1);
    } else {
      node = it->second;
    }
    if (class_of_[b] == 0) class_of_[b] = static_cast<uint8_t>(classes_++);
  }
  trie_[node].ends.push_back(id);
  return id;
}

void NeedleScanner::Build() {
  const size_t n = trie_.size();
  delta_.assign(n * classes_, 0);
  dict_.assign(n, 0);
  std::vector<uint32_t> fail(n, 0);
  std::deque<uint32_t> queue;
  for (const auto& [b, child] : trie_[0].next) {
    delta_[class_of_[b]] = child;
    queue.push_back(child);
  }
  // Breadth first: a state's failure state is done before its children.
  while (!queue.empty()) {
    const uint32_t s = queue.front();
    queue.pop_front();
    dict_[s] = trie_[fail[s]].ends.empty() ? dict_[fail[s]] : fail[s];
    for (uint32_t c = 0; c < classes_; ++c)
      delta_[s * classes_ + c] = delta_[fail[s] * classes_ + c];
    for (const auto& [b, child] : trie_[s].next) {
      fail[child] = delta_[fail[s] * classes_ + class_of_[b]];
      delta_[s * classes_ + class_of_[b]] = child;
      queue.push_back(child);
    }
  }
  ends_at_.assign(n + 1, 0);
  for (size_t s = 0; s < n; ++s) {
    ends_at_[s] = static_cast<uint32_t>(ends_.size());
    ends_.insert(ends_.end(), trie_[s].ends.begin(), trie_[s].ends.end());
  }
  ends_at_[n] = static_cast<uint32_t>(ends_.size());
  trie_.clear();
  trie_.shrink_to_fit();
}

void NeedleScanner::Scan(std::string_view text, std::vector<uint32_t>& seen,
                         uint32_t stamp, std::vector<uint32_t>& found) const {
  if (seen.size() < needles_.size()) seen.resize(needles_.size(), 0);
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = p[i];
    if (b >= 0x80) {
      if (b == 0xC4 && i + 1 < n && p[i + 1] == 0xB0) {
        b = 'i';  // U+0130
        i += 1;
      } else if (b == 0xE2 && i + 2 < n && p[i + 1] == 0x84 &&
                 p[i + 2] == 0xAA) {
        b = 'k';  // U+212A
        i += 2;
      }
      // Any other byte beyond ASCII has class 0: in no needle.
    }
    s = delta_[s * classes_ + class_of_[Fold(static_cast<char>(b))]];
    for (uint32_t d = s; d != 0; d = dict_[d])
      for (uint32_t k = ends_at_[d]; k < ends_at_[d + 1]; ++k) {
        const uint32_t id = ends_[k];
        if (seen[id] == stamp) continue;
        seen[id] = stamp;
        found.push_back(id);
      }
  }
}

}  // namespace eventquery::sigma
