#include "settings.h"

#include <cstring>

uint8_t nopause;
uint8_t dodebug;
uint8_t doXdebug;
uint8_t dodumpt;
uint8_t dolograw;
const char* rawfile;
uint8_t cap;
uint8_t dtvalidate;
uint8_t systime;
uint8_t crjcode;
uint8_t stnlow[3];
uint8_t stnhigh[3];
const char* cdrdir;
const char* handshakeport;
uint8_t sector0[512];

void resetsettings() {
  nopause = 1;
  dodebug = doXdebug = dodumpt = dolograw = 0;
  rawfile = "rawsmdr";
  cap = 1;
  dtvalidate = 1;
  systime = 0;
  crjcode = 0;
  memset(stnlow, 0, sizeof stnlow);
  memset(stnhigh, 0, sizeof stnhigh);
  cdrdir = "";
  handshakeport = nullptr;
  memset(sector0, 0, sizeof sector0);
}
