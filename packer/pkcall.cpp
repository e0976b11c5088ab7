// Operations on the packed call record that every module shares.
#include "pabx/pabx.h"
#include "packer/bcd.h"
#include "packer/ptime.h"
#include "packer/settings.h"

pakrop_t pakrop = {0};
pkrecord pkcall = {};

uint16_t getmeter(const pkrecord* pk) {
  return static_cast<uint16_t>(pk->pk_meter[0] | pk->pk_meter[1] << 8);
}

void setmeter(pkrecord* pk, uint16_t meter) {
  pk->pk_meter[0] = static_cast<uint8_t>(meter);
  pk->pk_meter[1] = static_cast<uint8_t>(meter >> 8);
}

uint32_t getduration(const pkrecord* pk) {
  const uint8_t* d = pk->pk_duration;
  return d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
}

void setduration(pkrecord* pk, uint32_t duration) {
  for (int i = 0; i < 4; ++i) pk->pk_duration[i] = static_cast<uint8_t>(duration >> (8 * i));
}

uint32_t maketime(const pkrecord* pk) {
  const uint8_t* lo = pk->pk_timelo;
  return lo[0] | lo[1] << 8 | lo[2] << 16 | static_cast<uint32_t>(pk->pk_timehi) << 24;
}

void settime(pkrecord* pk, uint32_t start) {
  for (int i = 0; i < 3; ++i) pk->pk_timelo[i] = static_cast<uint8_t>(start >> (8 * i));
  pk->pk_timehi = static_cast<uint8_t>(start >> 24);
}

void dochg(pkrecord* pk, const char* text, int n) {
  if (!cap && n > 6) n = 6;
  int digits = 0;
  for (int i = 0; i < n; ++i) digits += text[i] >= '0' && text[i] <= '9';
  if (digits > 12) digits = 12;  // a code has at most 12
  int high = digits > 6 ? digits - 6 : 0;
  cnvbcd(pk->pk_chghi, text, high);
  cnvbcd(pk->pk_chglo, text + high, digits < 6 ? digits : 6);
}

void tvalid(pkrecord* pk) { settime(pk, validtime(maketime(pk), getduration(pk))); }

bool thirdkind() { return (sector0[maskparity] & 6) == 4; }
