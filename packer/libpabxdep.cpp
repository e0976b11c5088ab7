// The exchange hooks: placeholders that a site's exchange layer may fill;
// here they only trace.
#include "pabx/pabx.h"
#include "packer/diag.h"
#include "packer/settings.h"

void pabxdep_init() {
  if (dodebug) errf("DUMMY pabxdep_init()\n");
}

void pabxdep_status(int changed) {
  if (dodebug) errf("DUMMY pabxdep_status(%d)\n", changed);
}

void di() {}
void ei() {}
void callrqst() {}

void dotimeout() {
  ei();
  callrqst();
}
