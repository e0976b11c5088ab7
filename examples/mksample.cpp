// Writes the sample streams of examples/ to standard output: calls of
// every kind, rejects and line noise, as an exchange might print them on a
// bad day.
//
//   mksample > examples/neax.smdr
//   mksample md110 > examples/md110.smdr
#include <cstdio>
#include <string>

#include "support/md110rec.h"
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

std::string neaxsample() {
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
  return out;
}

// An MD110 call ending on 12 January at 09:00 plus i times 7 minutes.
md110fields md110call(int i) {
  md110fields f;
  char s[32];
  snprintf(s, sizeof s, "0112%02d%02d", 9 + i * 7 / 60, i * 7 % 60);
  f.stamp = s;
  snprintf(s, sizeof s, "%d%02d%d", i % 3, (i * 13) % 60, i % 10);
  f.duration = s;
  snprintf(s, sizeof s, "%4d", (i * 5) % 40);
  f.meter = s;
  snprintf(s, sizeof s, "0%d%07d", 2 + i % 7, 5550000 + i * 41);
  f.first = s;
  snprintf(s, sizeof s, "%d", 4300 + i % 23);
  f.second = s;
  snprintf(s, sizeof s, "T00-%02d-%02d", i % 4, 10 + i % 7);
  f.trunk1 = s;
  if (i % 5 == 2) f.charge = "123456789012";
  return f;
}

std::string md110sample() {
  static const char* const conds[] = {"   ", "A  ", "I  ", "AN ", "D  ", "ND ", "XX ", "AIN"};
  std::string out;
  for (int i = 0; i < 30; ++i) {
    md110fields f = md110call(i);
    f.cond = conds[i % 8];
    switch (i % 6) {
      case 1:  // outgoing through both trunks
        f.trunk2 = "T00-01-17";
        break;
      case 3:  // incoming: the second trunk only; the station in the first field
        f.trunk2 = f.trunk1;
        f.trunk1 = "";
        f.first = std::string(13, ' ') + " 004" + std::to_string(100 + i);
        f.second = std::to_string(30123400 + i).insert(0, 1, '0');
        break;
      case 5:  // both trunk fields blank: the third kind, decoded with -M
        f.trunk1 = "";
        f.first = std::string(13, ' ') + "X";  // a station too long to store
        break;
    }
    out += md110record(f);
    if (i % 7 == 6) out += "\r\nMD110 BC12 CALL RECORDS\r\n";  // short lines: dropped
  }
  std::string bad = md110record(md110call(40));
  bad[22] = '*';  // a separator column
  out += bad;
  const std::string shortnote = "** one byte short of a record";
  out += std::string(134, '-').replace(0, shortnote.size(), shortnote) + "\n";
  out += md110record(md110call(41));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  std::string out = argc > 1 && std::string(argv[1]) == "md110" ? md110sample() : neaxsample();
  fwrite(out.data(), 1, out.size(), stdout);
}
