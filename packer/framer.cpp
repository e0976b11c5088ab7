#include "framer.h"

#include <cstring>
#include <string>

#include "diag.h"
#include "exit.h"
#include "ptime.h"
#include "settings.h"

uint8_t rawbuf[256] = {};
int inpptr = 0;

namespace {

// When a record's bytes would run past the end of the buffer, the newest
// 255 bytes move down to its start and the next byte lands at index 255. A
// record of any length the buffer holds that began in noise so survives
// whole, and its end byte comes at an index where it is accepted; writing
// at 0 again instead would put that end byte early and drop the record
// with the noise. The price: an end byte among noise after the move is
// accepted too, and its frame is counted as a rejected record rather than
// dropped without a word.
constexpr uint16_t kept = 255;

uint16_t keepnewest(uint8_t* buf) {
  memmove(buf, buf + 256 - kept, kept);
  return kept;
}

// Puts n bytes into buf from index i on, keeping the newest as the byte
// loop keeps them; returns the index of the next byte.
uint16_t putkept(uint8_t* buf, uint16_t i, const uint8_t* bytes, size_t n) {
  if (i + n <= kept) {
    memcpy(buf + i, bytes, n);
    return static_cast<uint16_t>(i + n);
  }
  if (n >= kept) {
    memcpy(buf, bytes + n - kept, kept);
  } else {
    size_t old = kept - n;  // of the bytes before, the newest kept
    memmove(buf, buf + i - old, old);
    memcpy(buf + old, bytes, n);
  }
  return kept;
}

// getraw_etx without byte traces: the end byte is sought a buffer at a time
// and the bytes before it copied whole, leaving buf, inpptr and the input
// as the byte loop leaves them.
int scanraw_etx(inputstream& in, uint8_t* buf, const framing& f) {
  uint16_t i = 0;
  for (;;) {
    const uint8_t* bytes;
    size_t n = in.pending(&bytes);
    const void* end = memchr(bytes, f.etx, n);
    if (!end) {
      i = putkept(buf, i, bytes, n);
      in.take(n);
      continue;
    }
    size_t before = static_cast<size_t>(static_cast<const uint8_t*>(end) - bytes);
    i = putkept(buf, i, bytes, before);
    in.take(before + 1);
    buf[i] = f.etx;
    if (i >= f.petx) {
      inpptr = i;
      return i + 1;
    }
    i = 0;
  }
}

}  // namespace

int getraw_etx(inputstream& in, uint8_t* buf, const framing& f) {
  if (!doXdebug) return scanraw_etx(in, buf, f);
  uint16_t i = 0;
  for (;;) {
    uint8_t byte = getrawbyte(in);
    buf[i] = byte;
    if (byte == f.etx) {
      if (i >= f.petx) {
        inpptr = i;
        return i + 1;
      }
      if (doXdebug) errf("\n - ETX before expected\n");
      i = 0;
      continue;
    }
    if (++i > 255) i = keepnewest(buf);
  }
}

int getraw_stx(inputstream& in, uint8_t* buf, const framing& f) {
  if (doXdebug) errf("[stx=%02x nstx=%d psynb=%d synb=%02x]\n", f.stx, f.nstx, f.psynb, f.synb);
  uint16_t i = 0;
  int j = 0;  // bytes of the record so far; 0 while hunting the start byte
  for (;;) {
    uint8_t byte = getrawbyte(in);
    buf[i] = byte;
    if (j == 0 && byte == f.stx) {
      if (doXdebug) errf(" [FOUND STX] ");
      buf[0] = f.stx;
      i = 1;
      j = 1;
      continue;
    }
    if (j != 0) ++j;
    if (j < f.nstx) {
      if (++i > 255) {
        errf(" [BUFFER WRAP] ");
        i = 0;
        j = 0;
      }
      continue;
    }
    if (doXdebug) errf(" [GOT NSTX bytes] ");
    if (f.psynb && buf[f.psynb] != f.synb) {
      i = 0;
      j = 0;
      if (doXdebug)
        errf("\n - OUT OF SYNC - psynb=%d  synb=%02x  buf[0]=%02x\n", f.psynb, f.synb, buf[0]);
      continue;
    }
    if (f.psynb && doXdebug) errf(" [SYNB OK] ");
    inpptr = i;
    return i + 1;
  }
}

void handlerawrec() {
  if (doXdebug) errf("** (HEX record):");
  if (pabx.frame.is_stx)
    getraw_stx(cdrfp, rawbuf, pabx.frame);
  else
    getraw_etx(cdrfp, rawbuf, pabx.frame);
  cdrfp.flushlog();
  getcurtime(realt);
  if (doXdebug) dumpasc(rawbuf, pabx.frame.etx);
}

void dumpasc(const uint8_t* buf, uint8_t etx) {
  std::string text = "\n" + std::string(78, '-') + "\n";
  for (int i = 0; i < 256 && buf[i] != etx; ++i)
    text += (buf[i] >= 0x20 && buf[i] <= 0x7d) ? static_cast<char>(buf[i]) : '.';
  text += '\n';
  errf("%s", text.c_str());
}
