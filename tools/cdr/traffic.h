// The totals of a report: per station, per trunk, per day, per hour of the
// day, and calls per hour of each day for the picture. A call between two
// stations counts for its first station and for no trunk. Memory grows with
// the number of stations, trunks and days, not with the number of calls.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cdr/reader.h"

struct tally {
  uint64_t calls = 0;
  uint64_t talk = 0;  // seconds; marked calls add none
  uint64_t meter = 0;
  uint64_t charged = 0;  // calls with a charge code

  void add(const cdrcall& c) {
    ++calls;
    talk += c.seconds();
    meter += c.meter;
    charged += !c.charge.empty();
  }
};

class traffic {
 public:
  void add(const readcall& c);

  // Days as day numbers (daysfromcivil), by the calls' local end date.
  struct dayrow {
    tally total;
    std::array<uint32_t, 24> hours{};  // calls per hour of the day
  };

  tally total;
  tally betweenstations;  // calls on no trunk, counted for their first station only
  std::map<int64_t, dayrow> days;
  std::array<tally, 24> hours;
  // Keyed by number; 0 is a call that named none.
  std::unordered_map<uint32_t, tally> stations, trunks;

  // The entries of one of the maps, by number, or the `n` busiest first.
  static std::vector<std::pair<uint32_t, tally>> bynumber(
      const std::unordered_map<uint32_t, tally>& m);
  static std::vector<std::pair<uint32_t, tally>> busiest(
      const std::unordered_map<uint32_t, tally>& m, size_t n);

 private:
  int64_t lastday_ = INT64_MIN;
  dayrow* lastrow_ = nullptr;
};
