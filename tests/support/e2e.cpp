#include "support/e2e.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "support/md110rec.h"
#include "support/neaxrec.h"

procspec packer(const std::string& program, const std::vector<std::string>& options) {
  procspec job;
  job.argv.push_back(program);
  job.argv.insert(job.argv.end(), options.begin(), options.end());
  job.env.push_back("TZ=UTC");
  return job;
}

std::string thisyear() {
  time_t now = time(nullptr);
  std::tm t;
  gmtime_r(&now, &t);
  char yy[8];
  snprintf(yy, sizeof yy, "%02d", t.tm_year % 100);
  return yy;
}

namespace {

// January is never a month still to come, so the year is always this one.
std::string stamp(int minutes) {
  char s[32];
  snprintf(s, sizeof s, "0101%02d%02d00", 10 + minutes / 60, minutes % 60);
  return s;
}

}  // namespace

std::string neaxcall(int i) {
  neaxfields f;
  char station[32];
  snprintf(station, sizeof station, "%06d", 4201 + i);
  f.station = station;
  f.start = stamp(i);
  f.end = stamp(i + 3);
  return neaxrecord(f);
}

namespace {

// A CDR line of the test calls: `first` the first party, trunk 12, ending
// on 1 January of this year at hh:mm, 45 ticks long.
std::string lineof(int first, int hh, int mm, int flags) {
  char line[96];
  snprintf(line, sizeof line, ":%d|12|5551234|0101%s%02d%02d00|45|3||%02x\n", first,
           thisyear().c_str(), hh, mm, flags);
  return line;
}

// The line of call i (see neaxcall and md110call) with these flags.
std::string callline(int i, int flags) {
  int end = i + 3;
  return lineof(4201 + i, 10 + end / 60, end % 60, flags);
}

// Items first to first + count - 1, concatenated.
std::string series(std::string (*item)(int), int first, int count) {
  std::string s;
  for (int i = first; i < first + count; ++i) s += item(i);
  return s;
}

}  // namespace

std::string neaxline(int i) { return callline(i, 0x02); }
std::string neaxcalls(int first, int count) { return series(neaxcall, first, count); }
std::string neaxlines(int first, int count) { return series(neaxline, first, count); }

std::string md110call(int i) {
  md110fields f;
  char s[32];
  snprintf(s, sizeof s, "0101%02d%02d", 10 + (i + 3) / 60, (i + 3) % 60);
  f.stamp = s;
  snprintf(s, sizeof s, "%d", 4201 + i);
  f.second = s;
  return md110record(f);
}

std::string md110line(int i) { return callline(i, 0x01); }
std::string md110calls(int first, int count) { return series(md110call, first, count); }

std::string usagetext(bool tcp) {
  static const char* const lines[] = {
      ("Usage: pktav [-i smdrfile] [-H /dev/cua1] [-o cdrdir] [-n] [-x] [-X] [-t] [-r] [-R "
       "rawfile]] [-c | -m] [-v] [-M] [-s] -p] [-e XXcode] [-l lowstn] [-h highstn]"),
      "   eg. pktav -i n24.000 -n -c -v -x -e 15 -l 000100 -h 000199",
      "            -i will take calls from file n24.000",
      "               or /dev/ttyS1 for serial port.",
      "               or hostname:port for TCP connection.",
      "            -H will handshake on this port",
      "            -n will pause between calls",
      "            -x will turn debugging on.",
      "            -X will turn Xtra debugging on.",
      "            -t will turn time struct debug on.",
      "            -r will turn raw data logging.",
      "            -R will set raw file.",
      "            -c set a CAP packer (ie. 12 digit charge codes) - DEFAULT",
      "            -m set a MPC packer (ie. 6 digit charge codes)",
      "            -v will turn date/time validation off.",
      "            -M set MASK parity flag for packer compat.",
      "            -s use PC system time.",
      "            -p use PABX time - DEFAULT",
      "            -e set call exclusion code to 15.",
      "              ( 15 - include only calls in station range with charge codes)",
      "            -l set station range low  to 000100",
      "            -h set station range high to 000199",
      "              (note: leading zeros are required).",
  };
  std::string s;
  for (const char* line : lines) {
    bool tcprow = std::string(line).rfind("               or ", 0) == 0;
    if (!tcprow || tcp) s += std::string(line) + "\n";
  }
  return s;
}

std::string bulkcall(recordformat f, int i) {
  const std::string station = std::to_string(100000 + i);
  if (f == recordformat::md110) {
    md110fields m;
    m.stamp = "01011030";
    m.second = station;
    return md110record(m);
  }
  neaxfields n;
  n.station = station;
  n.start = "0101102700";
  n.end = "0101103000";
  return neaxrecord(n);
}

std::string bulkline(recordformat f, int i) {
  return lineof(100000 + i, 10, 30, f == recordformat::md110 ? 0x01 : 0x02);
}
