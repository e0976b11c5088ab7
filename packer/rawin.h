// The input byte stream and the raw data log.
//
// Input is read with read(2) into a buffer and handed out one byte at a
// time. The raw data log holds every byte taken from the input while
// logging is on; to keep that without a system call per byte, the bytes
// taken so far are written out before the next read from the input, before
// the record they complete is decoded, whenever logging is switched, and at
// the exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "settings.h"

class inputstream {
 public:
  void attach(int fd);
  int fd() const { return fd_; }
  // How many times the buffer was filled from the input so far.
  uint32_t refills() const { return refills_; }
  void close();
  // Forgets the input and what was buffered; closes it unless it is one of
  // the standard descriptors.
  void reset();

  // The next input byte. At the end of the input, or on a read error, the
  // program ends through my_exit with code 0.
  uint8_t next() {
    if (pos_ == end_) refill();
    return buf_[pos_++];
  }

  // The bytes buffered and not yet taken, at least one: the buffer is
  // filled first when none are, as next() fills it. take(n) then takes the
  // first n of them, as n calls of next() would.
  size_t pending(const uint8_t** bytes) {
    if (pos_ == end_) refill();
    *bytes = buf_ + pos_;
    return end_ - pos_;
  }
  void take(size_t n) { pos_ += n; }

  // What the end of the input does instead of the orderly exit; a harness
  // that runs the reader over data of its own sets one that does not return.
  void setend(void (*atend)()) { atend_ = atend; }

  // Writes the bytes taken since the last call to the raw log while logging
  // is on, and forgets them while it is off. False when the log failed (its
  // message is written); the bytes are then dropped.
  bool synclog();
  // As synclog, ending the program with code 1 when the log failed.
  void flushlog();

 private:
  void refill();

  int fd_ = -1;
  size_t pos_ = 0, end_ = 0;
  size_t logged_ = 0;  // bytes before this index are logged or forgotten
  uint32_t refills_ = 0;
  void (*atend_)() = nullptr;
  // Each read waits for the input first (where signals are acted on): a
  // large read keeps those waits few while input is always ready, and at
  // a few microseconds a record, 64 KiB still takes well under a second.
  uint8_t buf_[65536];
};

extern inputstream cdrfp;  // the record source
extern FILE* rawfp;        // the open raw data log, or null

// Appends len bytes to the raw data log, opening it first when it is not
// open; false (after its message) when the log cannot be opened or written.
bool lograwsmdr(size_t len, const uint8_t* bytes);

// Closes the raw data log if it is open.
void closerawlog();

void tracebyte(inputstream& in, uint8_t byte);

// The next input byte, traced with -X.
inline uint8_t getrawbyte(inputstream& in) {
  uint8_t byte = in.next();
  if (doXdebug) tracebyte(in, byte);
  return byte;
}
