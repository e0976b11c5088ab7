// The CDR line: one accepted call as ':' and eight '|'-separated fields.
//
//   :first|second|dialled|DDMMYYhhmmss|duration|meter|charge|flags
//
// The first party is the trunk when flag 0x80 is set, else the station; the
// date and time are those of the call's end; the duration is in 4-second
// ticks; numbers lose their leading zeros and zero is an empty field.
#pragma once

#include <cstdint>

#include "pabx/pabx.h"
#include "packer/ptime.h"

// Room for the longest line (82 characters with the newline) and more.
inline constexpr int cdrlinemax = 128;

extern mpct gmpct;      // end time of the last formatted call
extern int isfuj9600l;  // set once the ZOR9600Ez8 digit remapping applies

// Fills line (cdrlinemax bytes) with the CDR line of pk and sets gmpct.
void formcall(char* line, const pkrecord* pk);

// Field texts. ctrk, cstat and cchg share one buffer: copy each result
// before the next call.
const char* ctrk(const pkrecord* pk);
const char* cstat(const pkrecord* pk);
const char* cchg(const pkrecord* pk);
const char* cdial(const pkrecord* pk);
const char* lj(const char* text);       // without leading blanks
const char* ljs(const char* text);      // without leading blanks, then zeros
const char* izero(int32_t n);           // "" for 0, else decimal
const char* mkchg(const pkrecord* pk);  // the twelve-digit charge code
void dofuj96lt8();

// The year of a time record as two digits, for the years 1984 to 2099.
int twodigityear(uint8_t year);
