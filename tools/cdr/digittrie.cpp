#include "digittrie.h"

#include <algorithm>

void digittrie::add(std::string_view prefix, uint32_t id) {
  uint32_t n = 0;
  for (char c : prefix.substr(0, maxdepth)) {
    uint32_t& next = nodes_[n].child[static_cast<unsigned>(c - '0')];
    if (!next) {
      next = static_cast<uint32_t>(nodes_.size());
      nodes_.emplace_back();  // `next` may dangle from here: not used again
    }
    n = nodes_[n].child[static_cast<unsigned>(c - '0')];
  }
  added_.emplace_back(n, id);
}

void digittrie::seal() {
  std::stable_sort(added_.begin(), added_.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  ids_.clear();
  for (node& k : nodes_) k.count = 0;
  for (const auto& [n, id] : added_) {
    node& k = nodes_[n];
    if (!k.count) k.first = static_cast<uint32_t>(ids_.size());
    ++k.count;
    ids_.push_back(id);
  }
}
