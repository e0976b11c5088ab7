// The call acceptance filter: the exclusion code and the station range
// decide whether a call reaches the CDR store.
//
// Exclusion code bits: 0x10 enables the filter; (code >> 2) & 3 is the
// mode: 1 excludes the stations in the range, 2 those outside it; modes 0
// and 3 include every call.
#pragma once

#include <cstdint>

#include "pabx/pabx.h"

// Orders two three-byte BCD numbers as 24-bit integers: -1, 0 or 1.
int cmpbcd(const uint8_t* a, const uint8_t* b);

// 1 when low <= station <= high, else 0.
int inrange(const uint8_t* station, const uint8_t* low, const uint8_t* high);

// Non-zero when the call is to be excluded.
uint8_t rejcall(const pkrecord* pk);
