#include "billout.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "tools/common/civil.h"

namespace {

const char* const marknames[] = {"", "end-before-start", "too-long"};

std::vector<std::pair<uint32_t, billsum>> sums(const billbook& book, const bill& b,
                                               uint32_t (*key)(const billcall&)) {
  std::map<uint32_t, billsum> m;
  for (uint32_t i : b.calls) m[key(book.calls[i])].add(book.calls[i]);
  return {m.begin(), m.end()};
}

// Text padded to a width, on the left or the right.
std::string left(const std::string& s, size_t w) {
  return s.size() < w ? s + std::string(w - s.size(), ' ') : s;
}
std::string right(const std::string& s, size_t w) {
  return s.size() < w ? std::string(w - s.size(), ' ') + s : s;
}

struct widths {
  size_t name = 4, destination = 11;
};

widths widthsof(const billbook& book, const bill& b) {
  widths w;
  for (uint32_t i : b.calls) {
    w.name = std::max(w.name, book.nameof(book.calls[i].station).size());
    w.destination = std::max(w.destination, book.destinationof(book.calls[i].destination).size());
  }
  return w;
}

void sumline(outbuf& out, const std::string& label, size_t width, const billsum& s,
             bool costed) {
  out.put(left(label, width) + right(std::to_string(s.calls), 7) + right(hms(s.seconds), 12) +
          right(hms(s.billed), 12) + right(costed ? moneytext(s.cost, 2) : "-", 14) + "\n");
}

void textbill(const billbook& book, const bill& b, outbuf& out) {
  const reportinfo& info = book.info;
  widths w = widthsof(book, b);
  out.put("Bill of " + b.who + "\n");
  out.put(info.lastday < info.firstday
              ? std::string("Period: no calls\n")
              : "Period: " + daytext(info.firstday) + " to " + daytext(info.lastday) + " (" +
                    info.zone + ")\n");
  out.put("Tariff: " + info.prices->rates().path() + "\n");
  out.put("Calls from: " + info.stores + "\n\n");
  out.put(left("Start", 21) + right("Station", 8) + "  " + left("Number dialled", 25) +
          left("Destination", w.destination + 2) + right("Duration", 16) + right("Billed", 10) +
          right("Cost", 14) + "\n");
  for (uint32_t i : b.calls) {
    const billcall& c = book.calls[i];
    out.put(left(starttext(c), 21) + right(std::to_string(c.station), 8) + "  " +
            left(std::string(c.number()), 25) +
            left(book.destinationof(c.destination), w.destination + 2) +
            right(durationtext(c), 16) + right(billedtext(c), 10) +
            right(costtext(c.destination, c.cost), 14) + "\n");
  }
  size_t sw = std::max<size_t>(16, 9 + w.name);
  out.put("\n" + left("Station  Name", sw) + right("Calls", 7) + right("Duration", 12) +
          right("Billed", 12) + right("Cost", 14) + "\n");
  for (const auto& [n, s] : book.perstation(b))
    sumline(out, left(std::to_string(n), 7) + "  " + book.nameof(n), sw, s, true);
  out.put("\n" + left("Destination", w.destination + 2) + right("Calls", 7) +
          right("Duration", 12) + right("Billed", 12) + right("Cost", 14) + "\n");
  for (const auto& [d, s] : book.perdestination(b))
    sumline(out, book.destinationof(d), w.destination + 2, s, d != tariff::unrated && d != tariff::unpriced);
  out.put("\n");
  sumline(out, "Total", w.destination + 2, book.total(b), true);
  if (b.incoming)
    out.put("Incoming calls, not billed: " + std::to_string(b.incoming) + "\n");
}

std::string csvtext(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == s.npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

void csvsum(outbuf& out, const std::string& who, const char* section, const std::string& middle,
            const billsum& s, bool costed) {
  out.put(who + "," + section + "," + middle + "," + std::to_string(s.calls) + "," +
          std::to_string(s.seconds) + "," + std::to_string(s.billed) + "," +
          (costed ? moneytext(s.cost, 2) : "") + "\r\n");
}

}  // namespace

std::vector<std::pair<uint32_t, billsum>> billbook::perstation(const bill& b) const {
  return sums(*this, b, [](const billcall& c) { return c.station; });
}

std::vector<std::pair<uint32_t, billsum>> billbook::perdestination(const bill& b) const {
  // The tariff's destinations first, in its order, then unrated and unpriced.
  constexpr uint32_t after = 0x80000000u;
  auto v = sums(*this, b, [](const billcall& c) {
    return c.destination < tariff::firstnamed ? after + c.destination : c.destination;
  });
  for (auto& [d, s] : v)
    if (d >= after) d -= after;
  return v;
}

billsum billbook::total(const bill& b) const {
  billsum s;
  for (uint32_t i : b.calls) s.add(calls[i]);
  return s;
}

std::string billbook::nameof(uint32_t station) const {
  if (!info.prices->listed()) return "";
  const directory::entry* e = info.prices->stations().find(station);
  return e ? e->name : "";
}

std::string starttext(const billcall& c) {
  wall w = wallof(c.start + c.startoffset);
  char buf[32];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", w.year, w.month, w.day, w.hour,
           w.minute, w.second);
  return buf;
}

std::string durationtext(const billcall& c) { return c.mark ? marknames[c.mark] : hms(c.seconds); }

std::string billedtext(const billcall& c) {
  return c.destination >= tariff::firstnamed ? hms(c.billed) : "-";
}

std::string costtext(uint32_t destination, money cost) {
  if (destination == tariff::unrated) return "unrated";
  if (destination == tariff::unpriced) return "unpriced";
  return moneytext(cost, 2);
}

void writebilltext(const billbook& book, outbuf& out) {
  for (size_t i = 0; i < book.bills.size(); ++i) {
    if (i) out.put("\n\n");
    textbill(book, book.bills[i], out);
  }
}

void writebillcsv(const billbook& book, outbuf& out) {
  out.put("bill,section,start,station,name,dialled,destination,calls,duration,billed,cost\r\n");
  for (const bill& b : book.bills) {
    std::string who = csvtext(b.who);
    for (uint32_t i : b.calls) {
      const billcall& c = book.calls[i];
      char start[32];
      *isotime(start, wallof(c.start + c.startoffset), c.startoffset) = '\0';
      bool rated = c.destination >= tariff::firstnamed;
      out.put(who + ",call," + start + "," + std::to_string(c.station) + "," +
              csvtext(book.nameof(c.station)) + "," + std::string(c.number()) + "," +
              csvtext(book.destinationof(c.destination)) + ",1," +
              (c.mark ? "" : std::to_string(c.seconds)) + "," +
              (rated ? std::to_string(c.billed) : "") + "," +
              (rated ? moneytext(c.cost, 2) : "") + "\r\n");
    }
    for (const auto& [n, s] : book.perstation(b))
      csvsum(out, who, "station", "," + std::to_string(n) + "," + csvtext(book.nameof(n)) + ",,", s, true);
    for (const auto& [d, s] : book.perdestination(b))
      csvsum(out, who, "destination", ",,,," + csvtext(book.destinationof(d)), s,
             d != tariff::unrated && d != tariff::unpriced);
    csvsum(out, who, "total", ",,,,", book.total(b), true);
  }
}
