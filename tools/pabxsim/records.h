// The columns of a call record as the exchange prints it: NEAX (131 bytes
// and ETX; the 'E' record's number at byte 62, or at byte 98 for the other
// variant) and MD110 in the BC12 layout (135 bytes and a line feed).
#pragma once

#include <string>

#include "tools/pabxsim/simcall.h"

// The bytes of the record, its end byte last. A damaged call gives a record
// every build rejects.
std::string recordbytes(recformat format, const simcall& call);

// The byte that ends a record of the format.
char endbyte(recformat format);

// The local time of t as MMDDhhmmss (NEAX) or MMDDhhmm (MD110).
std::string neaxstamp(time_t t);
std::string md110stamp(time_t t);
