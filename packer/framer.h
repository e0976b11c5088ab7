// Framing the raw byte stream into exchange records.
//
// ETX mode: a record is everything from index 0 of the buffer up to the
// first end byte at index petx or later; an end byte earlier drops the
// fragment. Bytes that would run past the end of the buffer push the oldest
// out: the newest 255 move down to its start. STX mode: a start byte, then
// a fixed count of bytes, optionally checked by a sync byte.
#pragma once

#include <cstdint>

#include "pabx/pabx.h"
#include "packer/rawin.h"

// Each reads bytes from `in` into buf (256 bytes) until one complete record
// lies there, sets inpptr to the index of its last byte and returns the
// record's length in the buffer (inpptr + 1).
int getraw_etx(inputstream& in, uint8_t* buf, const framing& f);
int getraw_stx(inputstream& in, uint8_t* buf, const framing& f);

// Reads the next record of the build into rawbuf, logs its bytes and stamps
// the receipt time into real_time_rec.
void handlerawrec();

// Shows buf as characters up to the first etx byte (at most 256), '.' for
// anything outside ' ' to '}'.
void dumpasc(const uint8_t* buf, uint8_t etx);
