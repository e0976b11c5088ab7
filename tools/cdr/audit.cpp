// pktav-cdr audit: checks of the store, and its reconciliation with a raw
// data log.
#include "cdr/audit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "cdr/commands.h"
#include "cdr/database.h"
#include "cdr/dbaudit.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/reconcile.h"
#include "cdr/sinks.h"

namespace {

std::string twodigits(int v) {
  return std::string(1, static_cast<char>('0' + v / 10)) + static_cast<char>('0' + v % 10);
}

// "DD_MM_YYYY:hh", the name of the hour file a wall time belongs in.
std::string hourname(const wall& w) {
  return twodigits(w.day) + "_" + twodigits(w.month) + "_" + std::to_string(w.year) + ":" +
         twodigits(w.hour);
}

}  // namespace

void auditsink::beginfile(const hourfile& f) {
  seen_.clear();
  const char* where = placementtext(f.where);
  struct stat st;
  // Only an hour with calls is missing its place; an empty file holds none.
  if (*where && stat(f.path.c_str(), &st) == 0 && st.st_size > 0)
    f_.add("misplaced", f.path, 0, std::string(where) + "; it belongs in " + hourpath(f.key));
}

void auditsink::call(const readcall& c) {
  const hourfile& f = *c.file;
  const wall& e = c.call.end;
  if (f.key.hour >= 0 && (e.year != f.key.year || e.month != f.key.month || e.day != f.key.day ||
                          e.hour != f.key.hour))
    f_.add("misfiled", f.path, c.line, "ends in hour " + hourname(e), c.text);
  if (c.skipped)
    f_.add("notime", f.path, c.line, "its time does not occur in this time zone", c.text);
  auto [it, fresh] = seen_.emplace(std::string(c.text), c.line);
  if (!fresh)
    f_.add("duplicate", f.path, c.line, "the same as line " + std::to_string(it->second), c.text);
}

void auditsink::bad(const hourfile& f, long line, std::string_view text, const char* why) {
  bool torn = strncmp(why, "torn", 4) == 0;
  f_.add(torn ? "torn" : "malformed", f.path, line, why, text);
}

void auditsink::unreadable(const std::string& path, int err) {
  f_.add("unreadable", path, 0, strerror(err));
}

void auditsink::stray(const std::string& path, const char* what) { f_.add("stray", path, 0, what); }

int runaudit(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  outbuf out(STDOUT_FILENO);
  findings found(out, o.json);
  auditsink sink(found);
  readinputs(o, zone, sel, sink, 0);
  std::string err;
  bool replayed = o.raws.empty() || reconcile(o, found, &err);
  bool loaded = true;
  if (!o.db.empty()) {
    try {
      reconciledb(o, zone, found);
    } catch (const dberror& e) {
      err = e.what();
      loaded = false;
    }
  }
  if (!flushed(out)) return exit_trouble;
  if (!replayed || !loaded) {
    warnx("%s", err.c_str());
    return exit_trouble;
  }
  return exitcode(sink, static_cast<long>(found.count()));
}
