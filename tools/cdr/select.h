// What query, report and audit select: a period of end times, station and
// trunk ranges, a dialled-number prefix, flag bits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cdr/reader.h"
#include "cdr/storewalk.h"
#include "cdr/zone.h"

// A time bound as given: a date or a date and time, with or without an
// offset. Without one it is a wall time of the zone.
struct timebound {
  wall w;
  bool dateonly = false;
  std::optional<int> offset;  // seconds east of UTC, when given
  std::string text;           // as given
};

// Reads "YYYY-MM-DD", "YYYY-MM-DDThh:mm[:ss]" with an optional "Z" or
// "+hh:mm"/"-hh:mm"; false when the text is none of these.
bool parsebound(const std::string& text, timebound* out);

struct numrange {
  uint32_t lo = 0, hi = UINT32_MAX;
};
// Reads "N" or "LO-HI" of decimal numbers; false otherwise. LO may be
// greater than HI: the caller tells that mistake apart.
bool parserange(const std::string& text, numrange* out);

struct selection {
  std::optional<int64_t> from, to;  // end instants: from inclusive, to exclusive
  std::optional<numrange> station, trunk;
  std::string dialled;  // prefix
  uint8_t flagvalue = 0, flagmask = 0;

  // Sets from/to with the zone: a date given to --to takes the whole day.
  void setfrom(const timebound& b, tzone& zone);
  void setto(const timebound& b, tzone& zone);
  // Reads "HH" or "HH/MM" in hexadecimal: the flags masked with MM (ff when
  // not given) must equal HH masked likewise.
  bool setflags(const std::string& text);

  bool matches(const readcall& c) const;
  // The hours of the files that can hold calls of the period, widened by
  // `margin` seconds either side.
  hourkey firstfile(tzone& zone, int64_t margin = 3600) const;
  hourkey lastfile(tzone& zone, int64_t margin = 3600) const;
};
