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
// (one per reset) and mktime's memory. A request answered leaves the memory
// as its answer set it; asked again while the state is still that one, it
// gets the same answer and leaves the state as it is: mktime's first guess
// is then its answer. Unknown states are never equal.
struct mktimestate {
  unsigned long resets = 0;
  long long memory = 0;
  bool known = false;
  bool operator==(const mktimestate& o) const {
    return known && o.known && resets == o.resets && memory == o.memory;
  }
};
mktimestate mktimenow();

// mktimenow() in one number, for memos asked once per record: 0 while the
// state is unknown, otherwise a number that stays as long as the state does
// and is never given again once it changes (a state left and come back to
// gets a new one). Equal nonzero stamps at two points mean equal states.
unsigned long mktimestamp();

// How many requests since the last reset the library answered, for tests
// and measurements.
unsigned long hourcachemisses();

// Forgets the cached hours and what is known of mktime's memory; to be
// called after the zone is set and after any mktime call that did not go
// through cachedmktime.
void resethourcache();
