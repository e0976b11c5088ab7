#include "support/packerfix.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "packer/cdrline.h"
#include "packer/settings.h"
#include "packer/state.h"
#include "support/modules.h"

void usezone(const char* tz) {
  setenv("TZ", tz, 1);
  tzset();
  settimescale();
}

uint32_t packedat(int year, int month, int day, int hour, int minute, int second) {
  mpct rec{static_cast<uint8_t>(year - 1984), static_cast<uint8_t>(month - 1),
           static_cast<uint8_t>(day - 1),     0,
           static_cast<uint8_t>(hour),        static_cast<uint8_t>(minute),
           static_cast<uint8_t>(second)};
  return from_jul(rec);
}

void setnow(int year, int month, int day, int hour, int minute, int second) {
  real_time_rec = mpct{static_cast<uint8_t>(year - 1984), static_cast<uint8_t>(month - 1),
                       static_cast<uint8_t>(day - 1),     0,
                       static_cast<uint8_t>(hour),        static_cast<uint8_t>(minute),
                       static_cast<uint8_t>(second)};
}

void placerecord(const std::string& rec, int last) {
  memset(rawbuf, 0, sizeof rawbuf);
  int first = last + 1 - static_cast<int>(rec.size());
  for (size_t i = 0; i < rec.size(); ++i)
    if (first + static_cast<int>(i) >= 0)
      rawbuf[first + static_cast<int>(i)] = static_cast<uint8_t>(rec[i]);
  inpptr = last;
}

void drainqueues() {
  for (const moduleentry& m : allmodules) drain(m.module);
}

std::vector<pkrecord> drain(const pabxmodule& mod) {
  std::vector<pkrecord> calls;
  pkrecord pk;
  while (mod.dequeue(&pk)) calls.push_back(pk);
  return calls;
}

std::string dialled(const pkrecord& pk) { return std::string(pk.pk_dialled, 24); }

std::string right(const std::string& digits) {
  return std::string(24 - digits.size(), ' ') + digits;
}

void packertest::SetUp() {
  resetpacker();
  drainqueues();
  usezone("UTC");
  setnow(2003, 3, 5, 15, 0, 0);
}
