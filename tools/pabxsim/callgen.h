// The stream of a simulated exchange: calls of stations, incoming calls with
// the station record they pair with, third-kind records, damaged records and
// line noise, at times that follow one another as calls end, at the pace of
// an office's day and week or at an even one.
#pragma once

#include <cstdint>
#include <ctime>
#include <deque>
#include <string>

#include "tools/pabxsim/pace.h"
#include "tools/pabxsim/rng.h"
#include "tools/pabxsim/simcall.h"

struct genconfig {
  recformat format = recformat::neax;
  uint64_t seed = 1;
  time_t start = 0;        // the end of the first call
  int callsperhour = 300;  // the mean pace of the calls over a week
  bool flat = false;       // the same pace every hour, not an office's day and week
  int noisepercent = 2;    // chance of line noise before a record
  int damagedpercent = 1;  // chance of a damaged record
};

// One piece of the stream: a record (whole or damaged) or line noise.
struct streamitem {
  bool isnoise = false;
  simcall call;       // when !isnoise
  std::string noise;  // when isnoise: the bytes
};

class callgen {
 public:
  explicit callgen(const genconfig& config);

  // The next piece. Record numbers count records only, noise has none.
  streamitem next();

 private:
  simcall newcall();
  void station(simcall& c);
  void incomingpair(simcall& answer);
  void timing(simcall& c, int seconds);
  int freetrunk();
  std::string noise();

  genconfig config_;
  rng rand_;
  pace pace_;
  time_t clock_;                 // the end of the latest call
  uint64_t seq_ = 0;             // the latest record number handed out
  std::deque<simcall> waiting_;  // the second record of a pair
  int recenttrunks_[48] = {};    // trunks used lately, so that a pair finds only its partner
  int recentat_ = 0;
};
