#include "state.h"

#include "cdrline.h"
#include "driver.h"
#include "options.h"
#include "pabx/pabx.h"
#include "ptime.h"
#include "rawin.h"
#include "settings.h"
#include "store.h"

void resetpacker() {
  resetsettings();
  resetstartup();
  resettime();
  resetstore();
  cdrfp.reset();
  closerawlog();
  lastreccount = 0;
  pakrop.rejcnt = 0;
  gmpct = mpct{};
  isfuj9600l = 0;
  pkrecord dropped;
  while (pabx.dequeue(&dropped)) {
  }
}
