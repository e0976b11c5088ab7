// One CDR line read back into a call, strictly by the line's format:
//
//   :first|second|dialled|DDMMYYhhmmss|duration|meter|charge|flags
//
// Parties, duration, meter and charge code are decimal numbers without
// leading zeros, zero written as an empty field; the dialled digits keep
// theirs. The duration counts 4-second ticks; 999998 and 999999 are markers
// (the end lay before the start; too long to count), never lengths. The
// flags are two lower-case hexadecimal digits as the packer prints them:
// 0x80 puts the trunk first; 0x08, with 0x80, marks a call between two
// stations (the third record kind, 0x89 and 0x8b), whose first party is the
// station in the place every record has its station and whose second is
// the other station; the low two bits are set as the exchange's module
// sets them (a NEAX: the record's class plus one; an MD110: 1 for one
// trunk, 3 for two).
#pragma once

#include <cstdint>
#include <string_view>

#include "tools/common/civil.h"

inline constexpr uint32_t tick_seconds = 4;
inline constexpr uint32_t mark_endbeforestart = 999998;
inline constexpr uint32_t mark_toolong = 999999;
inline constexpr uint8_t flag_trunkfirst = 0x80;
inline constexpr uint8_t flag_stations = 0x08;
inline constexpr uint8_t flag_classbits = 0x03;

struct cdrcall {
  // Views into the line read; valid while it is.
  std::string_view first, second, dialled, charge;
  wall end;            // the time of field 4: the call's end, local time
  uint32_t ticks = 0;  // field 5 as written, markers included
  uint32_t meter = 0;
  uint8_t flags = 0;

  // A call between two stations, on no trunk.
  bool betweenstations() const { return flags & flag_stations; }
  // The line's first party is a trunk.
  bool trunkfirst() const { return (flags & flag_trunkfirst) && !betweenstations(); }
  std::string_view station() const { return trunkfirst() ? second : first; }
  std::string_view trunk() const {
    return betweenstations() ? std::string_view() : trunkfirst() ? first : second;
  }
  // The second station of a call between two; empty for any other call.
  std::string_view otherstation() const { return betweenstations() ? second : std::string_view(); }
  int classbits() const { return flags & flag_classbits; }
  bool marked() const { return ticks >= mark_endbeforestart; }
  // The duration in seconds; 0 for a marked call.
  uint32_t seconds() const { return marked() ? 0 : ticks * tick_seconds; }
  // "end-before-start", "too-long", or "" for a measured call.
  const char* markname() const;
};

// Reads `line` (without its line feed) into *out. The two-digit year is
// taken in the century that brings it nearest to `hintyear` (the year the
// line's file is named after), or in 1984-2083 when `hintyear` is 0.
// Returns nullptr for a well-formed line, else why it is not one.
const char* parsecall(std::string_view line, int hintyear, cdrcall* out);

// The numeric value of a party field ("" is 0).
uint32_t partynumber(std::string_view field);
