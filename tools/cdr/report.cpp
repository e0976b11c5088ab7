// pktav-cdr report: totals as text or CSV, and the page with --html.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "cdr/commands.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/inputs.h"
#include "cdr/reportout.h"
#include "cdr/sinks.h"

namespace {

int64_t daynumber(int64_t utc, tzone& zone) {
  wall w = wallof(utc + zone.offset(utc));
  return daysfromcivil(w.year, w.month, w.day);
}

// The report's title: the period asked for, else the days that have calls.
reportinfo titleof(const cdroptions& o, const traffic& t, const selection& sel, tzone& zone) {
  reportinfo info;
  info.stores = joinnames(o.inputs);
  info.zone = zone.name();
  if (!t.days.empty()) {
    info.firstday = t.days.begin()->first;
    info.lastday = t.days.rbegin()->first;
  }
  if (sel.from) info.firstday = daynumber(*sel.from, zone);
  if (sel.to) info.lastday = daynumber(*sel.to - 1, zone);
  if (t.days.empty() && (!sel.from || !sel.to)) info.lastday = info.firstday - 1;
  return info;
}

// The page's file, opened before the work, so that a path that cannot be
// written ends the run before it. False, with the reason said, if not.
// (Made only when asked for: a stream sets up the C++ locale.)
bool openpage(const std::string& path, std::optional<std::ofstream>* page) {
  errno = 0;
  page->emplace(path, std::ios::binary | std::ios::trunc);
  if (**page) return true;
  warnx("%s: %s", path.c_str(), strerror(errno ? errno : EIO));
  return false;
}

}  // namespace

int runreport(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  std::optional<std::ofstream> page;
  if (!o.html.empty() && !openpage(o.html, &page)) return exit_trouble;
  traffic t;
  selectsink sink(sel, [&](const readcall& c) { t.add(c); });
  readinputs(o, zone, sel, sink);
  reportinfo info = titleof(o, t, sel, zone);

  outbuf out(STDOUT_FILENO);
  if (o.format == "csv")
    writecsv(t, out);
  else
    writetext(t, info, out);
  if (!flushed(out)) return exit_trouble;
  if (page) {
    errno = 0;
    writehtml(t, info, *page);
    page->close();
    if (!*page) {
      warnx("%s: %s", o.html.c_str(), strerror(errno ? errno : EIO));
      return exit_trouble;
    }
  }
  return exitcode(sink, sink.problems);
}
