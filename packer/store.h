// The CDR store: accepted calls appended, one line each, to the hourly file
// of the call's end time in a dated tree under the output directory
//
//   cdrdir/MM_YYYY/DD_MM_YYYY/DD_MM_YYYY:hh
//
// or written to standard output when no directory is given. Each line is
// one write(2); a line that cannot be written whole is taken back out of
// the file, so no file ever holds half a line.
#pragma once

#include <cstdint>
#include <string>

#include "pabx/pabx.h"
#include "packer/ptime.h"

extern uint32_t reccount;   // records handed to postpacker
extern int firstoutcall;    // 1 until the first accepted call chose its stream
extern mpct lasttrec;       // end time of the call that opened the current file
extern int flushingpacker;  // 1 while the queue is flushed at exit

// The stream the lines go to.
struct cdrstream {
  int fd = -1;
  std::string path;  // the hourly file, or "stdout"
};
extern cdrstream tavfp;

// Counts one record; unless `nocall` is set, filters the call in pkcall and
// stores it. Returns 0, or the exit code of a failed store (its message
// written on standard error).
int postpacker(int nocall);

// Formats and stores one call; 0, or the exit code of the failure.
int output_call(const pkrecord* pk);

// Hands every call still queued by the module to postpacker, oldest first.
// After each failure it calls onfailure with the failure's code and goes on
// with the calls left; returns the code of the last failure, or 0.
int flushpackerqueue(void (*onfailure)(int code));

// Zero counts, no stream chosen yet; an open hourly file is closed.
void resetstore();

// Closes the CDR stream if it is open.
void closecdr();
