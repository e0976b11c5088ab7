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

// Rows of text in columns as wide as their widest cell, two blanks apart;
// figures aligned on the right. An empty row is a blank line.
class texttable {
 public:
  explicit texttable(std::vector<std::pair<std::string, bool>> columns) : columns_(std::move(columns)) {
    std::vector<std::string> head;
    for (const auto& [title, right] : columns_) head.push_back(title);
    add(std::move(head));
  }
  void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
  void blank() { rows_.emplace_back(); }
  void put(outbuf& out) const {
    std::vector<size_t> w(columns_.size());
    for (const auto& row : rows_)
      for (size_t i = 0; i < row.size(); ++i) w[i] = std::max(w[i], row[i].size());
    for (const auto& row : rows_) {
      std::string line;
      for (size_t i = 0; i < row.size(); ++i) {
        std::string pad(w[i] - row[i].size(), ' ');
        if (i) line += "  ";
        line += columns_[i].second ? pad + row[i] : row[i] + (i + 1 < row.size() ? pad : "");
      }
      out.put(line + "\n");
    }
  }

 private:
  std::vector<std::pair<std::string, bool>> columns_;
  std::vector<std::vector<std::string>> rows_;
};

std::vector<std::string> sumcells(std::vector<std::string> first, const billsum& s, bool costed) {
  first.insert(first.end(), {std::to_string(s.calls), hms(s.seconds), hms(s.billed),
                             costed ? moneytext(s.cost, 2) : "-"});
  return first;
}

bool costed(uint32_t destination) {
  return destination != tariff::unrated && destination != tariff::unpriced;
}

void textbill(const billbook& book, const bill& b, outbuf& out) {
  const reportinfo& info = book.info;
  out.put("Bill of " + b.who + "\n");
  out.put(info.lastday < info.firstday
              ? std::string("Period: no calls\n")
              : "Period: " + daytext(info.firstday) + " to " + daytext(info.lastday) + " (" +
                    info.zone + ")\n");
  out.put("Tariff: " + info.prices->rates().path() + "\n");
  out.put("Calls from: " + info.stores + "\n\n");
  texttable calls({{"Start", false}, {"Station", true}, {"Number dialled", false},
                   {"Destination", false}, {"Duration", true}, {"Billed", true}, {"Cost", true}});
  for (uint32_t i : b.calls) {
    const billcall& c = book.calls[i];
    calls.add({starttext(c), std::to_string(c.station), std::string(c.number()),
               book.destinationof(c.destination), durationtext(c), billedtext(c),
               costtext(c.destination, c.cost)});
  }
  calls.put(out);
  texttable stations({{"Station", true}, {"Name", false}, {"Calls", true}, {"Duration", true},
                      {"Billed", true}, {"Cost", true}});
  for (const auto& [n, s] : book.perstation(b))
    stations.add(sumcells({std::to_string(n), book.nameof(n)}, s, true));
  out.put("\n");
  stations.put(out);
  texttable destinations({{"Destination", false}, {"Calls", true}, {"Duration", true},
                          {"Billed", true}, {"Cost", true}});
  for (const auto& [d, s] : book.perdestination(b))
    destinations.add(sumcells({book.destinationof(d)}, s, costed(d)));
  destinations.blank();
  destinations.add(sumcells({"Total"}, book.total(b), true));
  out.put("\n");
  destinations.put(out);
  if (b.incoming) out.put("Incoming calls, not billed: " + std::to_string(b.incoming) + "\n");
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
             costed(d));
    csvsum(out, who, "total", ",,,,", book.total(b), true);
  }
}
