// Prefixes of digits, each with a list of numbers (ids), looked up along
// a dialled number: the ids of every prefix the number begins with,
// longest prefix first. Made for thousands of prefixes: a lookup costs one
// step a digit, whatever their count, and the steps touch little memory
// (a block of ten children for each prefix that has longer ones, a pair
// of numbers for each that has none). The empty prefix begins every
// number.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

class digittrie {
 public:
  // Adds `id` under `prefix` (digits 0-9 only, at most maxdepth of them).
  // The ids of one prefix keep the order they were added in.
  void add(std::string_view prefix, uint32_t id);

  // Prepares the lookups: call after the last add(). The ids are then laid
  // out in order(), those of each prefix side by side.
  void seal();
  const std::vector<uint32_t>& order() const { return order_; }

  // Calls f(first, count) for each prefix of `digits` that holds ids, the
  // longest first, until f returns true; returns whether one did. The
  // prefix's ids are order()[first] to order()[first + count - 1].
  template <typename F>
  bool longestfirst(std::string_view digits, F f) const {
    run path[maxdepth + 1];  // left as it is: only [0, depth] is written and read
    size_t depth = 0;
    path[0] = blocks_[0].own;
    uint32_t b = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') break;
      uint32_t slot = blocks_[b].child[static_cast<unsigned>(c - '0')];
      if (!slot) break;
      if (slot & leaf) {
        path[++depth] = slot & inlined ? run{slot >> 8, slot >> 2 & 63} : leaves_[slot >> 2];
        break;
      }
      b = slot >> 1;
      path[++depth] = blocks_[b].own;
    }
    for (size_t d = depth + 1; d-- > 0;)
      if (path[d].count && f(path[d].first, path[d].count)) return true;
    return false;
  }

  static constexpr size_t maxdepth = 32;

 private:
  struct run {
    uint32_t first, count;
  };
  // A prefix with longer ones: its children by digit and its own ids. A
  // child is 0 (none), a block's index << 1, or a leaf (a prefix without
  // longer ones): its run in the slot itself (first << 8 | count << 2 |
  // inlined | leaf) when that fits, else its index in leaves_ << 2 | leaf.
  struct block {
    std::array<uint32_t, 10> child{};
    run own{0, 0};
  };
  static constexpr uint32_t leaf = 1, inlined = 2;

  // While adding: every prefix as a node of a plain tree.
  struct node {
    std::array<uint32_t, 10> child{};  // 0: none (the root is no one's child)
    std::vector<uint32_t> ids;
  };
  uint32_t place(uint32_t n);

  std::vector<node> nodes_{1};
  std::vector<block> blocks_;
  std::vector<run> leaves_;
  std::vector<uint32_t> order_;
};
