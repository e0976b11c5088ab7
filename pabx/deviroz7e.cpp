// The deviroz7e module: NEAX records; a paired 'E' or 'B' record takes the
// station of its partner.
#include <cstring>

#include "pabx/modules.h"
#include "pabx/neax.h"

namespace {

int edigits(const rawrec& rec, char* out) { return scandigits(rec, 62, 24, out); }

void pair(pkrecord* examined, pkrecord* partner) {
  memcpy(examined->pk_station, partner->pk_station, 3);
  examined->pk_flags = static_cast<uint8_t>(0x81 | (partner->pk_flags & 0x02));
}

neaxdecoder decoder({edigits, pair});

int packrec(pkrecord* pk) { return decoder.packrec(pk); }
int dequeue(pkrecord* pk) { return decoder.dequeue(pk); }

}  // namespace

const pabxmodule deviroz7e_module = {
    "3.12 Deviroz7e #13 ", {0, 0x03, 0x82, 0, 0, 0, 0}, true, packrec, dequeue,
};
