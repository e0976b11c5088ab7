// The totals of a report: per station, per trunk, per day, per hour of the
// day, and calls per hour of each day for the picture. A call between two
// stations counts for its first station and for no trunk. Memory grows with
// the number of stations, trunks and days, not with the number of calls.
// Priced, every total adds the calls' costs, and calls are totalled per
// destination too; a department's totals are those of its stations.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cdr/directory.h"
#include "cdr/money.h"
#include "cdr/reader.h"

struct tally {
  uint64_t calls = 0;
  uint64_t talk = 0;  // seconds; marked calls add none
  uint64_t meter = 0;
  uint64_t charged = 0;  // calls with a charge code
  money cost = 0;        // of the calls priced

  void add(const cdrcall& c, money price) {
    ++calls;
    talk += c.seconds();
    meter += c.meter;
    charged += !c.charge.empty();
    cost += price;
  }
  void add(const tally& t) {
    calls += t.calls;
    talk += t.talk;
    meter += t.meter;
    charged += t.charged;
    cost += t.cost;
  }
};

class traffic {
 public:
  // A call, with its destination and cost when priced (the destination
  // an index of the tariff's).
  static constexpr uint32_t unpriced = UINT32_MAX;
  void add(const readcall& c, uint32_t destination = unpriced, money cost = 0);

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
  std::vector<tally> destinations;  // by the tariff's index, when priced

  // The totals of each department of the directory, by its number: each
  // the sum of its stations' and of its sub-departments'.
  std::vector<tally> departments(const directory& d) const;

  // The entries of one of the maps, by number, or the `n` busiest first.
  static std::vector<std::pair<uint32_t, tally>> bynumber(
      const std::unordered_map<uint32_t, tally>& m);
  static std::vector<std::pair<uint32_t, tally>> busiest(
      const std::unordered_map<uint32_t, tally>& m, size_t n);

 private:
  int64_t lastday_ = INT64_MIN;
  dayrow* lastrow_ = nullptr;
};
