// Prefixes of digits, each with a list of numbers (ids), looked up along
// a dialled number: the ids of every prefix the number begins with,
// longest prefix first. Made for thousands of prefixes: a lookup costs one
// step a digit, whatever their count. The empty prefix begins every number.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

class digittrie {
 public:
  digittrie() : nodes_(1) {}

  // Adds `id` under `prefix` (digits 0-9 only). The ids of one prefix keep
  // the order they were added in.
  void add(std::string_view prefix, uint32_t id);

  // Calls f(ids, length) for each prefix of `digits` that holds ids, the
  // longest first, until f returns true; returns whether one did. `ids`
  // points at `count` ids, valid until the next add().
  template <typename F>
  bool longestfirst(std::string_view digits, F f) const {
    uint32_t path[maxdepth + 1];
    size_t depth = 0;
    uint32_t n = 0;
    path[0] = 0;
    for (char c : digits) {
      if (depth == maxdepth || c < '0' || c > '9') break;
      n = nodes_[n].child[static_cast<unsigned>(c - '0')];
      if (!n) break;
      path[++depth] = n;
    }
    for (size_t d = depth + 1; d-- > 0;) {
      const node& k = nodes_[path[d]];
      if (k.count && f(ids_.data() + k.first, k.count, d)) return true;
    }
    return false;
  }

  // Prepares the lists for lookups: call after the last add().
  void seal();

  static constexpr size_t maxdepth = 32;

 private:
  struct node {
    std::array<uint32_t, 10> child{};  // 0: none (the root is no one's child)
    uint32_t first = 0, count = 0;    // its ids in ids_, once sealed
  };
  std::vector<node> nodes_;
  std::vector<std::pair<uint32_t, uint32_t>> added_;  // (node, id) in the order added
  std::vector<uint32_t> ids_;
};
