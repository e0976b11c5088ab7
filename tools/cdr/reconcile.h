// The reconciliation of a store with raw data logs: the logs are replayed
// through a packer build into a scratch store (replay.h), and the two
// stores compared hour by hour (storecompare.h) over the period both
// cover, narrowed to the options' period if given.
#pragma once

#include <string>

#include "cdr/findings.h"
#include "cdr/options.h"

// Reports the calls found in only one of the store and the replay. Returns
// false with *err set when the replay cannot be made.
bool reconcile(const cdroptions& o, findings& f, std::string* err);
