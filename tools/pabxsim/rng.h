// A small deterministic random number source: the same seed gives the same
// stream on every machine and with every compiler, which the standard
// library's distributions do not promise.
#pragma once

#include <cstdint>

class rng {
 public:
  explicit rng(uint64_t seed) : state_(seed) {}

  // splitmix64: one addition and three mixing steps per number.
  uint64_t next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

  // A number from lo to hi, both included (lo <= hi).
  int64_t between(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(next() % static_cast<uint64_t>(hi - lo + 1));
  }

  // True with the given chance in percent.
  bool chance(int percent) { return between(0, 99) < percent; }

 private:
  uint64_t state_;
};
