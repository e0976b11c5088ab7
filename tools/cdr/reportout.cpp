#include "reportout.h"

#include <cinttypes>
#include <cstdio>

#include "tools/common/civil.h"

namespace {

std::string partytext(uint32_t n) { return n ? std::to_string(n) : "-"; }

void row(outbuf& out, const std::string& label, const tally& t) {
  char buf[160];
  snprintf(buf, sizeof buf, "%-16s %9" PRIu64 " %12s %9" PRIu64 " %9" PRIu64 "\n", label.c_str(),
           t.calls, hms(t.talk).c_str(), t.meter, t.charged);
  out.put(buf);
}

void heading(outbuf& out, const char* title) {
  char buf[160];
  snprintf(buf, sizeof buf, "\n%-16s %9s %12s %9s %9s\n", title, "calls", "talk time", "meter",
           "charged");
  out.put(buf);
}

void csvrow(outbuf& out, const char* section, const std::string& key, const tally& t) {
  char buf[160];
  snprintf(buf, sizeof buf, "%s,%s,%" PRIu64 ",%" PRIu64 ",%" PRIu64 ",%" PRIu64 "\r\n", section,
           key.c_str(), t.calls, t.talk, t.meter, t.charged);
  out.put(buf);
}

}  // namespace

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
  heading(out, "Totals");
  row(out, "all calls", t.total);
  row(out, "between stations", t.betweenstations);
  heading(out, "Day");
  for (int64_t d = info.firstday; d <= info.lastday; ++d) {
    auto it = t.days.find(d);
    row(out, daytext(d) + " " + weekday(d), it == t.days.end() ? tally{} : it->second.total);
  }
  heading(out, "Hour of day");
  for (int h = 0; h < 24; ++h) {
    char label[16];
    snprintf(label, sizeof label, "%02d:00-%02d:59", h, h);
    row(out, label, t.hours[h]);
  }
  heading(out, "Station");
  for (const auto& [n, s] : traffic::bynumber(t.stations)) row(out, partytext(n), s);
  heading(out, "Trunk");
  for (const auto& [n, s] : traffic::bynumber(t.trunks)) row(out, partytext(n), s);
}

void writecsv(const traffic& t, outbuf& out) {
  out.put("section,key,calls,talk_seconds,meter,charged\r\n");
  csvrow(out, "total", "", t.total);
  csvrow(out, "between-stations", "", t.betweenstations);
  for (const auto& [d, r] : t.days) csvrow(out, "day", daytext(d), r.total);
  for (int h = 0; h < 24; ++h) csvrow(out, "hour", std::to_string(h), t.hours[h]);
  for (const auto& [n, s] : traffic::bynumber(t.stations))
    csvrow(out, "station", n ? std::to_string(n) : "", s);
  for (const auto& [n, s] : traffic::bynumber(t.trunks))
    csvrow(out, "trunk", n ? std::to_string(n) : "", s);
}
