// Following a store that is being written: what to read, and waiting for
// the next change. The store's folders are watched with inotify (through
// storewatch) where that can be had, by the clock where not; a change names
// the hours it may have touched, and a whole pass is asked for now and then
// in case a change went unseen. Shared by load --follow and watch --follow:
// each reads the hours due as it reads any, and waits here for more.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "cdr/storewatch.h"
#include "cdr/zone.h"

class storefollower {
 public:
  // Follows the hours [lo, hi] of the store at root.
  storefollower(const std::string& root, tzone& zone, const hourkey& lo, const hourkey& hi)
      : root_(root), zone_(zone), lo_(lo), hi_(hi), watch_(root) {}

  // Waits for the store to appear, then watches it; false for a signal.
  bool begin();
  // The hours to read now, within [lo, hi], in time order; the whole
  // period the first time, after again(), and now and then.
  std::vector<hourrange> due();
  // The next due() is the whole period (after a failure of the reader).
  void again() { all_ = true; }
  // Waits for the store to change, or `maxms` milliseconds; false for a signal.
  bool wait(int maxms = 60000);

 private:
  bool waitforstore();
  void startwatch();
  std::vector<hourrange> recent();

  using clock = std::chrono::steady_clock;
  std::string root_;
  tzone& zone_;
  hourkey lo_, hi_;
  storewatch watch_;
  bool watching_ = false;  // through inotify; else by the clock
  bool all_ = true;        // a whole pass is due
  std::vector<hourrange> dirty_;
  clock::time_point lastfull_;
};
