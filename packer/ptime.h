// Call times: the exchange's seven-byte time record, the packed time scale
// (4-second ticks since 1 March 1984 00:00:00 local time), the PC clock,
// validation of call times against it, and display texts.
//
// Calendar arithmetic is left to the C library's local-time conversions; the
// reentrant ones are used throughout, behind a cache of local hours that
// gives their answers without asking them each time (hourcache.h).
#pragma once

#include <cstdint>
#include <ctime>

// The exchange's time record.
struct mpct {
  uint8_t year;   // years since 1984
  uint8_t month;  // 0 = January
  uint8_t date;   // day of the month minus one
  uint8_t day;    // weekday, 0 = Thursday .. 6 = Wednesday
  uint8_t hour;
  uint8_t minute;
  uint8_t second;
};
static_assert(sizeof(mpct) == 7);

extern mpct trecbase;            // the base instant of the packed scale
extern std::tm tmbase;           // local broken-down time of calendar time 0
extern time_t tm_trec_basediff;  // calendar time of the base instant
extern mpct real_time_rec;       // local time of the last clock reading
extern mpct* const realt;        // always &real_time_rec
extern time_t secs_now;          // calendar time of the last clock reading
extern std::tm* tm_now;          // its local broken-down form
extern uint32_t prvetime;        // end of the previous validated call; 0: none
extern char pabxerr;             // mark of the latest correction, or 0
extern char errmsg[19];          // "PABX * SYSTEM TIME", index 5 the mark

// Forgets the clock reading and the previous call; errmsg without a mark.
void resettime();

// Fixes the time zone for the run and the packed time scale. Called once,
// before the first record.
void settimescale();

void mpctotime(const mpct& rec, std::tm* out);
void timetompc(const std::tm& in, mpct* rec);
void getcurtime(mpct* rec);

uint32_t from_jul(const mpct& rec);  // record to packed time
void to_jul(uint32_t packed, mpct* rec);

// Validates a call ending `duration` ticks after `start` against the time of
// the last record and the previous call; returns the start time to keep.
uint32_t validtime(uint32_t start, uint32_t duration);

const char* rptbin2asc(uint32_t packed);  // 16 characters
const char* mname(int16_t month);         // "JAN".."DEC", else "HUH"
const char* hh_mm_ss(uint32_t duration);  // minutes:seconds or h:mm:ss

void dumptm(const std::tm& t);
void dumptrec(const mpct& rec);
