#include "callline.h"

namespace {

constexpr int fieldcount = 8;
constexpr uint32_t meter_max = 0x1fff;  // the packer keeps 13 bits

bool isdigit(char c) { return c >= '0' && c <= '9'; }

bool alldigits(std::string_view s) {
  for (char c : s)
    if (!isdigit(c)) return false;
  return true;
}

// A number field: empty for zero, else 1 to `maxlen` digits, no leading
// zero. Its value goes to *value.
bool numberfield(std::string_view s, size_t maxlen, uint32_t* value) {
  if (s.size() > maxlen || !alldigits(s) || (!s.empty() && s[0] == '0')) return false;
  uint32_t v = 0;
  for (char c : s) v = v * 10 + static_cast<uint32_t>(c - '0');
  *value = v;
  return true;
}

int two(const char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }

int hexdigit(char c) {
  if (isdigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int fullyear(int yy, int hintyear) {
  if (hintyear <= 0) return yy >= 84 ? 1900 + yy : 2000 + yy;
  int year = hintyear - hintyear % 100 + yy;
  if (year - hintyear > 50) year -= 100;
  if (hintyear - year > 50) year += 100;
  return year;
}

const char* timefield(std::string_view s, int hintyear, wall* w) {
  if (s.size() != 12 || !alldigits(s)) return "field 4 is not DDMMYYhhmmss";
  const char* p = s.data();
  w->day = two(p);
  w->month = two(p + 2);
  w->year = fullyear(two(p + 4), hintyear);
  w->hour = two(p + 6);
  w->minute = two(p + 8);
  w->second = two(p + 10);
  if (w->month < 1 || w->month > 12 || w->day < 1 || w->day > daysinmonth(w->year, w->month))
    return "field 4 holds no valid date";
  if (w->hour > 23 || w->minute > 59 || w->second > 59) return "field 4 holds no valid time";
  return nullptr;
}

}  // namespace

const char* cdrcall::markname() const {
  if (ticks == mark_endbeforestart) return "end-before-start";
  if (ticks == mark_toolong) return "too-long";
  return "";
}

uint32_t partynumber(std::string_view field) {
  uint32_t v = 0;
  for (char c : field) v = v * 10 + static_cast<uint32_t>(c - '0');
  return v;
}

const char* parsecall(std::string_view line, int hintyear, cdrcall* out) {
  if (line.empty() || line[0] != ':') return "no leading ':'";
  std::string_view f[fieldcount];
  size_t pos = 1;
  for (int i = 0; i < fieldcount; ++i) {
    size_t bar = line.find('|', pos);
    if (i == fieldcount - 1) {
      if (bar != line.npos) return "more than 8 fields";
      bar = line.size();
    } else if (bar == line.npos) {
      return "fewer than 8 fields";
    }
    f[i] = line.substr(pos, bar - pos);
    pos = bar + 1;
  }
  uint32_t ignored;
  // Parties have six digits; an exchange whose numbers the packer remaps
  // to eight-times digits prints seven.
  if (!numberfield(f[0], 7, &ignored)) return "field 1 is not a party number";
  if (!numberfield(f[1], 7, &ignored)) return "field 2 is not a party number";
  if (f[2].size() > 24 || !alldigits(f[2])) return "field 3 is not up to 24 dialled digits";
  if (const char* why = timefield(f[3], hintyear, &out->end)) return why;
  if (!numberfield(f[4], 6, &out->ticks)) return "field 5 is not a duration";
  if (!numberfield(f[5], 4, &out->meter) || out->meter > meter_max)
    return "field 6 is not a meter count";
  if (!numberfield(f[6], 6, &ignored)) return "field 7 is not a charge code";
  int hi = f[7].size() == 2 ? hexdigit(f[7][0]) : -1,
      lo = f[7].size() == 2 ? hexdigit(f[7][1]) : -1;
  if (hi < 0 || lo < 0) return "field 8 is not two hexadecimal digits";
  out->flags = static_cast<uint8_t>(hi * 16 + lo);
  out->first = f[0];
  out->second = f[1];
  out->dialled = f[2];
  out->charge = f[6];
  return nullptr;
}
