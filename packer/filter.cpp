#include "filter.h"

#include "settings.h"

namespace {

constexpr uint8_t filteron = 0x10;

uint32_t bcdvalue(const uint8_t* b) { return static_cast<uint32_t>(b[0] << 16 | b[1] << 8 | b[2]); }

}  // namespace

int cmpbcd(const uint8_t* a, const uint8_t* b) {
  uint32_t va = bcdvalue(a), vb = bcdvalue(b);
  return va < vb ? -1 : va > vb ? 1 : 0;
}

int inrange(const uint8_t* station, const uint8_t* low, const uint8_t* high) {
  if (cmpbcd(station, low) < 0) return 0;
  if (cmpbcd(station, high) > 0) return 0;
  return 1;
}

// The charge code takes no part in the decision: every mode is decided by
// the station alone.
uint8_t rejcall(const pkrecord* pk) {
  if (!(crjcode & filteron)) return 0;
  switch ((crjcode >> 2) & 3) {
    case 1: return inrange(pk->pk_station, stnlow, stnhigh) == 1;
    case 2: return inrange(pk->pk_station, stnlow, stnhigh) == 0;
    default: return 0;
  }
}
