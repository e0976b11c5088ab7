// The diziziv7 module: NEAX records; an 'E' record's dialled number stands
// at bytes 98 to 113, and a pairing marks the partner, which takes the
// examined record's trunk as its station.
#include <cstring>

#include "pabx/modules.h"
#include "pabx/neax.h"

namespace {

// '0' and the digits of bytes 98-113; nothing when there are none.
int edigits(const rawrec& rec, char* out) {
  int n = scandigits(rec, 98, 16, out + 1);
  if (n == 0) return 0;
  out[0] = '0';
  return n + 1;
}

void pair(pkrecord* examined, pkrecord* partner) {
  memcpy(partner->pk_station, examined->pk_trunk, 3);
  partner->pk_flags |= pkf_class;
}

neaxdecoder decoder({edigits, pair});

int packrec(pkrecord* pk) { return decoder.packrec(pk); }
int dequeue(pkrecord* pk) { return decoder.dequeue(pk); }

}  // namespace

const pabxmodule diziziv7_module = {
    "3.11 Diziziv7 #13  ", {0, 0x03, 0x82, 0, 0, 0, 0}, false, packrec, dequeue,
};
