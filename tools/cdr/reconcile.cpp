#include "reconcile.h"

#include <sys/stat.h>

#include <algorithm>

#include "cdr/diag.h"
#include "cdr/inputs.h"
#include "cdr/replay.h"
#include "cdr/sinks.h"
#include "cdr/storecompare.h"

namespace {

// The period, in wall seconds, of the calls both stores cover, narrowed to
// the one asked for. Nothing to compare is said aloud: a replay through the
// wrong build gives no calls, and a silent pass would hide it.
bool period(const cdroptions& o, const std::string& root, const std::string& replayed, int64_t* lo,
            int64_t* hi) {
  int64_t rfirst, rlast, sfirst, slast;
  if (!storespan(replayed, firsthour, lasthour, &rfirst, &rlast)) {
    warnx("the replay of %s gave no calls: nothing was reconciled", joinnames(o.raws).c_str());
    return false;
  }
  if (!storespan(root, firsthour, lasthour, &sfirst, &slast)) sfirst = 0, slast = -1;
  *lo = std::max(rfirst, sfirst);
  *hi = std::min(rlast, slast);
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  if (sel.from) *lo = std::max(*lo, *sel.from + zone.offset(*sel.from));
  if (sel.to) *hi = std::min(*hi, *sel.to - 1 + zone.offset(*sel.to - 1));
  if (*lo > *hi) {
    warnx("the store and the replay of %s share no period: nothing was reconciled",
          joinnames(o.raws).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool reconcile(const cdroptions& o, findings& found, std::string* err) {
  struct stat st;
  if (stat(o.inputs.front().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *err = o.inputs.front() + ": reconciliation needs a store directory";
    return false;
  }
  scratchdir scratch;
  if (!scratch.make(err) || !replay(o, scratch, err)) return false;
  std::string root = o.inputs.front();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  int64_t lo, hi;
  if (period(o, root, scratch.store(), &lo, &hi))
    comparestores(root, scratch.store(), lo, hi, found);
  return true;
}
