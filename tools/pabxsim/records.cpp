#include "tools/pabxsim/records.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

void put(std::string& rec, size_t off, size_t len, const std::string& text) {
  rec.replace(off, std::min(len, text.size()), text.substr(0, len));
}

std::string number(int n, int width) {
  char s[16];
  snprintf(s, sizeof s, "%0*d", width, n);
  return s;
}

std::string neax(const simcall& c, bool far) {
  std::string rec(132, ' ');
  rec[0] = '\x02';
  rec[3] = 'K';
  rec[4] = c.kind == callkind::incoming ? 'E' : c.kind == callkind::third ? 'B' : 'A';
  put(rec, 5, 6, number(c.trunk, 6));
  rec[11] = static_cast<char>('0' + c.cls);
  put(rec, 12, 2, "00");
  put(rec, 14, 6, number(c.station, 6));
  put(rec, 20, 10, neaxstamp(c.start));
  put(rec, 30, 10, neaxstamp(c.end));
  put(rec, 40, 10, c.charge);
  rec[55] = c.cond ? '1' : '0';
  put(rec, 56, 3, "000");
  put(rec, 59, 3, c.check ? "001" : "000");
  if (c.kind == callkind::incoming && far)
    put(rec, 98, 16, c.dialled);
  else
    put(rec, 62, 24, c.dialled);
  if (c.kind == callkind::third) put(rec, 64, 6, number(c.bstation, 6));
  put(rec, 94, 4, number(c.meter, 4));
  rec[131] = '\x03';
  switch (c.spoilt) {
    case damage::none: break;
    case damage::marker: rec[3] = 'X'; break;
    case damage::kind: rec[4] = 'C'; break;
    case damage::cls: rec[11] = '3'; break;
    case damage::month: put(rec, 20, 2, "13"); break;
  }
  return rec;
}

// A trunk as the MD110 prints it; the decoder keeps the three digit pairs.
std::string md110trunk(int n) {
  char s[16];
  snprintf(s, sizeof s, "T00-%02d-%02d", n / 100 % 100, n % 100);
  return s;
}

std::string md110(const simcall& c) {
  std::string rec(136, ' ');
  put(rec, 3, 8, md110stamp(c.end));
  int s = static_cast<int>(c.end - c.start);
  char text[32];
  snprintf(text, sizeof text, "%d%02d%d", s / 3600 % 10, s / 60 % 60, s % 60 / 6);
  put(rec, 12, 4, text);
  snprintf(text, sizeof text, "%4d", c.meter % 10000);
  put(rec, 18, 4, text);
  put(rec, 23, 3, c.cond ? "A" : c.check ? "D" : "");
  put(rec, 78, 12, c.charge);
  switch (c.kind) {
    case callkind::incoming:
      put(rec, 38, 20, std::string(14, ' ') + number(c.station, 6));
      put(rec, 59, 10, c.dialled);
      put(rec, 121, 9, md110trunk(c.trunk));
      break;
    case callkind::transit:
      put(rec, 38, 20, c.dialled);
      put(rec, 111, 9, md110trunk(c.trunk));
      put(rec, 121, 9, md110trunk(c.station));
      break;
    default:
      put(rec, 38, 20, c.dialled);
      put(rec, 59, 10, std::to_string(c.station));
      put(rec, 111, 9, md110trunk(c.trunk));
      break;
  }
  // Any damage spoils a separator column, which is what the decoder checks.
  static constexpr int spoiltcolumn[] = {0, 22, 26, 37, 58};
  if (c.spoilt != damage::none) rec[spoiltcolumn[static_cast<int>(c.spoilt)]] = '*';
  rec[135] = '\n';
  return rec;
}

std::string stamp(time_t t, const char* format) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char s[32];
  strftime(s, sizeof s, format, &tm);
  return s;
}

}  // namespace

std::string neaxstamp(time_t t) { return stamp(t, "%m%d%H%M%S"); }
std::string md110stamp(time_t t) { return stamp(t, "%m%d%H%M"); }

char endbyte(recformat format) { return format == recformat::md110 ? '\n' : '\x03'; }

std::string recordbytes(recformat format, const simcall& call) {
  switch (format) {
    case recformat::neax: return neax(call, false);
    case recformat::neax98: return neax(call, true);
    case recformat::md110: return md110(call);
  }
  return {};
}
