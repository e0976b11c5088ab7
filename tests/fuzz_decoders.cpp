// libFuzzer entry for the exchange decoders: the input becomes the raw
// buffer with its end marker at a chosen index, decoded by a chosen module;
// every call that comes out is formatted as a CDR line.
//
// Built with -DPKTAV_FUZZ=ON and clang; run as fuzz_decoders [corpus].
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "packer/cdrline.h"
#include "packer/ptime.h"
#include "packer/settings.h"
#include "support/modules.h"

namespace {

bool setup() {
  setenv("TZ", "UTC", 1);
  settimescale();
  real_time_rec = mpct{19, 2, 4, 0, 15, 0, 0};  // 5 March 2003 15:00
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = setup();
  (void)ready;
  if (size < 3) return 0;
  const pabxmodule& mod = allmodules[data[0] % std::size(allmodules)].module;
  cap = data[1] & 1;
  sector0[maskparity] = data[1] & 2 ? 4 : 0;
  dtvalidate = (data[1] >> 2) & 1;
  systime = (data[1] >> 3) & 1;
  int span = 256 - mod.frame.petx;
  inpptr = mod.frame.petx + data[2] % span;
  memset(rawbuf, ' ', sizeof rawbuf);
  size_t n = size - 3 < sizeof rawbuf ? size - 3 : sizeof rawbuf;
  // The record's bytes end at inpptr, as framing leaves them.
  size_t first = n > static_cast<size_t>(inpptr) ? 0 : inpptr - n;
  memcpy(rawbuf + first, data + 3, n > static_cast<size_t>(inpptr) ? inpptr : n);
  rawbuf[inpptr] = mod.frame.etx;

  char line[cdrlinemax];
  if (mod.packrec(&pkcall)) formcall(line, &pkcall);
  if (data[1] & 0x80) {
    pkrecord pk;
    while (mod.dequeue(&pk)) formcall(line, &pk);
  }
  return 0;
}
