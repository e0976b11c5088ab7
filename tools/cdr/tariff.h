// A tariff: the rates calls are priced by, read from a CSV file with the
// header row
//
//   prefix,destination,days,from,to,setup,per_minute,first,step,pulse
//
// A rate applies to dialled numbers that begin with its prefix (the empty
// prefix: every number) when its window (window.h) holds the call's start.
// The rate of a call is, among those whose window holds its start, the one
// of the longest prefix; of rates of one prefix, the first in the file.
//
// A call of d seconds, d > 0, is billed first + ceil(max(0, d - first) /
// step) * step seconds, a call of 0 seconds nothing, and costs
//
//   setup (if d > 0) + per_minute * billed / 60 (rounded half up) + pulse * meter
//
// in ten-thousandths (money.h), rounded once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "cdr/digittrie.h"
#include "cdr/fileproblem.h"
#include "cdr/money.h"
#include "cdr/window.h"

struct rate {
  window when;
  uint32_t destination = 0;        // an index into the tariff's destinations()
  uint32_t first = 60, step = 60;  // seconds
  money setup = 0, perminute = 0, pulse = 0;
};

// A rate as the file gives it.
struct tariffrow {
  rate r;
  long line = 0;
  std::string prefix;
};

// The billed seconds of a call of `seconds`.
inline uint32_t billedseconds(uint32_t seconds, uint32_t first, uint32_t step) {
  if (seconds == 0) return 0;
  if (seconds <= first) return first;
  return first + (seconds - first + step - 1) / step * step;
}

// The cost of a call of `seconds` (billed `billed`) with `meter` pulses.
inline money callcost(const rate& r, uint32_t seconds, uint32_t billed, uint32_t meter) {
  return (seconds ? r.setup : 0) + divroundhalfup(r.perminute * billed, 60) +
         r.pulse * static_cast<money>(meter);
}

class tariff {
 public:
  // The destinations pktav-cdr names itself, before those of the file.
  static constexpr uint32_t incoming = 0, unrated = 1, unpriced = 2, firstnamed = 3;

  // Reads the file; its errors and warnings go to *problems. False when it
  // has errors (the tariff is then not to be used).
  bool load(const std::string& path, std::vector<fileproblem>* problems);
  // The same of a file's text; `path` names it in the problems.
  bool parse(std::string_view text, const std::string& path, std::vector<fileproblem>* problems);

  // The rate of a number dialled at a moment of the week, or nullptr.
  const rate* find(std::string_view dialled, weekmoment m) const {
    const rate* found = nullptr;
    trie_.longestfirst(dialled, [&](uint32_t first, uint32_t n) {
      for (const rate* r = &byprefix_[first]; r != &byprefix_[first] + n; ++r)
        if (r->when.holds(m)) return (found = r), true;
      return false;
    });
    return found;
  }

  // By index: "incoming", "unrated", "unpriced", then the file's names in
  // the order they first appear.
  const std::vector<std::string>& destinations() const { return names_; }
  // The rates in the order of the file.
  const std::vector<tariffrow>& rows() const { return rows_; }
  const std::string& path() const { return path_; }

 private:
  bool readrate(const std::vector<std::string>& f, long line, fileproblems& p);
  void warnunreachable(fileproblems& p) const;

  std::string path_;
  std::vector<tariffrow> rows_;
  std::vector<rate> byprefix_;  // in the trie's order: a prefix's rates side by side
  std::vector<std::string> names_{"incoming", "unrated", "unpriced"};
  std::unordered_map<std::string, uint32_t> named_;  // while reading: names_ by name
  digittrie trie_;
};
