// Decoding of NEAX call records, shared by the two NEAX modules.
//
// A NEAX record is 131 bytes of fixed-width text before its ETX. Every
// decoded call waits in a queue until 23 newer calls have arrived, so that
// the records of one call can be paired; the modules differ only in the
// dialled digits of kind 'E' and in what a pairing changes.
#pragma once

#include <cstdint>

#include "pabx/pabx.h"
#include "pabx/rawrec.h"

struct neaxrules {
  // Collects the dialled digits of an 'E' record into out (room for 24);
  // returns their count.
  int (*edigits)(const rawrec& rec, char* out);
  // Applies a pairing: `examined` is the 'E' or 'B' record that found
  // `partner`, a record whose trunk is its station.
  void (*pair)(pkrecord* examined, pkrecord* partner);
};

// The digit characters of rec[first .. first+len-1], in order, into out
// (room for len); returns their count.
int scandigits(const rawrec& rec, int first, int len, char* out);

class neaxdecoder {
 public:
  explicit neaxdecoder(const neaxrules& rules) : rules_(rules) {}

  int packrec(pkrecord* pk);
  int dequeue(pkrecord* pk);

  static constexpr int recordlen = 131;  // bytes before the ETX
  static constexpr int queuelen = 24;

 private:
  // A third-kind record without the MASK parity flag is dropped: neither
  // decoded nor counted as rejected.
  enum outcome { decoded, rejected, dropped };
  outcome decode(const rawrec& rec, pkrecord* pk);
  void quescan(int direction);
  // True for the entries quescan pairs: asked before the call, as most are
  // not, to spare the call.
  static bool seekspartner(const pkrecord& pk) {
    return (pk.pk_flags & pkf_trunkfirst) && (pk.pk_flags & pkf_class) == pkf_class;
  }
  static uint8_t next(uint8_t i) { return i == queuelen - 1 ? 0 : i + 1; }
  static uint8_t prev(uint8_t i) { return i == 0 ? queuelen - 1 : i - 1; }

  const neaxrules rules_;
  pkrecord queue_[queuelen] = {};
  uint8_t head_ = 0;  // the entry the next insertion fills
  uint8_t tail_ = 0;  // the oldest held entry
  uint8_t que_ = 0;   // entries held
};
