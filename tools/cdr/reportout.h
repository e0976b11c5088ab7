// The report's three forms: aligned text for people, CSV for programs, and
// one self-contained HTML page with inline SVG pictures of the traffic.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "cdr/outbuf.h"
#include "cdr/traffic.h"

struct reportinfo {
  std::string stores;    // what was read, for the title
  std::string zone;      // the zone's name
  int64_t firstday = 0;  // the period, as day numbers, both included
  int64_t lastday = -1;  // before firstday: no period (no calls)
};

// "h:mm:ss" of a number of seconds.
std::string hms(uint64_t seconds);
// "YYYY-MM-DD" and "Mon".."Sun" of a day number.
std::string daytext(int64_t day);
const char* weekday(int64_t day);

void writetext(const traffic& t, const reportinfo& info, outbuf& out);

// One header row, then one row per total:
// section,key,calls,talk_seconds,meter,charged with sections "total",
// "between-stations" (the calls on no trunk), "day" (key YYYY-MM-DD),
// "hour" (0-23), "station" and "trunk" (the number, empty for calls that
// named none).
void writecsv(const traffic& t, outbuf& out);

// The page, written to `page` as it is made.
void writehtml(const traffic& t, const reportinfo& info, std::ostream& page);
