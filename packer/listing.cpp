#include "listing.h"

#include <cstring>
#include <string>

#include "bcd.h"
#include "cdrline.h"
#include "diag.h"
#include "ptime.h"

void dumppak(const pkrecord* pk) {
  std::string text;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(pk);
  for (size_t i = 0; i < sizeof *pk; ++i) {
    appendf(text, " %02x", bytes[i]);
    if (i == 15) text += '\n';
  }
  text +=
      "\n  DATE      TIME TYPE METER  DURATION                  DIALLED  TRUNK  CHARGE-CODE "
      "STATION\n";
  char dialled[25];
  memcpy(dialled, pk->pk_dialled, 24);
  dialled[24] = '\0';
  appendf(text, "%s ", rptbin2asc(maketime(pk)));
  appendf(text, " %02x  ", pk->pk_flags);
  appendf(text, " %04d", getmeter(pk) & 0x1fff);
  appendf(text, " %9s", hh_mm_ss(getduration(pk)));
  appendf(text, " %s", dialled);
  appendf(text, " %6s", bcd2asc(pk->pk_trunk));
  appendf(text, " %12s", mkchg(pk));
  appendf(text, " %6s", bcd2asc(pk->pk_station));
  text += '\n';
  errf("%s", text.c_str());
}
