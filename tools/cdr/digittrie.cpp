#include "digittrie.h"

void digittrie::add(std::string_view prefix, uint32_t id) {
  uint32_t n = 0;
  for (char c : prefix.substr(0, maxdepth)) {
    auto digit = static_cast<unsigned>(c - '0');
    if (!nodes_[n].child[digit]) {
      nodes_[n].child[digit] = static_cast<uint32_t>(nodes_.size());
      nodes_.emplace_back();
    }
    n = nodes_[n].child[digit];
  }
  nodes_[n].ids.push_back(id);
}

// Lays out node n and those below it; returns the slot that names it.
uint32_t digittrie::place(uint32_t n) {
  run own{static_cast<uint32_t>(order_.size()), static_cast<uint32_t>(nodes_[n].ids.size())};
  order_.insert(order_.end(), nodes_[n].ids.begin(), nodes_[n].ids.end());
  bool children = false;
  for (uint32_t c : nodes_[n].child) children = children || c;
  if (!children && n != 0) {
    if (own.count < 64 && own.first < (1u << 24)) return own.first << 8 | own.count << 2 | inlined | leaf;
    leaves_.push_back(own);
    return static_cast<uint32_t>(leaves_.size() - 1) << 2 | leaf;
  }
  auto b = static_cast<uint32_t>(blocks_.size());
  blocks_.emplace_back();
  blocks_[b].own = own;
  for (unsigned d = 0; d < 10; ++d)
    if (uint32_t c = nodes_[n].child[d]) {
      uint32_t slot = place(c);
      blocks_[b].child[d] = slot;
    }
  return b << 1;
}

void digittrie::seal() {
  blocks_.clear();
  leaves_.clear();
  order_.clear();
  place(0);
  nodes_ = {node{}};  // no longer needed
}
