// mkcdrstore: writes a store of made-up calls, as pktav would have filed
// them, for benchmarks and examples of pktav-cdr.
//
//   mkcdrstore DIR [--from YYYY-MM-DD] [--days N] [--lines N]
//              [--stations N] [--trunks N] [--seed N]
//
// Calls follow an office day: few at night, most in the late morning and
// the afternoon, fewer at weekends. Wall times are written as they are,
// without any zone: read the store with --tz UTC.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tools/common/civil.h"
#include "tools/common/officeweek.h"

namespace {

struct settings {
  std::string dir;
  int year = 2024, month = 3, day = 4;
  long days = 7, lines = 3000, stations = 40, trunks = 8;
  unsigned seed = 1;
};

void usage() {
  fputs(
      "usage: mkcdrstore DIR [--from YYYY-MM-DD] [--days N] [--lines N] [--stations N]"
      " [--trunks N] [--seed N]\n",
      stderr);
  exit(2);
}

settings parse(int argc, char** argv) {
  settings s;
  if (argc < 2) usage();
  s.dir = argv[1];
  for (int i = 2; i + 1 < argc + 1; i += 2) {
    if (i + 1 >= argc) usage();
    std::string opt = argv[i];
    const char* v = argv[i + 1];
    if (opt == "--from" && sscanf(v, "%d-%d-%d", &s.year, &s.month, &s.day) == 3) continue;
    if (opt == "--days")
      s.days = atol(v);
    else if (opt == "--lines")
      s.lines = atol(v);
    else if (opt == "--stations")
      s.stations = atol(v);
    else if (opt == "--trunks")
      s.trunks = atol(v);
    else if (opt == "--seed")
      s.seed = static_cast<unsigned>(atol(v));
    else
      usage();
  }
  if (s.days < 1 || s.lines < 0 || s.stations < 1 || s.trunks < 1) usage();
  return s;
}

void mkdirs(const settings& s, const wall& w, std::string* path) {
  char buf[64];
  snprintf(buf, sizeof buf, "/%02d_%04d", w.month, w.year);
  *path = s.dir + buf;
  mkdir(path->c_str(), 0755);
  snprintf(buf, sizeof buf, "/%02d_%02d_%04d", w.day, w.month, w.year);
  *path += buf;
  mkdir(path->c_str(), 0755);
  snprintf(buf, sizeof buf, "/%02d_%02d_%04d:%02d", w.day, w.month, w.year, w.hour);
  *path += buf;
}

}  // namespace

int main(int argc, char** argv) {
  settings s = parse(argc, argv);
  std::mt19937_64 rng(s.seed);
  int64_t first = daysfromcivil(s.year, s.month, s.day);
  // The share of the calls of each hour of the period.
  std::vector<double> weight(static_cast<size_t>(s.days) * 24);
  std::uniform_real_distribution<double> busy(0.8, 1.2);  // no two days alike
  double sum = 0, daily = 1;
  for (size_t h = 0; h < weight.size(); ++h) {
    int64_t day = first + static_cast<int64_t>(h / 24);
    if (h % 24 == 0) daily = busy(rng);
    weight[h] = officeweight(weekdayof(day), static_cast<int>(h % 24)) * daily;
    sum += weight[h];
  }
  std::uniform_int_distribution<int> second(0, 3599), station(0, static_cast<int>(s.stations) - 1),
      trunk(1, static_cast<int>(s.trunks)), digits(0, 9999999), pct(0, 99);
  std::exponential_distribution<double> talk(1.0 / 45);  // ticks: three minutes on average
  long written = 0;
  double carry = 0;
  std::string path, text;
  std::vector<int> seconds;
  for (size_t h = 0; h < weight.size(); ++h) {
    double want = s.lines * weight[h] / sum + carry;
    long n = h + 1 == weight.size() ? s.lines - written : static_cast<long>(want);
    carry = want - static_cast<double>(n);
    if (n <= 0) continue;
    seconds.assign(static_cast<size_t>(n), 0);
    for (int& x : seconds) x = second(rng);
    std::sort(seconds.begin(), seconds.end());
    wall w = wallof((first * 24 + static_cast<int64_t>(h)) * 3600);
    mkdirs(s, w, &path);
    text.clear();
    for (int sec : seconds) {
      bool incoming = pct(rng) < 30;
      unsigned ticks = static_cast<unsigned>(talk(rng)) + 1;
      int cls = 1 + pct(rng) % 3;
      char line[128];
      char dialled[16] = "";
      if (!incoming) snprintf(dialled, sizeof dialled, "0%07d", digits(rng));
      char charge[16] = "";
      if (pct(rng) < 8) snprintf(charge, sizeof charge, "%d", 100 + pct(rng));
      int st = 4200 + station(rng), tr = trunk(rng);
      // Zero is an empty field.
      char meter[16] = "";
      unsigned pulses = incoming ? 0 : ticks / 15;
      if (pulses) snprintf(meter, sizeof meter, "%u", pulses);
      snprintf(line, sizeof line, ":%d|%d|%s|%02d%02d%02d%02d%02d%02d|%u|%s|%s|%02x\n",
               incoming ? tr : st, incoming ? st : tr, dialled, w.day, w.month, w.year % 100,
               w.hour, sec / 60, sec % 60, ticks, meter, charge, (incoming ? 0x80 : 0) | cls);
      text += line;
    }
    FILE* f = fopen(path.c_str(), "a");
    if (!f || fwrite(text.data(), 1, text.size(), f) != text.size() || fclose(f) != 0) {
      perror(path.c_str());
      return 1;
    }
    written += n;
  }
  return 0;
}
