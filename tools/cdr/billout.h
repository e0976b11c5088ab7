// Bills: the calls of a department or of stations for a period, each with
// its cost, the subtotals per station and per destination, and the total;
// as aligned text, as CSV, and as a page to print, one bill a sheet.
// Incoming calls cost nothing and are not listed, only counted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cdr/outbuf.h"
#include "cdr/pricing.h"
#include "cdr/reportout.h"

// A call as a bill lists it.
struct billcall {
  int64_t start = 0;    // the instant
  int startoffset = 0;  // the zone's UTC offset then
  uint32_t station = 0;
  uint32_t seconds = 0;      // the duration; see mark
  uint32_t billed = 0;       // seconds, for a call priced by a rate
  uint32_t destination = 0;  // an index into the tariff's destinations()
  money cost = 0;
  uint8_t mark = 0;  // 0, or the marked call's duration field less 999997 (1 or 2)
  uint8_t dialledlength = 0;
  char dialled[24];

  std::string_view number() const { return {dialled, dialledlength}; }
};

// The sums of a part of a bill.
struct billsum {
  uint64_t calls = 0, seconds = 0, billed = 0;
  money cost = 0;
  void add(const billcall& c) {
    ++calls;
    seconds += c.seconds;
    billed += c.billed;
    cost += c.cost;
  }
};

struct bill {
  std::string who;            // "department Sales/North", "station 4201"
  std::vector<uint32_t> calls;  // indices into the calls, in order of their start
  uint64_t incoming = 0;      // calls not billed
};

// What every bill of a run shares.
struct billbook {
  reportinfo info;  // the period, the stores, the zone, the tariff and directory
  std::vector<billcall> calls;
  std::vector<bill> bills;

  // The subtotals of one bill: per station (by number) and per destination
  // (the tariff's index; the tariff's order, then unrated and unpriced).
  std::vector<std::pair<uint32_t, billsum>> perstation(const bill& b) const;
  std::vector<std::pair<uint32_t, billsum>> perdestination(const bill& b) const;
  billsum total(const bill& b) const;
  // The station's name in the directory, or "".
  std::string nameof(uint32_t station) const;
  const std::string& destinationof(uint32_t d) const { return info.prices->rates().destinations()[d]; }
};

// "2024-03-04 09:04:36" of a call's start in the zone.
std::string starttext(const billcall& c);
// What a bill shows for a call's duration, billed time and cost.
std::string durationtext(const billcall& c);
std::string billedtext(const billcall& c);
std::string costtext(uint32_t destination, money cost);

void writebilltext(const billbook& book, outbuf& out);
// bill,section,start,station,name,dialled,destination,calls,duration,billed,cost
// with the sections call, station, destination and total; durations in
// seconds, costs with two places.
void writebillcsv(const billbook& book, outbuf& out);
// The page of the bills, to print.
void writebillhtml(const billbook& book, std::ostream& page);
