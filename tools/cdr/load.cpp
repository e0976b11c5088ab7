// pktav-cdr load: the calls of a store into a database, exactly once; with
// --follow, as they come.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "cdr/commands.h"
#include "cdr/dbaudit.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/follow.h"
#include "cdr/loader.h"
#include "cdr/pricing.h"
#include "cdr/sinks.h"
#include "tools/common/signals.h"

int runload(const cdroptions& o) {
  pricing prices;
  if (!prices.load(o)) return exit_trouble;
  loadjob job;
  if (prices.priced() || prices.listed()) job.prices = &prices;
  job.target = o.inputs[0];
  job.root = o.inputs[1];
  while (job.root.size() > 1 && job.root.back() == '/') job.root.pop_back();
  struct stat st;
  bool there = stat(job.root.c_str(), &st) == 0;
  if (there && !S_ISDIR(st.st_mode)) {
    warnx("%s: not a store directory", job.root.c_str());
    return exit_trouble;
  }
  if (!there && (!o.follow || errno != ENOENT)) {
    warn("%s", job.root.c_str());
    return exit_trouble;
  }
  job.site = o.site.empty() ? foldername(job.root) : o.site;
  if (job.site.empty() || job.site == "/") {
    warnx("%s: give the site's name with --site", job.root.c_str());
    return exit_trouble;
  }
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  job.lo = sel.firstfile(zone, 0);
  job.hi = sel.lastfile(zone, 0);
  job.strictdst = o.strictdst;
  job.batch = o.batch;
  notesignals({SIGTERM, SIGINT, SIGHUP});
  if (o.follow) return follow(job, zone);
  try {
    std::unique_ptr<database> db = opendatabase(job.target, !o.reprice);
    db->prepare(true);
    loader l(*db, job.root, job.site, zone, job.strictdst);
    l.batchrows = job.batch;
    l.prices = job.prices;
    if (o.reprice) {
      l.reprice(job.lo, job.hi);
      if (l.missing) warnx("%ld loaded calls are not in the database", l.missing);
      return l.problems || l.findings || l.missing ? exit_found : exit_ok;
    }
    l.pass(job.lo, job.hi, signalnoted());
    return l.problems || l.findings ? exit_found : exit_ok;
  } catch (const dberror& e) {
    warnx("%s", e.what());
  }
  return exit_trouble;
}
