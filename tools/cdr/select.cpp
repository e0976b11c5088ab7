#include "select.h"

#include <cstdlib>

namespace {

bool digitsat(const std::string& s, size_t pos, size_t n, int* v) {
  if (pos + n > s.size()) return false;
  *v = 0;
  for (size_t i = pos; i < pos + n; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    *v = *v * 10 + (s[i] - '0');
  }
  return true;
}

int64_t instantof(const timebound& b, tzone& zone) {
  if (b.offset) return wallsecs(b.w) - *b.offset;
  return zone.resolve(b.w).first;
}

hourkey keyof(int64_t utc, tzone& zone) {
  wall w = wallof(utc + zone.offset(utc));
  return {w.year, w.month, w.day, w.hour};
}

bool parseuint(const std::string& s, uint32_t* v) {
  if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != s.npos) return false;
  *v = static_cast<uint32_t>(std::strtoul(s.c_str(), nullptr, 10));
  return true;
}

bool parsehex2(const std::string& s, uint8_t* v) {
  if (s.empty() || s.size() > 2 || s.find_first_not_of("0123456789abcdefABCDEF") != s.npos)
    return false;
  *v = static_cast<uint8_t>(std::strtoul(s.c_str(), nullptr, 16));
  return true;
}

}  // namespace

bool parsebound(const std::string& s, timebound* out) {
  timebound b;
  if (s.size() < 10 || s[4] != '-' || s[7] != '-' || !digitsat(s, 0, 4, &b.w.year) ||
      !digitsat(s, 5, 2, &b.w.month) || !digitsat(s, 8, 2, &b.w.day))
    return false;
  if (b.w.month < 1 || b.w.month > 12 || b.w.day < 1 || b.w.day > daysinmonth(b.w.year, b.w.month))
    return false;
  size_t pos = 10;
  if (pos == s.size()) {
    b.dateonly = true;
    b.text = s;
    *out = b;
    return true;
  }
  if ((s[pos] != 'T' && s[pos] != ' ') || !digitsat(s, pos + 1, 2, &b.w.hour) ||
      pos + 3 >= s.size() || s[pos + 3] != ':' || !digitsat(s, pos + 4, 2, &b.w.minute))
    return false;
  pos += 6;
  if (pos < s.size() && s[pos] == ':') {
    if (!digitsat(s, pos + 1, 2, &b.w.second)) return false;
    pos += 3;
  }
  if (b.w.hour > 23 || b.w.minute > 59 || b.w.second > 59) return false;
  if (pos < s.size() && s[pos] == 'Z') {
    b.offset = 0;
    ++pos;
  } else if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
    int h, m;
    if (!digitsat(s, pos + 1, 2, &h) || pos + 3 >= s.size() || s[pos + 3] != ':' ||
        !digitsat(s, pos + 4, 2, &m) || h > 23 || m > 59)
      return false;
    b.offset = (s[pos] == '-' ? -1 : 1) * (h * 3600 + m * 60);
    pos += 6;
  }
  if (pos != s.size()) return false;
  b.text = s;
  *out = b;
  return true;
}

bool parserange(const std::string& text, numrange* out) {
  size_t dash = text.find('-');
  numrange r;
  if (dash == text.npos) {
    if (!parseuint(text, &r.lo)) return false;
    r.hi = r.lo;
  } else if (!parseuint(text.substr(0, dash), &r.lo) || !parseuint(text.substr(dash + 1), &r.hi)) {
    return false;
  }
  *out = r;
  return true;
}

void selection::setfrom(const timebound& b, tzone& zone) { from = instantof(b, zone); }

void selection::setto(const timebound& b, tzone& zone) {
  if (!b.dateonly) {
    to = instantof(b, zone);
    return;
  }
  // The whole day: up to the start of the next.
  timebound next = b;
  next.w = wallof(wallsecs(b.w) + 86400);
  to = instantof(next, zone);
}

bool selection::setflags(const std::string& text) {
  size_t slash = text.find('/');
  uint8_t value, mask = 0xff;
  if (!parsehex2(text.substr(0, slash), &value)) return false;
  if (slash != text.npos && !parsehex2(text.substr(slash + 1), &mask)) return false;
  flagmask = mask;
  flagvalue = value & mask;
  return true;
}

bool selection::matches(const readcall& c) const {
  if (from && c.end < *from) return false;
  if (to && c.end >= *to) return false;
  if (station) {
    uint32_t n = partynumber(c.call.station());
    if (n < station->lo || n > station->hi) return false;
  }
  if (trunk) {
    uint32_t n = partynumber(c.call.trunk());
    if (n < trunk->lo || n > trunk->hi) return false;
  }
  if (!dialled.empty() && c.call.dialled.substr(0, dialled.size()) != dialled) return false;
  return (c.call.flags & flagmask) == flagvalue;
}

hourkey selection::firstfile(tzone& zone, int64_t margin) const {
  return from ? keyof(*from - margin, zone) : firsthour;
}

hourkey selection::lastfile(tzone& zone, int64_t margin) const {
  return to ? keyof(*to - 1 + margin, zone) : lasthour;
}
