// A view of the current raw record, addressed by offsets from its start.
//
// The record starts a fixed count of bytes before its end marker, which may
// lie before the beginning of the buffer; offsets are turned into buffer
// indices and never into pointers outside it.
#pragma once

#include <cassert>
#include <cstdint>

#include "pabx/pabx.h"
#include "packer/bcd.h"

class rawrec {
 public:
  // The record whose end marker, at inpptr, is record byte `endoffset`.
  explicit rawrec(int endoffset) : base_(inpptr - endoffset) {}

  // True when the byte at `off` lies inside the buffer.
  bool has(int off) const { return base_ + off >= 0 && base_ + off < 256; }

  uint8_t& operator[](int off) const {
    assert(has(off));
    return rawbuf[base_ + off];
  }

  // The record text from `off`; the caller keeps to the record's length.
  const char* text(int off) const { return reinterpret_cast<const char*>(&(*this)[off]); }

  bool blank(int off) const { return (*this)[off] == ' '; }

  // The decimal number of the len characters at off, read as cnvbin does.
  // Fields of digits alone, nearly all of them, are read here directly.
  uint16_t number(int off, int len) const {
    const char* digits = text(off);
    if (len > 255) return cnvbin(digits, static_cast<uint16_t>(len));
    unsigned value = 0;  // taken to 16 bits at the end, as step by step
    for (int i = 0; i < len; ++i) {
      unsigned digit = static_cast<unsigned>(digits[i]) - '0';
      if (digit > 9) return cnvbin(digits, static_cast<uint16_t>(len));
      value = value * 10 + digit;
    }
    return static_cast<uint16_t>(value);
  }

 private:
  int base_;
};
