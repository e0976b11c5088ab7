// The C library's local-time conversions behind a cache of local hours.
//
// Every record costs several conversions (its start and end, the clock),
// and nearly all of them fall in the few hours its calls are from; the
// library's conversions cost more than all the rest of the work on a
// record. The answers must stay the library's, to the second and in every
// zone, so an hour is cached only after the library has shown it to be
// plain: its first and last second read as the same local hour, :00:00 and
// :59:59, with the same UTC offset, daylight flag and zone abbreviation,
// and no leap second applied. Inside such an hour the local time of an
// instant is the hour plus the minutes and seconds since its start, and
// back. Taken on trust is only that a zone does not change its offset and
// change it back within a few hours (bench/zonegaps.sh checks the tz
// database for it); everything else goes to the library.
//
// mktime has a memory: it starts its search from the UTC offset of its
// previous answer, so a local time that occurs twice (the repeated hour
// in autumn) or never (the gap in spring) gives what the calls before it
// make it give. The cache keeps track of that memory and answers only
// where the library, holding what it would hold had every conversion
// reached it, gives the cached answer; before it hands a request on to the
// library it brings the library's memory to that state first.
#pragma once

#include <ctime>

// As localtime_r.
std::tm* cachedlocaltime(time_t t, std::tm* out);

// As mktime(&req) at this point of the run, but without writing the
// normalised time back into req.
time_t cachedmktime(const std::tm& req);

// What the answers of cachedmktime hang on besides the request: the zone
// (one per reset) and mktime's memory. Unknown states are never equal.
struct mktimestate {
  unsigned long resets = 0;
  long long memory = 0;
  bool known = false;
  bool operator==(const mktimestate& o) const {
    return known && o.known && resets == o.resets && memory == o.memory;
  }
};
mktimestate mktimenow();

// An hour of the cache as a memo keeps it, to answer cachedmktime for its
// times again without the search.
struct knownhour {
  mktimestate after;  // the state an answer in it leaves
  time_t first = 0;   // its first second
  bool wide = false;  // answers reach it from nearby states too
};

// True, with the hour in *out, when `answer` (of cachedmktime(req) just
// now) lies in a cached hour that is the one req names, req's minutes and
// seconds after its start.
bool answeredin(const std::tm& req, time_t answer, knownhour* out);

// True when cachedmktime would now answer every time of the hour h names
// from h, its first second plus the time's minutes and seconds, leaving
// the state h.after. False changes nothing. In its own state an hour
// answers at once; a wide one also answers from a memory within reach
// (reacheswide), which moves to its own.
bool reacheswide(const knownhour& h);
inline bool answersfrom(const knownhour& h) {
  return mktimenow() == h.after || (h.wide && reacheswide(h));
}

// How many requests since the last reset the library answered, for tests
// and measurements.
unsigned long hourcachemisses();

// Forgets the cached hours and what is known of mktime's memory; to be
// called after the zone is set and after any mktime call that did not go
// through cachedmktime.
void resethourcache();
