// pktav-cdr watch --follow: the calls checked against the rules as they
// come into the store, until SIGTERM, SIGINT or SIGHUP.
//
// The store is followed as load --follow follows it (storefollow.h), each
// hour file read on from its position as the loader reads it
// (loadedfile.h). With --state FILE, the positions and the state of the
// rules are kept in FILE, replaced whole after each alarm is handed over
// and after each pass that read anything, so that a watch started again
// goes on where the last one stopped: no call is looked at twice, no
// episode raised again. With --exec, each alarm's command runs once it is
// out and kept (alarmhook.h); with --metrics, the counts are written as
// watchmetrics.h tells. Without a state to go on from, the calls since
// --from are checked; without --from, those already stored only fill the
// rules' windows and raise nothing.
#pragma once

#include "cdr/options.h"
#include "cdr/pricing.h"
#include "cdr/rules.h"
#include "cdr/select.h"
#include "cdr/zone.h"

// Returns the exit code.
int followwatch(const cdroptions& o, tzone& zone, const selection& sel, const pricing& prices,
                const watchrules& rules);
