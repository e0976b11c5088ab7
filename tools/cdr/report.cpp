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

}  // namespace

reportinfo titleof(const cdroptions& o, int64_t firstday, int64_t lastday, const selection& sel,
                   tzone& zone) {
  reportinfo info;
  info.stores = joinnames(o.inputs);
  info.zone = zone.name();
  bool calls = firstday <= lastday;
  if (calls) {
    info.firstday = firstday;
    info.lastday = lastday;
  }
  if (sel.from) info.firstday = daynumber(*sel.from, zone);
  if (sel.to) info.lastday = daynumber(*sel.to - 1, zone);
  if (!calls && (!sel.from || !sel.to)) info.lastday = info.firstday - 1;
  return info;
}

bool openpage(const std::string& path, std::optional<std::ofstream>* page) {
  if (path.empty()) return true;
  errno = 0;
  page->emplace(path, std::ios::binary | std::ios::trunc);
  if (**page) return true;
  warnx("%s: %s", path.c_str(), strerror(errno ? errno : EIO));
  return false;
}

bool closepage(const std::string& path, std::optional<std::ofstream>* page) {
  if (!*page) return true;
  (*page)->close();
  if (**page) return true;
  warnx("%s: %s", path.c_str(), strerror(errno ? errno : EIO));
  return false;
}

int runreport(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  pricing prices;
  if (!prices.load(o)) return exit_trouble;
  std::optional<std::ofstream> page;
  if (!openpage(o.html, &page)) return exit_trouble;
  traffic t;
  auto take = [&](const readcall& c) {
    if (!prices.priced()) return t.add(c);
    pricedcall p = prices.price(c, zone);
    t.add(c, p.destination, p.cost);
  };
  selectsink sink(sel, take);
  readinputs(o, zone, sel, sink);
  reportinfo info = t.days.empty() ? titleof(o, 0, -1, sel, zone)
                                   : titleof(o, t.days.begin()->first, t.days.rbegin()->first, sel, zone);
  info.prices = &prices;

  outbuf out(STDOUT_FILENO);
  if (o.format == "csv")
    writecsv(t, info, out);
  else
    writetext(t, info, out);
  if (!flushed(out)) return exit_trouble;
  errno = 0;
  if (page) writehtml(t, info, *page);
  if (!closepage(o.html, &page)) return exit_trouble;
  return exitcode(sink, sink.problems);
}
