#include "tools/pabxsim/callgen.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int firststation = 4200, laststation = 4399;
constexpr int firstlink = 1, lastlink = 199;          // trunks of station calls
constexpr int firstoutside = 300, lastoutside = 399;  // trunks of incoming calls

std::string digits(rng& r, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += static_cast<char>('0' + r.between(i == 0 ? 1 : 0, 9));
  return s;
}

}  // namespace

callgen::callgen(const genconfig& config)
    : config_(config),
      rand_(config.seed),
      pace_(config.callsperhour, config.flat),
      clock_(config.start) {
  std::fill(std::begin(recenttrunks_), std::end(recenttrunks_), 0);
}

streamitem callgen::next() {
  streamitem item;
  if (rand_.chance(config_.noisepercent)) {
    item.isnoise = true;
    item.noise = noise();
  } else if (!waiting_.empty()) {
    item.call = waiting_.front();
    waiting_.pop_front();
  } else {
    item.call = newcall();
  }
  return item;
}

simcall callgen::newcall() {
  // Calls end at random at the pace of their hour: an exponential count of
  // calls due, a second at least.
  double u = (static_cast<double>(rand_.next() >> 11) + 1.0) / 9007199254740993.0;
  double gap = pace_.seconds(clock_, -std::log(u));
  clock_ += std::max<time_t>(1, static_cast<time_t>(std::lround(gap)));

  simcall c;
  c.seq = ++seq_;
  int length = rand_.chance(40)   ? static_cast<int>(rand_.between(5, 60))
               : rand_.chance(75) ? static_cast<int>(rand_.between(61, 600))
                                  : static_cast<int>(rand_.between(601, 3600));
  timing(c, length);
  station(c);
  bool neax = config_.format != recformat::md110;
  if (rand_.chance(config_.damagedpercent)) {
    c.spoilt = static_cast<damage>(rand_.between(1, 4));
    return c;
  }
  int pick = static_cast<int>(rand_.between(0, 99));
  if (pick < 15) {
    incomingpair(c);
  } else if (neax && pick < 18) {
    // An incoming call no station answered: not looking for a partner.
    c.kind = callkind::incoming;
    c.trunk = static_cast<int>(rand_.between(firstoutside, lastoutside));
    c.cls = static_cast<int>(rand_.between(0, 1));
    c.dialled = std::string("55").append(std::to_string(c.station));
    c.meter = 0;
    c.charge.clear();
  } else if (neax && pick < 20) {
    c.kind = callkind::third;
    c.bstation = static_cast<int>(rand_.between(firststation, laststation));
    c.dialled.clear();
  } else if (!neax && pick < 22) {
    c.kind = callkind::transit;
    c.station = static_cast<int>(rand_.between(firstoutside, lastoutside));
  }
  return c;
}

// A call of a station: most dial out, some dial another station.
void callgen::station(simcall& c) {
  c.kind = callkind::station;
  c.station = static_cast<int>(rand_.between(firststation, laststation));
  c.trunk = freetrunk();
  int pick = static_cast<int>(rand_.between(0, 99));
  c.cls = pick < 50 ? 1 : pick < 85 ? 0 : 2;
  bool neax = config_.format != recformat::md110;
  int seconds = static_cast<int>(c.end - c.start);
  if (rand_.chance(80)) {
    std::string area = std::string("0").append(std::to_string(rand_.between(2, 9)));
    c.dialled = neax ? area + "-" + digits(rand_, 7) : area + digits(rand_, 7);
    c.meter = std::min(8000, 1 + seconds / 60 * static_cast<int>(rand_.between(1, 3)));
  } else {
    c.dialled = std::to_string(rand_.between(firststation, laststation));
    c.meter = 0;
  }
  if (rand_.chance(15)) c.charge = digits(rand_, static_cast<int>(rand_.between(4, 8)));
  c.cond = rand_.chance(5);
  c.check = !c.cond && rand_.chance(3);
}

// An incoming call answered by a station. NEAX prints the station's record
// and then the 'E' record that pairs with it: its station column names the
// trunk of the station's record, its length is within seconds of it. MD110
// prints one record.
void callgen::incomingpair(simcall& answer) {
  if (config_.format == recformat::md110) {
    answer.kind = callkind::incoming;
    answer.trunk = static_cast<int>(rand_.between(firstoutside, lastoutside));
    answer.dialled = std::string("0").append(std::to_string(rand_.between(2, 9)));
    answer.dialled.append(digits(rand_, 7));
    answer.meter = 0;
    return;
  }
  answer.dialled.clear();
  answer.meter = 0;
  answer.charge.clear();
  answer.cls = static_cast<int>(rand_.between(0, 1));
  simcall e;
  e.seq = ++seq_;
  e.kind = callkind::incoming;
  e.trunk = static_cast<int>(rand_.between(firstoutside, lastoutside));
  e.station = answer.trunk;
  e.cls = 2;
  e.start = answer.start - rand_.between(0, 3);
  e.end = answer.end + rand_.between(0, 3);
  e.dialled = std::string("55").append(std::to_string(answer.station));
  e.partner = answer.seq;
  waiting_.push_back(e);
}

void callgen::timing(simcall& c, int seconds) {
  c.end = clock_;
  c.start = clock_ - seconds;
}

// A trunk not used by the latest 48 station records: a pairing scans at
// most 23 records either way, so an 'E' record finds only its partner.
int callgen::freetrunk() {
  for (;;) {
    int t = static_cast<int>(rand_.between(firstlink, lastlink));
    if (std::find(std::begin(recenttrunks_), std::end(recenttrunks_), t) != std::end(recenttrunks_))
      continue;
    recenttrunks_[recentat_] = t;
    recentat_ = (recentat_ + 1) % 48;
    return t;
  }
}

std::string callgen::noise() {
  bool neax = config_.format != recformat::md110;
  switch (rand_.between(0, 2)) {
    case 0: return neax ? "\r\n** NEAX SMDR **\r\n\x03" : "\r\nMD110 BC12 CALL RECORDS\r\n";
    case 1: return "\r\n";
    default: {
      // Printable junk without an end byte: framing counts it into the next
      // record's bytes and finds the record at their end.
      std::string junk;
      for (int n = static_cast<int>(rand_.between(5, 40)); n > 0; --n)
        junk += static_cast<char>(rand_.between('!', '~'));
      return junk;
    }
  }
}
