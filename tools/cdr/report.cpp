// pktav-cdr report: totals as text or CSV, and the page with --html.
#include <unistd.h>

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

}  // namespace

int runreport(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
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
  std::string err;
  if (!o.html.empty() && !writehtml(t, info, o.html, &err)) {
    warnx("%s", err.c_str());
    return exit_trouble;
  }
  return exitcode(sink, sink.problems);
}
