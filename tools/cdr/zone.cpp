#include "zone.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace {

// Offsets east reach +14 hours and west -12; a window of 30 hours either
// side of an hour holds both offsets that can name it.
constexpr int64_t window = 30 * 3600;

bool iszonefile(const std::string& name) {
  std::string path = name;
  if (!path.empty() && path[0] == ':') path.erase(0, 1);
  if (path.empty() || path[0] != '/') {
    const char* dir = getenv("TZDIR");
    path = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + path;
  }
  // A zone file begins with "TZif"; the C library reads any other file,
  // /etc/passwd say, as UTC without a word.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  char magic[4];
  bool zone = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              read(fd, magic, sizeof magic) == sizeof magic && memcmp(magic, "TZif", 4) == 0;
  close(fd);
  return zone;
}

// A POSIX TZ string: a name, the offset west of Greenwich, and for zones
// with summer time a second name, its offset and the rules of the change
// ("CET-1CEST,M3.5.0,M10.5.0/3", "<+0330>-3:30"). The C library takes
// anything it cannot read as UTC without a word, so the string is read
// here first, and "999" or "ABC" alone is refused rather than taken as UTC.
class posixtz {
 public:
  explicit posixtz(const std::string& s) : s_(s) {}

  bool valid() {
    if (!name() || !offset()) return false;
    if (at_ == s_.size()) return true;
    if (!name()) return false;
    if (at_ < s_.size() && s_[at_] != ',' && !offset()) return false;
    if (at_ == s_.size()) return true;
    return eat(',') && rule() && eat(',') && rule() && at_ == s_.size();
  }

 private:
  bool eat(char c) {
    if (at_ >= s_.size() || s_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool digitat(size_t i) const { return i < s_.size() && s_[i] >= '0' && s_[i] <= '9'; }
  bool letterat(size_t i) const {
    return i < s_.size() && ((s_[i] >= 'A' && s_[i] <= 'Z') || (s_[i] >= 'a' && s_[i] <= 'z'));
  }

  // Three or more letters, or three or more letters, digits and signs
  // between angle brackets.
  bool name() {
    size_t from = at_;
    if (eat('<')) {
      while (at_ < s_.size() && (letterat(at_) || digitat(at_) || s_[at_] == '+' || s_[at_] == '-'))
        ++at_;
      return at_ - from - 1 >= 3 && eat('>');
    }
    while (letterat(at_)) ++at_;
    return at_ - from >= 3;
  }

  // Up to `most` digits, their value at most `max`.
  bool number(int most, long max, long* value = nullptr) {
    long v = 0;
    int n = 0;
    for (; n < most && digitat(at_); ++n) v = v * 10 + (s_[at_++] - '0');
    if (value) *value = v;
    return n > 0 && v <= max;
  }

  // [+-]hh[:mm[:ss]]; the time of day of a rule may name up to 167 hours.
  bool offset(long maxhours = 24) {
    if (!eat('+')) eat('-');
    if (!number(maxhours > 99 ? 3 : 2, maxhours)) return false;
    for (int part = 0; part < 2 && eat(':'); ++part)
      if (!number(2, 59)) return false;
    return true;
  }

  // Jn, n or Mm.w.d, with an optional /time.
  bool rule() {
    if (eat('J')) {
      long d;
      if (!number(3, 365, &d) || d < 1) return false;
    } else if (eat('M')) {
      long m, w, d;
      if (!number(2, 12, &m) || m < 1 || !eat('.') || !number(1, 5, &w) || w < 1 || !eat('.') ||
          !number(1, 6, &d))
        return false;
    } else if (!number(3, 365)) {
      return false;
    }
    return !eat('/') || offset(167);
  }

  const std::string& s_;
  size_t at_ = 0;
};

bool isposixtz(const std::string& name) { return posixtz(name).valid(); }

}  // namespace

int gmtoffset(int64_t utc) {
  time_t t = static_cast<time_t>(utc);
  std::tm tm;
  if (!localtime_r(&t, &tm)) return 0;
  return static_cast<int>(tm.tm_gmtoff);
}

tzone::tzone(const std::string& name) : name_(name) {
  if (name.empty()) {
    // Name the machine's zone file once, so that the C library does not
    // look for it again at every conversion.
    if (!getenv("TZ")) setenv("TZ", ":/etc/localtime", 1);
    const char* tz = getenv("TZ");
    name_ = tz && *tz ? tz : "localtime";
    if (name_[0] == ':') name_.erase(0, 1);
  } else {
    if (!iszonefile(name) && !isposixtz(name))
      throw std::runtime_error("unknown time zone \"" + name + "\"");
    setenv("TZ", name.c_str(), 1);
  }
  tzset();
}

const tzone::hourmap& tzone::maphour(int64_t wallhour) {
  for (const hourmap& h : hours_)
    if (h.hour == wallhour) return h;
  hourmap& h = hours_[next_];
  next_ ^= 1;
  h = hourmap{};
  h.hour = wallhour;
  int64_t start = wallhour * 3600;
  h.before = gmtoffset(start - window);
  h.after = gmtoffset(start + window);
  if (h.before == h.after) {
    // Two changes that cancel out within the window are rare, but exist.
    h.irregular =
        gmtoffset(start - h.before) != h.before || gmtoffset(start + 3599 - h.before) != h.before;
    return h;
  }
  // The first instant with the later offset.
  int64_t lo = start - window, hi = start + window;
  while (hi - lo > 1) {
    int64_t mid = lo + (hi - lo) / 2;
    (gmtoffset(mid) == h.after ? hi : lo) = mid;
  }
  h.change = hi;
  // A third offset between the two: let the C library decide each time.
  h.irregular = gmtoffset(h.change - 1) != h.before;
  return h;
}

tzone::instant tzone::resolve(const wall& w) {
  int64_t local = wallsecs(w);
  int64_t hour = local >= 0 ? local / 3600 : -((-local + 3599) / 3600);
  const hourmap& h = maphour(hour);
  if (h.irregular) return slowresolve(local);
  instant r;
  if (h.before == h.after) {
    r.first = r.second = local - h.before;
    r.offfirst = r.offsecond = h.before;
    return r;
  }
  bool early = local - h.before < h.change;  // valid with the earlier offset
  bool late = local - h.after >= h.change;   // valid with the later offset
  if (early && late) {
    r.what = repeated;
    r.first = local - h.before;
    r.offfirst = h.before;
    r.second = local - h.after;
    r.offsecond = h.after;
  } else if (early || late) {
    int off = early ? h.before : h.after;
    r.first = r.second = local - off;
    r.offfirst = r.offsecond = off;
  } else {
    r.what = skipped;
    r.first = r.second = local - h.before;
    r.offfirst = r.offsecond = h.before;
  }
  return r;
}

// Every offset in force near the time is tried; those that give it back
// are its instants.
tzone::instant tzone::slowresolve(int64_t local) {
  instant r;
  int found = 0;
  int64_t seen[4];
  int offs[4];
  for (int64_t probe = local - window; probe <= local + window; probe += 3600) {
    int off = gmtoffset(probe);
    int64_t utc = local - off;
    if (gmtoffset(utc) != off) continue;
    bool dup = false;
    for (int i = 0; i < found; ++i) dup = dup || seen[i] == utc;
    if (!dup && found < 4) {
      seen[found] = utc;
      offs[found++] = off;
    }
  }
  if (found == 0) {
    int off = gmtoffset(local - window);
    r.what = skipped;
    r.first = r.second = local - off;
    r.offfirst = r.offsecond = off;
    return r;
  }
  int a = 0, b = 0;
  for (int i = 1; i < found; ++i) {
    if (seen[i] < seen[a]) a = i;
    if (seen[i] > seen[b]) b = i;
  }
  r.what = found > 1 ? repeated : unique;
  r.first = seen[a];
  r.offfirst = offs[a];
  r.second = seen[b];
  r.offsecond = offs[b];
  return r;
}

bool tzone::repeatedin(int64_t hourstart, int64_t* lo, int64_t* hi) {
  const hourmap& h = maphour(hourstart / 3600);
  if (h.irregular || h.after >= h.before) return false;
  // Clocks went back from change + before to change + after.
  int64_t from = std::max(hourstart, h.change + h.after);
  int64_t to = std::min(hourstart + 3600, h.change + h.before);
  if (from >= to) return false;
  *lo = from;
  *hi = to;
  return true;
}

int tzone::offset(int64_t utc) {
  int64_t hour = utc >= 0 ? utc / 3600 : -((-utc + 3599) / 3600);
  if (hour == offhour_) return offvalue_;
  int a = gmtoffset(hour * 3600), b = gmtoffset(hour * 3600 + 3599);
  if (a != b) return gmtoffset(utc);  // a change within this hour
  offhour_ = hour;
  offvalue_ = a;
  return a;
}
