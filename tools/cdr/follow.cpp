#include "follow.h"

#include <memory>

#include "cdr/database.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/loader.h"
#include "cdr/storefollow.h"
#include "tools/common/backoff.h"
#include "tools/common/signals.h"

namespace {

class follower {
 public:
  follower(const loadjob& job, tzone& zone)
      : job_(job), zone_(zone), wait_(1, 60), store_(job.root, zone, job.lo, job.hi) {}
  int run();

 private:
  bool connect();
  bool load();
  void failed(const dberror& e);

  const loadjob& job_;
  tzone& zone_;
  backoff wait_;
  std::unique_ptr<database> db_;
  std::unique_ptr<loader> loader_;
  storefollower store_;
  std::string down_;  // the last failure said, while the database is away
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
  store_.again();
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
    store_.again();
    return true;
  } catch (const dberror& e) {
    db_.reset();
    failed(e);
  }
  return false;
}

bool follower::load() {
  try {
    for (const hourrange& r : store_.due()) loader_->pass(r.lo, r.hi, signalnoted());
    return true;
  } catch (const dberror& e) {
    failed(e);
  }
  return false;
}

int follower::run() {
  if (!store_.begin()) return exit_ok;
  while (code_ == exit_ok && !*signalnoted()) {
    if (!connect() || !load()) continue;
    if (!store_.wait()) break;
  }
  if (loader_) loader_->forget();
  return code_ < 0 ? exit_ok : code_;
}

}  // namespace

int follow(const loadjob& job, tzone& zone) { return follower(job, zone).run(); }
