// libFuzzer entry for the time scale: arbitrary exchange time records and
// packed times through the conversions, the display texts and the
// validation of call times, in a zone with daylight saving.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "packer/ptime.h"
#include "packer/settings.h"

namespace {

bool setup() {
  setenv("TZ", "Europe/Berlin", 1);
  settimescale();
  return true;
}

uint32_t word(const uint8_t* p) {
  uint32_t w;
  memcpy(&w, p, sizeof w);
  return w;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = setup();
  (void)ready;
  if (size < 1 + 2 * sizeof(mpct) + 3 * sizeof(uint32_t)) return 0;
  dtvalidate = data[0] & 1;
  systime = (data[0] >> 1) & 1;
  pabxerr = 0;
  mpct rec, now;
  memcpy(&rec, data + 1, sizeof rec);
  memcpy(&now, data + 1 + sizeof rec, sizeof now);
  const uint8_t* words = data + 1 + 2 * sizeof rec;
  uint32_t packed = word(words), duration = word(words + 4);
  prvetime = word(words + 8);

  uint32_t start = from_jul(rec);
  mpct back;
  to_jul(start, &back);
  to_jul(packed, &back);
  (void)rptbin2asc(packed);
  (void)hh_mm_ss(duration);
  real_time_rec = now;
  (void)validtime(packed, duration);
  (void)rptbin2asc(prvetime);
  return 0;
}
