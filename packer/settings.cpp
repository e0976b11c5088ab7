#include "settings.h"

uint8_t nopause = 1;
uint8_t dodebug = 0;
uint8_t doXdebug = 0;
uint8_t dodumpt = 0;
uint8_t dolograw = 0;
const char* rawfile = "rawsmdr";
uint8_t cap = 1;
uint8_t dtvalidate = 1;
uint8_t systime = 0;
uint8_t crjcode = 0;
uint8_t stnlow[3] = {0, 0, 0};
uint8_t stnhigh[3] = {0, 0, 0};
const char* cdrdir = "";
const char* handshakeport = nullptr;
uint8_t sector0[512] = {};
