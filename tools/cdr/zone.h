// The time zone the store's wall-clock times are read in: the machine's
// own, or one named with --tz. Turns a wall time into its instant, telling
// apart the times a zone never shows (the hour skipped in spring) and those
// it shows twice (the hour repeated in autumn).
//
// The zone is the process's (the TZ variable): build one tzone at a time.
// Answers are cached per hour, so a run over a store costs a handful of C
// library conversions per hour file, not per line.
#pragma once

#include <cstdint>
#include <string>

#include "tools/common/civil.h"

class tzone {
 public:
  // Sets the process's zone: `name` a zone of the system's database
  // ("Europe/Berlin"), a path to a zone file, or a POSIX TZ string; empty
  // for the machine's own. Throws std::runtime_error for an unknown name.
  explicit tzone(const std::string& name);

  enum kind { unique, repeated, skipped };
  // The instant(s) of a wall time, as seconds since the epoch. `first` is
  // the instant for a unique time, the earlier of the two for a repeated
  // one; `second` the later one (equal to first unless repeated). A
  // skipped time gets the instant the offset in force before the gap
  // gives it.
  struct instant {
    kind what = unique;
    int64_t first = 0, second = 0;
    int offfirst = 0, offsecond = 0;  // the UTC offsets of the two, seconds
  };
  instant resolve(const wall& w);

  // The wall times of the hour starting at wall seconds `hourstart` that
  // the zone shows twice: true with [*lo, *hi) in wall seconds, or false.
  bool repeatedin(int64_t hourstart, int64_t* lo, int64_t* hi);

  // The UTC offset in force at an instant, in seconds east of Greenwich.
  int offset(int64_t utc);

  const std::string& name() const { return name_; }

 private:
  // What one wall-clock hour maps to: the offsets in force before and
  // after it and, when they differ, the instant of the change.
  struct hourmap {
    int64_t hour = INT64_MIN;  // wall seconds of the hour's start / 3600
    int before = 0, after = 0;
    int64_t change = 0;
    bool irregular = false;  // more than one change near it: ask the C library per time
  };
  const hourmap& maphour(int64_t wallhour);
  instant slowresolve(int64_t local);

  std::string name_;
  hourmap hours_[2];  // the last two hours asked: a file's own and a neighbour
  int next_ = 0;
  int64_t offhour_ = INT64_MIN;  // the UTC hour `offhour_` has offset `offvalue_` throughout
  int offvalue_ = 0;
};

// The UTC offset at an instant by the C library, uncached.
int gmtoffset(int64_t utc);
