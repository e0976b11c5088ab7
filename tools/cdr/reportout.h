// The report's three forms: aligned text for people, CSV for programs, and
// one self-contained HTML page with inline SVG pictures of the traffic.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>

#include "cdr/outbuf.h"
#include "cdr/pricing.h"
#include "cdr/traffic.h"

struct reportinfo {
  std::string stores;    // what was read, for the title
  std::string zone;      // the zone's name
  int64_t firstday = 0;  // the period, as day numbers, both included
  int64_t lastday = -1;  // before firstday: no period (no calls)
  // The tariff (a cost with every total, totals per destination) and the
  // directory (totals per department), as far as they were given.
  const pricing* prices = nullptr;
  bool priced() const { return prices && prices->priced(); }
  bool listed() const { return prices && prices->listed(); }
};

// The title of a report or a bill: the stores, the zone and the period
// asked for, else the days that have calls (firstday to lastday; none when
// lastday is before firstday).
reportinfo titleof(const cdroptions& o, int64_t firstday, int64_t lastday, const selection& sel,
                   tzone& zone);

// The rows of the sections per destination and per department: the
// tariff's destinations in the order of the file, then incoming, unrated
// and unpriced; the departments by path, then (none).
struct namedtotal {
  std::string name;
  tally total;
  bool costed = true;  // false: unrated or unpriced calls, which have no cost
};
std::vector<namedtotal> bydestination(const traffic& t, const tariff& rates);
std::vector<namedtotal> bydepartment(const traffic& t, const directory& d);

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
// named none); priced, a column cost and the section "destination"; with a
// directory the section "department" (the path, empty for none).
void writecsv(const traffic& t, const reportinfo& info, outbuf& out);

// Text with &, <, >, " written as entities, for HTML and XML.
std::string htmlescape(const std::string& s);

// The page, written to `page` as it is made.
void writehtml(const traffic& t, const reportinfo& info, std::ostream& page);

// The file of a page (of --html; none when `path` is empty), opened before
// the work, so that a path that cannot be written ends the run before it,
// and closed after. Each says why and returns false when it cannot.
bool openpage(const std::string& path, std::optional<std::ofstream>* page);
bool closepage(const std::string& path, std::optional<std::ofstream>* page);
