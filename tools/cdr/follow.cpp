#include "follow.h"

#include <poll.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include "cdr/database.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/loader.h"
#include "cdr/storewatch.h"
#include "tools/common/backoff.h"
#include "tools/common/pathwatch.h"
#include "tools/common/signals.h"

namespace {

using clock = std::chrono::steady_clock;

// Changes come in bursts (a call is a write, a busy minute many): they are
// gathered this long before a batch is read.
constexpr double gather = 0.2;
// A whole pass now and then, in case a change went unseen; without inotify,
// the last two days every second and the whole store every ten minutes.
constexpr auto fullevery = std::chrono::hours(1);
constexpr auto fullpolled = std::chrono::minutes(10);
constexpr int pollms = 1000;

class follower {
 public:
  follower(const loadjob& job, tzone& zone) : job_(job), zone_(zone), wait_(1, 60) {}
  int run();

 private:
  bool connect();
  bool load();
  bool waitforstore();
  bool waitforchange();
  void failed(const dberror& e);
  std::vector<hourrange> recent();

  const loadjob& job_;
  tzone& zone_;
  backoff wait_;
  std::unique_ptr<database> db_;
  std::unique_ptr<loader> loader_;
  storewatch watch_{job_.root};
  bool watching_ = false;  // through inotify; else by the clock
  std::string down_;       // the last failure said, while the database is away
  bool all_ = true;        // a whole pass is due
  std::vector<hourrange> dirty_;
  clock::time_point lastfull_;
  int code_ = exit_ok;
};

void follower::failed(const dberror& e) {
  if (!e.transient()) {
    stampedwarnx("%s", e.what());
    code_ = exit_trouble;
    return;
  }
  double wait = wait_.next();
  if (down_ != e.what()) stampedwarnx("%s; trying again from time to time", e.what());
  down_ = e.what();
  db_.reset();
  loader_.reset();
  all_ = true;
  if (!pausefor(wait)) code_ = -1;
}

bool follower::connect() {
  if (db_) return true;
  try {
    db_ = opendatabase(job_.target, true);
    db_->prepare(true);
    loader_ = std::make_unique<loader>(*db_, job_.root, job_.site, zone_, job_.strictdst);
    loader_->stamped = true;
    loader_->batchrows = job_.batch;
    loader_->prices = job_.prices;
    stampedwarnx("%s %s: loading %s as site %s", db_->name().c_str(),
                 down_.empty() ? "open" : "is back", job_.root.c_str(), job_.site.c_str());
    down_.clear();
    wait_.reset();
    all_ = true;
    return true;
  } catch (const dberror& e) {
    db_.reset();
    failed(e);
  }
  return false;
}

// The hours the packer most likely writes, when no change is told.
std::vector<hourrange> follower::recent() {
  time_t now = time(nullptr);
  hourkey k[2];
  for (int i = 0; i < 2; ++i) {
    int64_t t = now - i * 86400;
    wall w = wallof(t + zone_.offset(t));
    k[i] = {w.year, w.month, w.day, -1};
  }
  return {{hoursof(k[1]).lo, hoursof(k[0]).hi}};
}

bool follower::load() {
  std::vector<hourrange> ranges;
  auto now = clock::now();
  if (all_ || now - lastfull_ >= (watching_ ? fullevery : fullpolled)) {
    ranges = {{job_.lo, job_.hi}};
    lastfull_ = now;
  } else {
    ranges = watching_ ? dirty_ : recent();
  }
  all_ = false;
  dirty_.clear();
  try {
    for (hourrange r : ranges) {
      r.lo = std::max(r.lo, job_.lo);
      r.hi = std::min(r.hi, job_.hi);
      if (r.lo <= r.hi) loader_->pass(r.lo, r.hi, signalnoted());
    }
    return true;
  } catch (const dberror& e) {
    failed(e);
  }
  return false;
}

bool follower::waitforstore() {
  struct stat st;
  if (stat(job_.root.c_str(), &st) == 0) return true;
  stampedwarnx("%s: waiting for the store to appear", job_.root.c_str());
  pathwatch appear;
  appear.watch(job_.root);
  while (stat(job_.root.c_str(), &st) != 0) {
    pollfd p[2] = {{signalwakefd(), POLLIN, 0}, {appear.fd(), POLLIN, 0}};
    if (poll(p, appear.fd() >= 0 ? 2 : 1, pollms) > 0 && p[0].revents) return false;
    appear.changed();
  }
  return true;
}

// Waits for the store to change; false for a signal.
bool follower::waitforchange() {
  if (!watch_.active()) {
    if (!waitforstore()) return false;
    watching_ = watch_.start();
    if (!watching_) stampedwarnx("%s: cannot watch its folders (inotify): looking every second",
                                 job_.root.c_str());
    all_ = true;
    return true;
  }
  pollfd p[2] = {{signalwakefd(), POLLIN, 0}, {watch_.fd(), POLLIN, 0}};
  int ms = watching_ ? 60000 : pollms;
  if (poll(p, 2, ms) > 0 && p[0].revents) return false;
  if (p[1].revents && !pausefor(gather)) return false;
  watch_.take(&dirty_, &all_);
  return true;
}

int follower::run() {
  // The watches first, so that nothing written during the first pass goes unseen.
  if (!waitforstore()) return exit_ok;
  watching_ = watch_.start();
  if (!watching_)
    stampedwarnx("%s: cannot watch its folders (inotify): looking every second",
                 job_.root.c_str());
  while (code_ == exit_ok && !*signalnoted()) {
    if (!connect() || !load()) continue;
    if (!waitforchange()) break;
  }
  if (loader_) loader_->forget();
  return code_ < 0 ? exit_ok : code_;
}

}  // namespace

int follow(const loadjob& job, tzone& zone) { return follower(job, zone).run(); }
