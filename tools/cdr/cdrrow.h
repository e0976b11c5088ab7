// A call as the database holds it: the columns of query, typed, and where
// its line stands in the store. The loader writes rows made from the lines
// it reads; the audit compares the rows it reads back with those the store
// gives now.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cdr/reader.h"
#include "cdr/zone.h"

struct cdrrow {
  // Where the line stands: the hour file's path relative to the store and
  // the offset of the line's first byte (counted on from the earlier
  // files at that path, for a file made again).
  std::string_view file;
  int64_t offset = 0;
  int64_t end = 0, start = 0;  // instants, seconds since the epoch
  wall endwall, startwall;     // the same as the store's zone shows them
  int endoffset = 0, startoffset = 0;
  int64_t duration = -1;         // seconds; -1 for a marked call
  std::string_view mark;         // "end-before-start", "too-long" or empty
  std::string_view station, trunk, otherstation, dialled, charge;  // empty: none
  uint32_t meter = 0;
  uint8_t flags = 0;
  bool trunkfirst = false;
  int classbits = 0;
  bool ambiguous = false;
  // The call priced by a tariff (destination, billed seconds, cost in
  // ten-thousandths) and its station's directory entry (name, department):
  // empty or -1 where there is none (NULL in the database). Not part of
  // the call, which samecall compares.
  std::string_view destination, name, department;
  int64_t billed = -1, cost = -1;

  // The same call, wherever it stands: the columns, not the place.
  bool samecall(const cdrrow& o) const;
};

// The row of a call read at `offset`.
cdrrow rowof(const readcall& c, tzone& zone, std::string_view file, int64_t offset);

// The wall times and their offsets of a row read back as instants.
void placetimes(cdrrow* r, tzone& zone);

// Writes the row's columns as query does, in CSV or as a JSON object
// without its closing brace (what query adds follows), at p; returns the
// end. 512 bytes are enough.
char* putcsv(char* p, const cdrrow& r);
char* putjson(char* p, const cdrrow& r);

// The database's names of the columns, in the order of query's: call_end
// and call_start, as "end" and "start" are words of SQL.
inline constexpr const char* callcolumns =
    "call_end, call_start, duration, duration_mark, station, trunk, other_station, dialled, meter, "
    "charge, flags, trunk_first, class_bits, ambiguous";
