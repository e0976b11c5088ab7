#include "ptime.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag.h"
#include "hourcache.h"
#include "settings.h"

mpct trecbase = {0, 2, 0, 0, 0, 0, 0};
std::tm tmbase = {};
time_t tm_trec_basediff = 0;
mpct real_time_rec = {};
mpct* const realt = &real_time_rec;
time_t secs_now = 0;
std::tm* tm_now = nullptr;
uint32_t prvetime = 0;
char pabxerr = 0;
char errmsg[19];

namespace {

constexpr uint32_t ticksperday = 21600;
constexpr uint32_t future = 1350;   // 90 minutes
constexpr uint32_t past = 64800;    // 72 hours
constexpr uint32_t behind = 10800;  // 12 hours

time_t basesecs = 0;  // mktime of tmbase, fixed with the scale
std::tm tmnowbuf = {};
// The clock reading tmnowbuf holds the local time of: a clock read in the
// same second needs no conversion. -1: none.
time_t tmnowsecs = -1;
mpct tmnowrec = {};       // tmnowbuf as a time record
bool tmnowrecof = false;  // tmnowrec is that of tmnowbuf

// With TZ unset the C library re-examines /etc/localtime at every mktime
// call. The zone is fixed for the run once the scale is set, so name the
// same file explicitly and keep system calls out of the conversions.
void fixtimezone() {
  if (!getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
  tzset();
}

// The packed time of calendar time secs, the local time rec was read as.
uint32_t packsecs(time_t secs) {
  if (dodumpt)
    errf("MPC time_t = %ld  Base = %ld\n", static_cast<long>(secs), static_cast<long>(basesecs));
  // difftime(secs, basesecs): for differences this far below 2^63 it
  // subtracts exactly and rounds once, as this does, without the call.
  // Below 2^53, where doubles hold every integer, the arithmetic is exact
  // and the same in integers, which do not wait for the floating point unit.
  int64_t retval;
  constexpr int64_t exact = int64_t{1} << 52;
  int64_t diff = secs - basesecs;
  if (diff > -exact && diff < exact && tm_trec_basediff > -exact && tm_trec_basediff < exact) {
    retval = (diff - tm_trec_basediff) / 4;
  } else {
    double dbltime = static_cast<double>(diff);
    retval = static_cast<int64_t>((dbltime - static_cast<double>(tm_trec_basediff)) / 4.0);
  }
  if (dodumpt)
    errf("dbltime = %f retval = %ld\n", static_cast<double>(diff), static_cast<long>(retval));
  return static_cast<uint32_t>(retval);
}

}  // namespace

void resettime() {
  real_time_rec = mpct{};
  secs_now = 0;
  tm_now = nullptr;
  prvetime = 0;
  pabxerr = 0;
  tmnowsecs = -1;
  snprintf(errmsg, sizeof errmsg, "PABX * SYSTEM TIME");
}

void dumptm(const std::tm& t) {
  errf(" tm sec=%d min=%d hour=%d mday=%d mon=%d year=%d wday=%d yday=%d isdst=%d\n", t.tm_sec,
       t.tm_min, t.tm_hour, t.tm_mday, t.tm_mon, t.tm_year, t.tm_wday, t.tm_yday, t.tm_isdst);
}

void dumptrec(const mpct& r) {
  errf(" mpct year=%d month=%d date=%d day=%d hour=%d minute=%d second=%d\n", r.year, r.month,
       r.date, r.day, r.hour, r.minute, r.second);
}

void mpctotime(const mpct& rec, std::tm* out) {
  if (dodumpt) dumptrec(rec);
  *out = std::tm{};
  out->tm_year = rec.year + 84;
  out->tm_mon = rec.month;
  out->tm_mday = rec.date + 1;
  out->tm_wday = (rec.day + 3) % 7;
  out->tm_hour = rec.hour;
  out->tm_min = rec.minute;
  out->tm_sec = rec.second;
  out->tm_yday = -1;
  out->tm_isdst = -1;
  if (dodumpt) dumptm(*out);
}

void timetompc(const std::tm& in, mpct* rec) {
  if (dodumpt) dumptm(in);
  rec->year = static_cast<uint8_t>(in.tm_year - 84);
  rec->month = static_cast<uint8_t>(in.tm_mon);
  rec->date = static_cast<uint8_t>(in.tm_mday - 1);
  rec->day = static_cast<uint8_t>((in.tm_wday + 3) % 7);
  rec->hour = static_cast<uint8_t>(in.tm_hour);
  rec->minute = static_cast<uint8_t>(in.tm_min);
  rec->second = static_cast<uint8_t>(in.tm_sec);
  if (dodumpt) dumptrec(*rec);
}

void settimescale() {
  fixtimezone();
  trecbase = mpct{0, 2, 0, 0, 0, 0, 0};
  mpctotime(trecbase, &tmbase);
  tm_trec_basediff = mktime(&tmbase);
  if (dodumpt) errf("tm_trec_basediff = %ld\n", static_cast<long>(tm_trec_basediff));
  time_t zero = 0;
  localtime_r(&zero, &tmbase);
  std::tm copy = tmbase;
  basesecs = mktime(&copy);
  // A new zone, and conversions that passed the cache.
  resethourcache();
  tmnowsecs = -1;
}

void getcurtime(mpct* rec) {
  secs_now = time(nullptr);
  if (secs_now != tmnowsecs) {
    cachedlocaltime(secs_now, &tmnowbuf);
    tmnowsecs = secs_now;
    tmnowrecof = false;
  }
  tm_now = &tmnowbuf;
  // Converted once a second too, but for the traces of each conversion.
  if (!tmnowrecof || dodumpt) {
    timetompc(tmnowbuf, &tmnowrec);
    tmnowrecof = true;
  }
  *rec = tmnowrec;
}

// Most records fall in the hour of the one before, and inside a cached
// hour (hourcache.h) conversions are that hour plus minutes and seconds.
// So each direction keeps the last hours it converted through the cache,
// with what its answers hang on, and answers within them without asking.
namespace {

// One hour of from_jul's answers.
struct fromhour {
  uint64_t hour = ~uint64_t{0};  // hourkey of the hour asked for; no key is all ones
  knownhour at;                  // the cached hour that answers it
  // packsecs(first + s) is ticks + s / 4 for every s of the hour when
  // `first` lies a whole number of ticks after the scale's base: one sum
  // per record in place of packsecs' range checks and division.
  bool whole = false;
  int64_t ticks = 0;
};
// A record's start and end often lie in different hours: two of them. The
// clock, asked by every call's validation, has one of its own.
fromhour frommemo[2];
int fromlast = 0;  // the entry used last
fromhour clockmemo;

struct {
  unsigned long resets = ~0ul;  // the zone it holds for
  time_t first = 0;
  mpct hour;  // the local time of `first`
} tomemo;

// The fields naming the hour of a record (year, month, date, weekday, hour:
// the first five bytes) in one number, to compare them at once.
uint64_t hourkey(const mpct& rec) {
  static_assert(offsetof(mpct, hour) == 4 && offsetof(mpct, minute) == 5);
  uint64_t key = 0;
  memcpy(&key, &rec, 5);
  return key;
}

mpct hourof(mpct rec) {
  rec.minute = rec.second = 0;
  return rec;
}

// The memo of an hour. packsecs subtracts and divides exactly while the
// differences stay far below 2^53, and with all of it at or after the base
// its truncation is the integer division's.
fromhour fromentry(uint64_t hour, const knownhour& at) {
  fromhour m;
  m.hour = hour;
  m.at = at;
  int64_t since = static_cast<int64_t>(at.first) - basesecs;
  int64_t span = since - tm_trec_basediff;
  constexpr int64_t exact = int64_t{1} << 50;
  m.whole = since > -exact && since < exact && span >= 0 && span < exact && span % 4 == 0;
  m.ticks = m.whole ? span / 4 : 0;
  return m;
}

// Whether m answers a record of this hour now; if so, mktime's memory is
// as its conversion would leave it.
bool answers(const fromhour& m, uint64_t hour) { return m.hour == hour && answersfrom(m.at); }

uint32_t ticksin(const fromhour& m, const mpct& rec) {
  if (m.whole) return static_cast<uint32_t>(m.ticks + rec.minute * 15 + rec.second / 4);
  return packsecs(m.at.first + rec.minute * 60 + rec.second);
}

// from_jul through the cache; with `keep`, a cached hour that answers goes
// into *keep. Out of line, so that the hits need not save the registers it
// uses.
[[gnu::noinline]] uint32_t convertfrom(const mpct& rec, fromhour* keep) {
  std::tm t;
  mpctotime(rec, &t);
  time_t secs = cachedmktime(t);
  knownhour at;
  if (keep && answeredin(t, secs, &at)) *keep = fromentry(hourkey(rec), at);
  return packsecs(secs);
}

// Memos only where each conversion is not traced and minutes and seconds
// stay in their hour.
bool memoable(const mpct& rec) { return !dodumpt && rec.minute < 60 && rec.second < 60; }

// from_jul(real_time_rec).
uint32_t clockticks() {
  if (!memoable(real_time_rec)) return convertfrom(real_time_rec, nullptr);
  if (answers(clockmemo, hourkey(real_time_rec))) return ticksin(clockmemo, real_time_rec);
  return convertfrom(real_time_rec, &clockmemo);
}

}  // namespace

uint32_t from_jul(const mpct& rec) {
  if (!memoable(rec)) return convertfrom(rec, nullptr);
  uint64_t hour = hourkey(rec);
  for (int i : {fromlast, 1 - fromlast}) {
    if (answers(frommemo[i], hour)) {
      fromlast = i;
      return ticksin(frommemo[i], rec);
    }
  }
  fromlast = 1 - fromlast;
  return convertfrom(rec, &frommemo[fromlast]);
}

namespace {

// to_jul through the cache, keeping the hour in the memo when it may; out
// of line, so that the hits need not save the registers it uses.
[[gnu::noinline]] void convertto(time_t secs, mpct* rec) {
  unsigned long missed = hourcachemisses();
  std::tm t;
  if (!cachedlocaltime(secs, &t)) t = tmbase;
  timetompc(t, rec);
  // Read from a cached hour, which is plain.
  if (hourcachemisses() == missed) {
    tomemo.resets = mktimenow().resets;
    tomemo.first = secs - t.tm_min * 60 - t.tm_sec;
    tomemo.hour = hourof(*rec);
  }
}

}  // namespace

void to_jul(uint32_t packed, mpct* rec) {
  // Widened: the packed scale reaches far beyond January 2038.
  time_t secs = static_cast<time_t>(packed) * 4 + tm_trec_basediff;
  // Unsigned, the seconds before the hour's start are beyond it too.
  uint64_t into = static_cast<uint64_t>(secs) - static_cast<uint64_t>(tomemo.first);
  if (!dodumpt && mktimenow().resets == tomemo.resets && into < 3600) {
    *rec = tomemo.hour;
    rec->minute = static_cast<uint8_t>(into / 60);
    rec->second = static_cast<uint8_t>(into % 60);
    return;
  }
  convertto(secs, rec);
}

uint32_t validtime(uint32_t start, uint32_t duration) {
  pabxerr = 0;
  uint32_t now = clockticks();
  uint32_t end;
  if (systime) {
    end = now;
    start = end - duration;
  } else {
    end = start + duration;
  }
  if (prvetime == 0) prvetime = now - past;
  if (!dtvalidate) {
    prvetime = end;
    return start;
  }
  if (end > now + future) {
    pabxerr = '>';
    end = now;
  } else if (end + past < now) {
    pabxerr = '<';
    end = now;
  }
  if (!pabxerr && end + behind < prvetime) {
    pabxerr = '?';
    end = prvetime;
  }
  if (pabxerr) {
    errmsg[5] = pabxerr;
    start = end - duration;
  }
  prvetime = end;
  return start;
}

const char* mname(int16_t month) {
  static const char* const names[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                        "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  return month >= 0 && month < 12 ? names[month] : "HUH";
}

const char* rptbin2asc(uint32_t packed) {
  static char text[32];
  mpct r;
  to_jul(packed, &r);
  if (packed >= ticksperday)
    snprintf(text, sizeof text, "%2d-%3s-%02d  %2d:%02d", r.date + 1, mname(r.month),
             (r.year + 84) % 100, r.hour, r.minute);
  else
    snprintf(text, sizeof text, "%13d:%02d", r.hour, r.minute);
  return text;
}

const char* hh_mm_ss(uint32_t duration) {
  static char text[24];
  uint32_t s = duration * 4;
  if (s <= 3599)
    snprintf(text, sizeof text, "%2u:%02u", s / 60, s % 60);
  else
    snprintf(text, sizeof text, "%2u:%02u:%02u",
             static_cast<unsigned>(static_cast<uint16_t>(s / 3600)), (s / 60) % 60, s % 60);
  return text;
}
