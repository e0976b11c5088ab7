// pktav-cdr load --follow: the loader kept running over a store that is
// being written.
#pragma once

#include <string>

#include "cdr/pricing.h"
#include "cdr/storewalk.h"
#include "cdr/zone.h"

struct loadjob {
  std::string target, root, site;  // DATABASE, the store, the site
  hourkey lo, hi;                // the hours to load
  bool strictdst = false;
  long batch = 50000;  // rows a transaction
  const pricing* prices = nullptr;  // with --tariff or --directory
};

// Loads what the store holds, then what comes into it, until SIGTERM,
// SIGINT or SIGHUP; returns the exit code.
int follow(const loadjob& job, tzone& zone);
