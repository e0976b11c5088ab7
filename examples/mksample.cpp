// Writes the sample NEAX stream of examples/neax.smdr to standard output:
// calls of every kind, rejects and line noise, as an exchange might print
// them on a bad day.
//
//   mksample > examples/neax.smdr
#include <cstdio>
#include <string>

#include "support/neaxrec.h"

namespace {

std::string stamp(int day, int minutes, int seconds) {
  char s[32];
  snprintf(s, sizeof s, "01%02d%02d%02d%02d", day, 8 + minutes / 60, minutes % 60, seconds);
  return s;
}

std::string number(int n) {
  char s[32];
  snprintf(s, sizeof s, "%06d", n);
  return s;
}

neaxfields call(int i, int length) {
  neaxfields f;
  f.station = number(4200 + i % 17);
  f.trunk = number(10 + i % 5);
  f.cls = static_cast<char>('0' + i % 3);
  f.start = stamp(5 + i / 20, i * 7, 4 * (i % 15));
  f.end = stamp(5 + i / 20, i * 7 + length / 60, 4 * (i % 15) + length % 60);
  char dialled[32];
  snprintf(dialled, sizeof dialled, "0%d-%07d", 2 + i % 7, 5550000 + i * 37);
  f.dialled = dialled;
  char meter[8];
  snprintf(meter, sizeof meter, "%04d", i % 4 ? (i * 3) % 50 : 0);
  f.meter = meter;
  if (i % 6 == 0) f.charge = "4711" + std::string(6, ' ');
  if (i % 10 == 9) f.charge = "12345678  ";
  return f;
}

}  // namespace

int main() {
  std::string out;
  for (int i = 0; i < 40; ++i) {
    neaxfields f = call(i, 60 + i * 11);
    out += neaxrecord(f);
    if (i % 8 == 3) {
      // An incoming call through trunk 4200+i, answered by station 300+i.
      neaxfields e = call(i, 60 + i * 11 + 4);
      e.kind = 'E';
      e.cls = '2';
      e.trunk = number(300 + i);
      e.station = f.trunk;
      e.dialled = "";
      out += neaxrecord(e);
    }
    if (i % 13 == 5) {
      neaxfields b = call(i, 30);
      b.kind = 'B';
      b.bstation = number(500 + i);
      out += neaxrecord(b);
    }
    if (i % 9 == 4) out += "\r\n** NEAX SMDR **\r\n\x03";  // noise and an early ETX
  }
  neaxfields bad = call(50, 60);
  bad.marker = 'X';
  out += neaxrecord(bad);
  bad = call(51, 60);
  bad.kind = 'C';
  out += neaxrecord(bad);
  bad = call(52, 60);
  bad.cls = '3';
  out += neaxrecord(bad);
  bad = call(53, 60);
  bad.start = "1305100000";
  out += neaxrecord(bad);
  neaxfields noend = call(54, 60);
  noend.end = "0000000000";  // no end time: kept, with a charge code of nines
  out += neaxrecord(noend);
  out += std::string(300, '#');  // garbage longer than the buffer
  out += neaxrecord(call(55, 120));
  fwrite(out.data(), 1, out.size(), stdout);
}
