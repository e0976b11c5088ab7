// Run settings of the packer: plain process-wide values that the command
// line sets once at start-up and every other unit reads directly.
#pragma once

#include <cstdint>

extern uint8_t nopause;      // 0: wait for the Return key before each record
extern uint8_t dodebug;      // traces per record and per decision
extern uint8_t doXdebug;     // byte traces, output traces, packed-call listing
extern uint8_t dodumpt;      // traces of the time conversions
extern uint8_t dolograw;     // copy every input byte into the raw data log
extern const char* rawfile;  // name of the raw data log
extern uint8_t cap;          // 1: 12-digit charge codes (CAP), 0: 6 digits (MPC)
extern uint8_t dtvalidate;   // check call times against the PC clock
extern uint8_t systime;      // take call times from the PC clock
extern uint8_t crjcode;      // call exclusion code
extern uint8_t stnlow[3];    // station range, packed BCD, most significant first
extern uint8_t stnhigh[3];
extern const char* cdrdir;         // CDR store directory; empty text: standard output
extern const char* handshakeport;  // shown in the settings dump only; may be null

// The packer parameter sector; byte 83 is the MASK parity flag.
extern uint8_t sector0[512];
inline constexpr int maskparity = 83;

// Sets every run setting to its value at start-up: no pause, no traces, no
// raw log ("rawsmdr" when one is asked for), CAP charge codes, validation
// on, exchange times, no filter, standard output.
void resetsettings();
