#include "reportout.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "tools/common/civil.h"

namespace {

std::string partytext(uint32_t n) { return n ? std::to_string(n) : "-"; }

// The rows of the text: a label as wide as the section's widest, the
// figures, and the cost when priced ("-" for calls that have none).
class textrows {
 public:
  textrows(outbuf& out, const reportinfo& info) : out_(out), priced_(info.priced()) {}

  void heading(const char* title, size_t width = 16) {
    width_ = width;
    out_.put("\n");
    line(title, "calls", "talk time", "meter", "charged", "cost");
  }
  void row(const std::string& label, const tally& t, bool costed = true) {
    line(label, std::to_string(t.calls), hms(t.talk), std::to_string(t.meter),
         std::to_string(t.charged), costed ? moneytext(t.cost, 2) : "-");
  }

 private:
  void line(const std::string& label, const std::string& calls, const std::string& talk,
            const std::string& meter, const std::string& charged, const std::string& cost) {
    char buf[128];
    snprintf(buf, sizeof buf, " %9s %12s %9s %9s", calls.c_str(), talk.c_str(), meter.c_str(),
             charged.c_str());
    out_.put(label);
    out_.put(std::string(label.size() < width_ ? width_ - label.size() : 0, ' '));
    out_.put(buf);
    if (priced_) {
      snprintf(buf, sizeof buf, " %12s", cost.c_str());
      out_.put(buf);
    }
    out_.put('\n');
  }

  outbuf& out_;
  bool priced_;
  size_t width_ = 16;
};

size_t widest(const std::vector<namedtotal>& rows) {
  size_t w = 16;
  for (const namedtotal& r : rows) w = std::max(w, r.name.size());
  return w;
}

void csvrow(outbuf& out, bool priced, const char* section, const std::string& key, const tally& t,
            bool costed = true) {
  char buf[160];
  snprintf(buf, sizeof buf, "%s,%s,%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64, section,
           key.c_str(), t.calls, t.talk, t.meter, t.charged);
  out.put(buf);
  if (priced) {
    out.put(',');
    if (costed) out.put(moneytext(t.cost, 2));
  }
  out.put("\r\n");
}

// A key for CSV: in quotes when it holds a comma, a quote or a line end.
std::string csvkey(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == s.npos) return s;
  std::string q = "\"";
  for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

}  // namespace

std::vector<namedtotal> bydestination(const traffic& t, const tariff& rates) {
  const std::vector<std::string>& names = rates.destinations();
  auto totalof = [&](size_t i) { return i < t.destinations.size() ? t.destinations[i] : tally{}; };
  std::vector<namedtotal> v;
  for (size_t i = tariff::firstnamed; i < names.size(); ++i) v.push_back({names[i], totalof(i)});
  for (uint32_t i : {tariff::incoming, tariff::unrated, tariff::unpriced})
    v.push_back({names[i], totalof(i), i == tariff::incoming});
  return v;
}

std::vector<namedtotal> bydepartment(const traffic& t, const directory& d) {
  std::vector<tally> totals = t.departments(d);
  std::vector<namedtotal> v;
  for (size_t i = 1; i < totals.size(); ++i) v.push_back({d.departments()[i], totals[i]});
  v.push_back({d.departments()[directory::nodepartment], totals[directory::nodepartment]});
  return v;
}

std::string daytext(int64_t day) {
  int y, m, d;
  civilfromdays(day, &y, &m, &d);
  char buf[16];
  *isodate(buf, y, m, d) = '\0';
  return buf;
}

// Day 0, 1 January 1970, was a Thursday.
const char* weekday(int64_t day) {
  static const char* const names[7] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  return names[((day % 7) + 7) % 7];
}

std::string hms(uint64_t s) {
  char buf[32];
  snprintf(buf, sizeof buf, "%" PRIu64 ":%02u:%02u", s / 3600, static_cast<unsigned>(s / 60 % 60),
           static_cast<unsigned>(s % 60));
  return buf;
}

void writetext(const traffic& t, const reportinfo& info, outbuf& out) {
  if (info.lastday < info.firstday)
    out.put("No calls in " + info.stores + " (" + info.zone + ")\n");
  else
    out.put("Calls from " + daytext(info.firstday) + " to " + daytext(info.lastday) + " in " +
            info.stores + " (" + info.zone + ")\n");
  if (info.priced()) out.put("Priced by " + info.prices->rates().path() + "\n");
  textrows rows(out, info);
  rows.heading("Totals");
  rows.row("all calls", t.total);
  rows.row("between stations", t.betweenstations);
  rows.heading("Day");
  for (int64_t d = info.firstday; d <= info.lastday; ++d) {
    auto it = t.days.find(d);
    rows.row(daytext(d) + " " + weekday(d), it == t.days.end() ? tally{} : it->second.total);
  }
  rows.heading("Hour of day");
  for (int h = 0; h < 24; ++h) {
    char label[16];
    snprintf(label, sizeof label, "%02d:00-%02d:59", h, h);
    rows.row(label, t.hours[h]);
  }
  rows.heading("Station");
  for (const auto& [n, s] : traffic::bynumber(t.stations)) rows.row(partytext(n), s);
  rows.heading("Trunk");
  for (const auto& [n, s] : traffic::bynumber(t.trunks)) rows.row(partytext(n), s);
  if (info.listed()) {
    std::vector<namedtotal> v = bydepartment(t, info.prices->stations());
    rows.heading("Department", widest(v));
    for (const namedtotal& d : v) rows.row(d.name, d.total);
  }
  if (info.priced()) {
    std::vector<namedtotal> v = bydestination(t, info.prices->rates());
    rows.heading("Destination", widest(v));
    for (const namedtotal& d : v) rows.row(d.name, d.total, d.costed);
  }
}

void writecsv(const traffic& t, const reportinfo& info, outbuf& out) {
  bool priced = info.priced();
  out.put(priced ? "section,key,calls,talk_seconds,meter,charged,cost\r\n"
                 : "section,key,calls,talk_seconds,meter,charged\r\n");
  csvrow(out, priced, "total", "", t.total);
  csvrow(out, priced, "between-stations", "", t.betweenstations);
  for (const auto& [d, r] : t.days) csvrow(out, priced, "day", daytext(d), r.total);
  for (int h = 0; h < 24; ++h) csvrow(out, priced, "hour", std::to_string(h), t.hours[h]);
  for (const auto& [n, s] : traffic::bynumber(t.stations))
    csvrow(out, priced, "station", n ? std::to_string(n) : "", s);
  for (const auto& [n, s] : traffic::bynumber(t.trunks))
    csvrow(out, priced, "trunk", n ? std::to_string(n) : "", s);
  if (info.listed())
    for (const namedtotal& d : bydepartment(t, info.prices->stations()))
      csvrow(out, priced, "department", d.name == "(none)" ? "" : csvkey(d.name), d.total);
  if (priced)
    for (const namedtotal& d : bydestination(t, info.prices->rates()))
      csvrow(out, priced, "destination", csvkey(d.name), d.total, d.costed);
}
