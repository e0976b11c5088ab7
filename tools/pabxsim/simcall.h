// One call record as the simulated exchange prints it, before it is laid out
// in the columns of a record format.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// What a record is. NEAX prints 'A' for a call of a station, 'E' for an
// incoming call and 'B' for the third kind; the MD110 kinds are named by
// which trunk fields they fill.
enum class callkind {
  station,   // NEAX 'A'; MD110 with the first trunk field only (outgoing)
  incoming,  // NEAX 'E'; MD110 with the second trunk field only
  third,     // NEAX 'B'; not made for MD110
  transit,   // MD110 with both trunk fields; not made for NEAX
};

// How a damaged record is spoilt, so that every build rejects it.
enum class damage { none, marker, kind, cls, month };

struct simcall {
  uint64_t seq = 0;  // the record's number in the stream, from 1
  callkind kind = callkind::station;
  damage spoilt = damage::none;
  int trunk = 0;
  int station = 0;
  int bstation = 0;  // the third kind's second station
  int cls = 1;       // NEAX class 0 to 2; class 2 with kind 'E' looks for a partner
  time_t start = 0, end = 0;
  std::string dialled;  // digits, perhaps with '-' as the exchange prints them
  int meter = 0;
  std::string charge;    // digits, or empty
  bool cond = false;     // the exchange's condition mark (NEAX byte 55, MD110 'A'/'I')
  bool check = false;    // the exchange's check mark (NEAX check digits, MD110 'D'/'X')
  uint64_t partner = 0;  // for a paired incoming record: the seq of its station record
};

// Text of the record format names, and what they select.
enum class recformat { neax, neax98, md110 };
