#include "storefollow.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "cdr/diag.h"
#include "tools/common/pathwatch.h"
#include "tools/common/signals.h"

namespace {

// Changes come in bursts (a call is a write, a busy minute many): they are
// gathered this long before a batch is read.
constexpr double gather = 0.2;
// A whole pass now and then, in case a change went unseen; without inotify,
// the last two days every second and the whole store every ten minutes.
constexpr auto fullevery = std::chrono::hours(1);
constexpr auto fullpolled = std::chrono::minutes(10);
constexpr int pollms = 1000;

}  // namespace

// The hours the packer most likely writes, when no change is told.
std::vector<hourrange> storefollower::recent() {
  time_t now = time(nullptr);
  hourkey k[2];
  for (int i = 0; i < 2; ++i) {
    int64_t t = now - i * 86400;
    wall w = wallof(t + zone_.offset(t));
    k[i] = {w.year, w.month, w.day, -1};
  }
  return {{hoursof(k[1]).lo, hoursof(k[0]).hi}};
}

std::vector<hourrange> storefollower::due() {
  std::vector<hourrange> ranges;
  auto now = clock::now();
  if (all_ || now - lastfull_ >= (watching_ ? fullevery : fullpolled)) {
    ranges = {{lo_, hi_}};
    lastfull_ = now;
  } else {
    ranges = watching_ ? dirty_ : recent();
  }
  all_ = false;
  dirty_.clear();
  std::vector<hourrange> clipped;
  for (hourrange r : ranges) {
    r.lo = std::max(r.lo, lo_);
    r.hi = std::min(r.hi, hi_);
    if (r.lo <= r.hi) clipped.push_back(r);
  }
  return clipped;
}

bool storefollower::waitforstore() {
  struct stat st;
  if (stat(root_.c_str(), &st) == 0) return true;
  stampedwarnx("%s: waiting for the store to appear", root_.c_str());
  pathwatch appear;
  appear.watch(root_);
  while (stat(root_.c_str(), &st) != 0) {
    pollfd p[2] = {{signalwakefd(), POLLIN, 0}, {appear.fd(), POLLIN, 0}};
    if (poll(p, appear.fd() >= 0 ? 2 : 1, pollms) > 0 && p[0].revents) return false;
    appear.changed();
  }
  return true;
}

void storefollower::startwatch() {
  watching_ = watch_.start();
  if (!watching_)
    stampedwarnx("%s: cannot watch its folders (inotify): looking every second", root_.c_str());
  all_ = true;
}

bool storefollower::begin() {
  // The watches first, so that nothing written during the first pass goes unseen.
  if (!waitforstore()) return false;
  startwatch();
  return true;
}

bool storefollower::wait(int maxms) {
  if (!watch_.active()) {
    if (!waitforstore()) return false;
    startwatch();
    return true;
  }
  pollfd p[2] = {{signalwakefd(), POLLIN, 0}, {watch_.fd(), POLLIN, 0}};
  int ms = watching_ ? maxms : std::min(maxms, pollms);
  if (poll(p, 2, ms) > 0 && p[0].revents) return false;
  if (p[1].revents && !pausefor(gather)) return false;
  watch_.take(&dirty_, &all_);
  return true;
}
