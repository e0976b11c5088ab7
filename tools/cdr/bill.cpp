// pktav-cdr bill: the bills of a department, of stations, or of each
// department, for a period.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cdr/billout.h"
#include "cdr/commands.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/sinks.h"

namespace {

std::string stationswho(const numrange& r) {
  if (r.lo == r.hi) return "station " + std::to_string(r.lo);
  return "stations " + std::to_string(r.lo) + "-" + std::to_string(r.hi);
}

billcall billed(const readcall& rc, const pricedcall& p, tzone& zone) {
  const cdrcall& k = rc.call;
  billcall c;
  c.start = rc.start();
  c.startoffset = zone.offset(c.start);
  c.station = partynumber(k.station());
  c.seconds = k.seconds();
  c.billed = p.billed;
  c.destination = p.destination;
  c.cost = p.cost;
  c.mark = k.marked() ? static_cast<uint8_t>(k.ticks - (mark_endbeforestart - 1)) : 0;
  c.dialledlength = static_cast<uint8_t>(std::min(k.dialled.size(), sizeof c.dialled));
  memcpy(c.dialled, k.dialled.data(), c.dialledlength);
  return c;
}

// The bills asked for, and for each department the bills its calls go in:
// its own and those of the departments above it.
void planbills(const cdroptions& o, const pricing& prices, billbook* book,
               std::vector<std::vector<uint32_t>>* into) {
  if (o.station) {
    book->bills.push_back({stationswho(*o.station), {}, 0});
    return;
  }
  const directory& d = prices.stations();
  into->resize(d.departments().size());
  if (!o.eachdepartment) {
    uint32_t want = d.departmentof(o.department);
    book->bills.push_back({"department " + o.department, {}, 0});
    for (uint32_t k = 1; k < into->size(); ++k)
      if (d.within(k, want)) (*into)[k].push_back(0);
    return;
  }
  for (uint32_t k = 1; k < into->size(); ++k) {
    book->bills.push_back({"department " + d.departments()[k], {}, 0});
    for (uint32_t up = k; up != directory::nodepartment; up = d.parent(up))
      (*into)[k].push_back(up - 1);
  }
  book->bills.push_back({"no department", {}, 0});
  (*into)[directory::nodepartment].push_back(static_cast<uint32_t>(book->bills.size() - 1));
}

}  // namespace

int runbill(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  pricing prices;
  if (!prices.load(o)) return exit_trouble;
  if (!o.department.empty() && !prices.stations().departmentof(o.department)) {
    warnx("%s: no department \"%s\"", o.directory.c_str(), printable(o.department).c_str());
    return exit_trouble;
  }
  std::optional<std::ofstream> page;
  if (!openpage(o.html, &page)) return exit_trouble;
  billbook book;
  std::vector<std::vector<uint32_t>> into;  // per department: the bills its calls go in
  planbills(o, prices, &book, &into);
  int64_t firstday = 0, lastday = -1;
  auto take = [&](const readcall& rc) {
    static const std::vector<uint32_t> thebill{0};
    const std::vector<uint32_t>* bills = o.station ? &thebill : &into[prices.department(rc.call)];
    if (bills->empty()) return;
    int64_t day = daysfromcivil(rc.call.end.year, rc.call.end.month, rc.call.end.day);
    if (firstday > lastday) firstday = lastday = day;
    firstday = std::min(firstday, day);
    lastday = std::max(lastday, day);
    if (incomingcall(rc.call)) {
      for (uint32_t b : *bills) ++book.bills[b].incoming;
      return;
    }
    book.calls.push_back(billed(rc, prices.price(rc, zone), zone));
    for (uint32_t b : *bills)
      book.bills[b].calls.push_back(static_cast<uint32_t>(book.calls.size() - 1));
  };
  selectsink sink(sel, take);
  readinputs(o, zone, sel, sink);
  // Bills of no department only when there are such calls.
  if (o.eachdepartment && book.bills.back().calls.empty() && !book.bills.back().incoming)
    book.bills.pop_back();
  for (bill& b : book.bills)
    std::stable_sort(b.calls.begin(), b.calls.end(),
                     [&](uint32_t x, uint32_t y) { return book.calls[x].start < book.calls[y].start; });
  book.info = titleof(o, firstday, lastday, sel, zone);
  book.info.prices = &prices;

  outbuf out(STDOUT_FILENO);
  if (o.format == "csv")
    writebillcsv(book, out);
  else
    writebilltext(book, out);
  if (!flushed(out)) return exit_trouble;
  errno = 0;
  if (page) writebillhtml(book, *page);
  if (!closepage(o.html, &page)) return exit_trouble;
  return exitcode(sink, sink.problems);
}
