#include "hourcache.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr time_t hourlen = 3600;

// How far on either side of an hour its offset must be seen to hold for
// the cache to answer mktime there while the library's memory points
// elsewhere: mktime's first guess then lies at most this far off, in the
// same offset, and its second is the answer. Three hours cover every
// change of offset in use.
constexpr long long reach = 3 * 3600;

struct hour {
  time_t first = 0;   // the first second of the hour
  std::tm tm{};       // its local time
  bool wide = false;  // the offset holds `reach` seconds on either side
};

constexpr int slots = 8;
hour hours[slots];
int used = 0;    // slots filled
int oldest = 0;  // the slot to fill next once all are
int latest = 0;  // the slot of the last answer, the likeliest next
int before = 0;  // the slot of the answer before it: a record's own hours
                 // and the clock's take turns

// mktime's memory: its last answer minus the local time it was asked for,
// read as if that were UTC. It begins its next search from the answer
// this offset would give.
struct memory {
  bool known = false;
  long long value = 0;
};
memory library;  // what the C library holds
memory program;  // what it would hold had every request reached it
time_t primer = 0;  // the first second of an hour whose conversion brings
                    // library to program
unsigned long misses = 0;
unsigned long resets = 0;

bool samezone(const std::tm& a, const std::tm& b) {
  if (a.tm_gmtoff != b.tm_gmtoff || a.tm_isdst != b.tm_isdst) return false;
  if (a.tm_zone == b.tm_zone) return true;
  return a.tm_zone && b.tm_zone && strcmp(a.tm_zone, b.tm_zone) == 0;
}

bool samehour(const std::tm& a, const std::tm& b) {
  return a.tm_hour == b.tm_hour && a.tm_mday == b.tm_mday && a.tm_mon == b.tm_mon &&
         a.tm_year == b.tm_year;
}

bool inhour(const hour& h, time_t t) { return t >= h.first && t - h.first < hourlen; }

// True when the library applies no leap second at t (a zone of the
// "right/" kind does): its UTC reading of t is t's second of the day.
bool noleap(time_t t) {
  std::tm u;
  if (!gmtime_r(&t, &u)) return false;
  long long day = ((t % 86400) + 86400) % 86400;
  return u.tm_hour * 3600LL + u.tm_min * 60LL + u.tm_sec == day;
}

// The local time of t, when it is in the zone state of `like`, leap free.
bool inzoneof(time_t t, const std::tm& like, std::tm* out) {
  return localtime_r(&t, out) && samezone(*out, like) && noleap(t);
}

// The local time asked for, read as UTC seconds since 1970 the way mktime
// reads it before it looks at the zone: months beyond December carry into
// the year, everything else adds up as it is.
long long linear(const std::tm& t) {
  long long year = 1900LL + t.tm_year + t.tm_mon / 12;
  int mon = t.tm_mon % 12;
  if (mon < 0) {
    mon += 12;
    --year;
  }
  // Days since 1970-01-01 of the first of the month, counting years from
  // March so that the leap day comes last.
  long long y = year - (mon < 2);
  long long era = (y >= 0 ? y : y - 399) / 400;
  long long yoe = y - era * 400;
  long long doy = (153LL * ((mon + 10) % 12) + 2) / 5;
  long long days = era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  days += t.tm_mday - 1;
  return ((days * 24 + t.tm_hour) * 60 + t.tm_min) * 60 + t.tm_sec;
}

void answeredfrom(int slot) {
  if (slot == latest) return;
  before = latest;
  latest = slot;
}

const hour* holding(time_t t) {
  if (used == 0) return nullptr;
  if (inhour(hours[latest], t)) return &hours[latest];
  int slot = before;
  if (!inhour(hours[slot], t)) {
    for (slot = 0; slot < used && !inhour(hours[slot], t); ++slot) {
    }
    if (slot == used) return nullptr;
  }
  answeredfrom(slot);
  return &hours[slot];
}

// Caches the hour of t, whose local time is tm, if the library shows it
// plain (see the header).
void learn(time_t t, const std::tm& tm) {
  if (tm.tm_min < 0 || tm.tm_min > 59 || tm.tm_sec < 0 || tm.tm_sec > 59 || holding(t)) return;
  hour h;
  h.first = t - tm.tm_min * 60 - tm.tm_sec;
  std::tm last, earlier, later;
  if (!inzoneof(h.first, tm, &h.tm) || !samehour(h.tm, tm) || h.tm.tm_min != 0 || h.tm.tm_sec != 0)
    return;
  if (!inzoneof(h.first + hourlen - 1, tm, &last) || !samehour(last, tm) || last.tm_min != 59 ||
      last.tm_sec != 59)
    return;
  h.wide = inzoneof(h.first - reach, tm, &earlier) &&
           inzoneof(h.first + hourlen - 1 + reach, tm, &later);
  int slot;
  if (used < slots) {
    slot = used++;
  } else {
    slot = oldest;
    oldest = (oldest + 1) % slots;
  }
  hours[slot] = h;
  answeredfrom(slot);
}

// What mktime's memory holds after it gave `answer` for req: the answer
// minus the time asked for, read as UTC. (Seconds above 59 it searches
// with 59 and adds the rest to the answer afterwards, which keeps that
// difference; only its mending of a leap second would not, so an answer
// with a leap second leaves the memory unknown.)
memory after(const std::tm& req, time_t answer) {
  memory m;
  m.known = answer != -1 && noleap(answer);
  m.value = m.known ? static_cast<long long>(answer) - linear(req) : 0;
  return m;
}

// Brings the library's memory to the program's: a conversion of the hour
// whose answer set the program's memory last, which the library answers
// from its own memory in two steps (it lies within reach of it).
void bringlibrary() {
  std::tm asked;
  localtime_r(&primer, &asked);
  std::tm t = asked;
  t.tm_isdst = -1;
  time_t answer = mktime(&t);
  library = after(asked, answer);
  // Cannot differ while zones keep to what the header takes on trust; if
  // one did, nothing more is answered from the cache.
  if (!library.known || library.value != program.value) {
    library.known = false;
    program.known = false;
  }
}

time_t askmktime(const std::tm& req) {
  ++misses;
  if (library.known && program.known && library.value != program.value) bringlibrary();
  std::tm t = req;
  time_t answer = mktime(&t);
  library = after(req, answer);
  program = library;
  if (answer != -1) learn(answer, t);
  return answer;
}

time_t within(const hour& h, const std::tm& req) { return h.first + req.tm_min * 60 + req.tm_sec; }

// mktime's memory after an answer in h.
long long memoryin(const hour& h) { return -static_cast<long long>(h.tm.tm_gmtoff); }

// True when mktime, with the program's memory and the library's as they
// are, finds a time of a wide hour leaving `memory` in two steps.
bool reaches(long long memory) {
  long long gap = program.value - memory, libgap = library.value - memory;
  return library.known && gap <= reach && -gap <= reach && libgap <= reach && -libgap <= reach;
}

// The program's memory after such an answer, in the wide hour from first.
void reached(time_t first, long long memory) {
  program = {true, memory};
  primer = first;
}

}  // namespace

std::tm* cachedlocaltime(time_t t, std::tm* out) {
  if (const hour* h = holding(t)) {
    int into = static_cast<int>(t - h->first);
    *out = h->tm;
    out->tm_min = into / 60;
    out->tm_sec = into % 60;
    return out;
  }
  ++misses;
  if (!localtime_r(&t, out)) return nullptr;
  learn(t, *out);
  return out;
}

// mktime guesses first that the time asked for has the offset its memory
// points to. With that guess an answer inside a cached hour is found at
// once and the memory stays; with a guess within reach of a wide hour the
// second guess is the answer and the memory becomes the hour's.
time_t cachedmktime(const std::tm& req) {
  if (req.tm_isdst >= 0 || !program.known || req.tm_min < 0 || req.tm_min > 59 || req.tm_sec < 0 ||
      req.tm_sec > 59)
    return askmktime(req);
  // The hours of the last two answers first: most requests fall in them.
  for (int slot : {latest, before}) {
    const hour& h = hours[slot];
    if (slot < used && samehour(h.tm, req) && program.value == memoryin(h)) {
      answeredfrom(slot);
      return within(h, req);
    }
  }
  const hour* wide = nullptr;
  for (int i = 0; i < used; ++i) {
    const hour& h = hours[i];
    if (!samehour(h.tm, req)) continue;
    if (program.value == memoryin(h)) {
      answeredfrom(i);
      return within(h, req);
    }
    if (h.wide && reaches(memoryin(h))) wide = &h;
  }
  if (!wide) return askmktime(req);
  reached(wide->first, memoryin(*wide));
  answeredfrom(static_cast<int>(wide - hours));
  return within(*wide, req);
}

bool answeredin(const std::tm& req, time_t answer, knownhour* out) {
  const hour* h = answer == -1 ? nullptr : holding(answer);
  if (!h || !samehour(h->tm, req) || within(*h, req) != answer) return false;
  *out = {{resets, memoryin(*h), true}, h->first, h->wide};
  return true;
}

// As cachedmktime decides for a wide hour. (Its local times occur once
// within reach: no other cached hour holds them with the memory's offset.)
bool reacheswide(const knownhour& h) {
  if (h.after.resets != resets || !program.known || !reaches(h.after.memory)) return false;
  reached(h.first, h.after.memory);
  return true;
}

unsigned long hourcachemisses() { return misses; }

mktimestate mktimenow() { return {resets, program.value, program.known}; }

void resethourcache() {
  ++resets;
  used = oldest = latest = before = 0;
  misses = 0;
  library = program = memory{};
}
