// What the store is to hold: the CDR line each record becomes in the build
// that reads its format, run with -v (no check against the clock) and -M
// (the third kind decoded), as pktav(8) describes the line. pabxsim
// writes these into its list of calls, so that a test or an operator can
// compare a store with what was sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <string>

#include "tools/pabxsim/simcall.h"

// A decoded call: what decides its line.
struct expectedcall {
  uint32_t trunk = 0, station = 0;
  uint8_t flags = 0;     // as the line's last field shows them
  int64_t start = 0;     // in 4-second ticks since 1 March 1984 local time
  int64_t duration = 0;  // in ticks
  std::string dialled;   // digits
  int meter = 0;
  std::string charge;  // as the line shows it
};

// The call a build decodes from the record when it reads it at `now`: a
// NEAX record carries no year and is taken to be of this year, or of last
// year for a month still to come; an MD110 record is of this year. False for
// a damaged record, which the build rejects.
bool decodeview(recformat format, const simcall& call, time_t now, expectedcall* out);

// The line of a call, line feed included.
std::string cdrline(const expectedcall& call);

// The order and pairing of the store. The NEAX builds hold each call until
// 23 newer ones have arrived, and pair an incoming record of class 2 with
// the station record whose trunk is its station and whose length is within
// four ticks of its own: the deviroz7e build gives the incoming record the
// partner's station, the diziziv7 build gives the partner the incoming
// record's trunk. The MD110 build stores each call at once.
class storemodel {
 public:
  // `out` is called with a call's tag and line once the line is final.
  using sink = std::function<void(size_t tag, const std::string& line)>;
  storemodel(recformat format, sink out) : format_(format), out_(std::move(out)) {}

  void add(const expectedcall& call, size_t tag);
  // The end of the run: every held call is written.
  void flush();

 private:
  struct entry {
    expectedcall call;
    size_t tag;
  };
  void scan(bool newest);
  void pair(expectedcall& examined, expectedcall& partner);
  void release();

  static constexpr size_t queuelen = 24;
  recformat format_;
  sink out_;
  std::deque<entry> queue_;
};
