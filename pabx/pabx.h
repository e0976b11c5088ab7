// The contract between the packer and its exchange module.
//
// Each build of the packer carries exactly one module. The module decodes
// the raw record that reception left in rawbuf into the packed call record
// and says whether a call is ready for output; it supplies its version text
// and framing constants. Everything else is shared.
#pragma once

#include <cstdint>

// The packed call record: 52 bytes, laid out byte by byte; multi-byte
// numbers little-endian, numbers of digits as three-byte packed BCD.
struct pkrecord {
  uint8_t pk_timehi;       // bits 24-31 of the packed start time
  uint8_t pk_flags;        // call kind and flags (pkf_*)
  uint8_t pk_meter[2];     // meter pulses, low 13 bits meaningful
  uint8_t pk_duration[4];  // duration in 4-second ticks
  uint8_t pk_timelo[3];    // bits 0-23 of the packed start time
  uint8_t pk_trunk[3];
  uint8_t pk_chglo[3];  // low six digits of the charge code
  uint8_t pk_station[3];
  uint8_t pk_chghi[3];  // high six digits of the charge code
  uint8_t pk_spare[3];  // always zero
  char pk_dialled[26];  // 24 characters right-justified, NUL, zero
};
static_assert(sizeof(pkrecord) == 52);

// Bits of pk_flags.
inline constexpr uint8_t pkf_trunkfirst = 0x80;  // the trunk is the first party
inline constexpr uint8_t pkf_cond = 0x40;
inline constexpr uint8_t pkf_check = 0x10;
inline constexpr uint8_t pkf_third = 0x89;  // value of the third record kind
inline constexpr uint8_t pkf_class = 0x03;

// Durations that are markers, not lengths.
inline constexpr uint32_t endbeforestart = 999998;
inline constexpr uint32_t toolong = 999999;

uint16_t getmeter(const pkrecord* pk);
void setmeter(pkrecord* pk, uint16_t meter);
uint32_t getduration(const pkrecord* pk);
void setduration(pkrecord* pk, uint32_t duration);
uint32_t maketime(const pkrecord* pk);  // the packed start time
void settime(pkrecord* pk, uint32_t start);

// Stores the charge code found in the first n characters of text.
void dochg(pkrecord* pk, const char* text, int n);

// Validates the call's time against the PC clock; may move its start.
void tvalid(pkrecord* pk);

// True when the third record kind is to be decoded (the MASK parity flag).
bool thirdkind();

// The packer output state; decoders count rejected records here.
struct pakrop_t {
  uint32_t rejcnt;
};
extern pakrop_t pakrop;

// The call record the driver hands to the module.
extern pkrecord pkcall;

// The raw record buffer; inpptr is the index of the current record's last
// byte. Decoders count back from it.
extern uint8_t rawbuf[256];
extern int inpptr;

// How reception frames the raw byte stream into records.
struct framing {
  int is_stx;     // non-zero: start byte, fixed length, sync byte
  uint8_t etx;    // end-of-record byte
  uint8_t petx;   // lowest index at which etx ends a record
  uint8_t stx;    // start-of-record byte
  uint8_t nstx;   // record length counted from the start byte
  uint8_t psynb;  // index of the sync byte; 0: no check
  uint8_t synb;   // value of the sync byte
};

struct pabxmodule {
  char pakver[20];  // version text, 19 characters, blank-padded
  framing frame;
  bool tcpinput;  // -i may name host:port; the input opens before the loop
  // Decodes the record that ends at inpptr into pk. 1: pk holds a call to
  // output now; 0: rejected (and counted), dropped, or held back.
  int (*packrec)(pkrecord* pk);
  // At the end of the run: 1 after moving the oldest held call into pk,
  // 0 when none is held.
  int (*dequeue)(pkrecord* pk);
};

// Each module is an object <name>_module, declared in pabx/modules.h (made
// from the list pabx/modules.cmake). The module of this build, chosen when
// the program is linked:
extern const pabxmodule& pabx;

// Hooks of the exchange layer, the same in every build.
void pabxdep_init();
void pabxdep_status(int changed);
void di();
void ei();
void callrqst();
void dotimeout();
