// The report as one page: the period's totals, a grid of calls per hour of
// the day across its days, and the busiest stations and trunks as bars.
// Everything is inline (style and SVG); the page fetches nothing and runs
// no script. It is also well-formed XML, so that a plain XML checker can
// vouch for it and for its pictures. It is written as it is made: the grid
// has a row per day, some 2.7 KB of the page, and none of it is kept.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ostream>

#include "tools/common/civil.h"
#include "cdr/reportout.h"

namespace {

constexpr size_t topcount = 15;
constexpr int cellw = 22, cellh = 16, gridleft = 110, gridtop = 28;

}  // namespace

std::string htmlescape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

namespace {

std::string esc(const std::string& s) { return htmlescape(s); }

// Shades from pale to dark blue for 0 and for the busiest hour.
const char* shade(uint32_t calls, uint32_t most) {
  static const char* shades[] = {"#f2f4f8", "#deebf7", "#c6dbef", "#9ecae1", "#6baed6",
                                 "#4292c6", "#2171b5", "#08519c", "#08306b"};
  if (calls == 0 || most == 0) return shades[0];
  uint64_t level = 1 + (uint64_t{calls} * 7 + most - 1) / most;
  return shades[level > 8 ? 8 : level];
}

void heatmap(std::ostream& o, const traffic& t, const reportinfo& info) {
  uint32_t most = 0;
  for (const auto& [d, r] : t.days)
    for (uint32_t c : r.hours) most = std::max(most, c);
  int64_t days = info.lastday - info.firstday + 1;
  int legend = gridtop + static_cast<int>(days) * cellh + 12;
  int width = gridleft + 24 * cellw + 10, height = legend + cellh + 10;
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
    << "\" viewBox=\"0 0 " << width << ' ' << height
    << "\" role=\"img\" aria-label=\"Calls per hour of the day\">\n";
  for (int h = 0; h < 24; ++h)
    o << "<text x=\"" << gridleft + h * cellw + cellw / 2 << "\" y=\"" << gridtop - 8
      << "\" class=\"axis\" text-anchor=\"middle\">" << h << "</text>\n";
  for (int64_t i = 0; i < days; ++i) {
    int64_t day = info.firstday + i;
    int y = gridtop + static_cast<int>(i) * cellh;
    o << "<text x=\"" << gridleft - 8 << "\" y=\"" << y + cellh - 4
      << "\" class=\"axis\" text-anchor=\"end\">" << weekday(day) << ' ' << daytext(day)
      << "</text>\n";
    auto it = t.days.find(day);
    for (int h = 0; h < 24; ++h) {
      uint32_t calls = it == t.days.end() ? 0 : it->second.hours[h];
      o << "<rect x=\"" << gridleft + h * cellw << "\" y=\"" << y << "\" width=\"" << cellw - 2
        << "\" height=\"" << cellh - 2 << "\" fill=\"" << shade(calls, most) << "\"><title>"
        << daytext(day) << ' ' << (h < 10 ? "0" : "") << h << ":00, " << calls
        << (calls == 1 ? " call" : " calls") << "</title></rect>\n";
    }
  }
  // The legend: the shades from no call to the busiest hour.
  o << "<text x=\"" << gridleft - 8 << "\" y=\"" << legend + cellh - 4
    << "\" class=\"axis\" text-anchor=\"end\">0</text>\n";
  for (uint32_t i = 0; i <= 8; ++i)
    o << "<rect x=\"" << gridleft + static_cast<int>(i) * cellw << "\" y=\"" << legend
      << "\" width=\"" << cellw - 2 << "\" height=\"" << cellh - 2 << "\" fill=\""
      << shade(i == 0 ? 0 : (most * i + 7) / 8, most) << "\"/>\n";
  o << "<text x=\"" << gridleft + 9 * cellw + 4 << "\" y=\"" << legend + cellh - 4
    << "\" class=\"axis\">" << most << (most == 1 ? " call" : " calls")
    << " in the busiest hour</text>\n";
  o << "</svg>\n";
}

// One bar of a chart: its label, its length's measure, the figure at its
// end and the tooltip.
struct bar {
  std::string label;
  uint64_t value = 0;
  std::string figure, title;
};

void bars(std::ostream& o, const std::string& what, const std::vector<bar>& rows) {
  constexpr int rowh = 20, barmax = 360;
  size_t longest = 4;
  for (const bar& b : rows) longest = std::max(longest, b.label.size());
  int barleft = std::max(90, static_cast<int>(std::min<size_t>(longest, 40)) * 7 + 20);
  uint64_t most = 1;
  for (const bar& b : rows) most = std::max(most, b.value);
  int height = static_cast<int>(rows.size()) * rowh + 10, width = barleft + barmax + 90;
  o << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
    << "\" viewBox=\"0 0 " << width << ' ' << height << "\" role=\"img\" aria-label=\""
    << esc(what) << "\">\n";
  int y = 5;
  for (const bar& b : rows) {
    int len = static_cast<int>(b.value * barmax / most);
    o << "<text x=\"" << barleft - 8 << "\" y=\"" << y + 14
      << "\" class=\"axis\" text-anchor=\"end\">" << esc(b.label) << "</text>\n"
      << "<rect x=\"" << barleft << "\" y=\"" << y + 2 << "\" width=\"" << std::max(len, 1)
      << "\" height=\"" << rowh - 6 << "\" fill=\"#2171b5\"><title>" << esc(b.title)
      << "</title></rect>\n"
      << "<text x=\"" << barleft + len + 6 << "\" y=\"" << y + 14 << "\" class=\"value\">"
      << esc(b.figure) << "</text>\n";
    y += rowh;
  }
  o << "</svg>\n";
}

// The busiest stations or trunks, by calls.
std::vector<bar> busiest(const char* what, const std::vector<std::pair<uint32_t, tally>>& rows) {
  std::vector<bar> v;
  for (const auto& [n, s] : rows) {
    std::string name = n ? std::to_string(n) : "none";
    v.push_back({name, s.calls, std::to_string(s.calls),
                 std::string(what) + ' ' + name + ": " + std::to_string(s.calls) + " calls, " +
                     hms(s.talk) + " talk time"});
  }
  return v;
}

// Departments or destinations by cost (by calls when not priced); those
// without a cost (unrated, unpriced) show their calls in the tooltip only.
std::vector<bar> bycost(const std::vector<namedtotal>& rows, bool priced) {
  std::vector<bar> v;
  for (const namedtotal& r : rows) {
    std::string calls = std::to_string(r.total.calls) + (r.total.calls == 1 ? " call" : " calls");
    if (!priced) {
      v.push_back({r.name, r.total.calls, std::to_string(r.total.calls), r.name + ": " + calls});
      continue;
    }
    std::string cost = r.costed ? moneytext(r.total.cost, 2) : "no cost";
    v.push_back({r.name, r.costed ? static_cast<uint64_t>(r.total.cost) : 0, cost,
                 r.name + ": " + cost + ", " + calls});
  }
  return v;
}

void totals(std::ostream& o, const traffic& t, bool priced) {
  uint64_t busiest = 0;
  int64_t busiestday = 0;
  for (const auto& [d, r] : t.days)
    if (r.total.calls > busiest) busiest = r.total.calls, busiestday = d;
  o << "<table class=\"totals\">\n"
    << "<tr><th>Calls</th><td>" << t.total.calls << "</td></tr>\n"
    << "<tr><th>Talk time</th><td>" << hms(t.total.talk) << "</td></tr>\n"
    << "<tr><th>Meter pulses</th><td>" << t.total.meter << "</td></tr>\n"
    << "<tr><th>Calls with a charge code</th><td>" << t.total.charged << "</td></tr>\n"
    << "<tr><th>Calls between stations</th><td>" << t.betweenstations.calls << "</td></tr>\n";
  if (priced) o << "<tr><th>Cost</th><td>" << moneytext(t.total.cost, 2) << "</td></tr>\n";
  o
    << "<tr><th>Stations / trunks</th><td>" << t.stations.size() << " / " << t.trunks.size()
    << "</td></tr>\n";
  if (busiest)
    o << "<tr><th>Busiest day</th><td>" << weekday(busiestday) << ' ' << daytext(busiestday) << ", "
      << busiest << " calls</td></tr>\n";
  o << "</table>\n";
}

const char* style =
    "body{font-family:sans-serif;margin:2em;color:#1b1f24;background:#fff}"
    "h1{font-size:1.4em}h2{font-size:1.1em;margin-top:2em}"
    ".totals th{text-align:left;font-weight:normal;color:#57606a;padding-right:2em}"
    ".totals td{text-align:right;font-weight:bold}"
    "svg text{font-family:sans-serif;font-size:11px;fill:#1b1f24}"
    "svg .value{fill:#57606a}.side{display:inline-block;vertical-align:top;margin-right:3em}";

}  // namespace

void writehtml(const traffic& t, const reportinfo& info, std::ostream& o) {
  std::string period = info.lastday < info.firstday
                           ? std::string("no calls")
                           : daytext(info.firstday) + " to " + daytext(info.lastday);
  o << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n"
    << "<title>Calls, " << esc(period) << "</title>\n<style>" << style << "</style>\n"
    << "</head>\n<body>\n<h1>Calls, " << esc(period) << "</h1>\n<p>" << esc(info.stores)
    << ", times in " << esc(info.zone) << ".</p>\n";
  totals(o, t, info.priced());
  if (info.lastday >= info.firstday) {
    o << "<h2>Calls per hour of the day</h2>\n";
    heatmap(o, t, info);
  }
  if (info.listed()) {
    const char* title = info.priced() ? "Cost per department" : "Calls per department";
    o << "<div class=\"side\">\n<h2>" << title << "</h2>\n";
    bars(o, title, bycost(bydepartment(t, info.prices->stations()), info.priced()));
    o << "</div>\n";
  }
  if (info.priced()) {
    o << "<div class=\"side\">\n<h2>Cost per destination</h2>\n";
    bars(o, "Cost per destination", bycost(bydestination(t, info.prices->rates()), true));
    o << "</div>\n";
  }
  if (info.listed() || info.priced()) o << "<br/>\n";
  o << "<div class=\"side\">\n<h2>Busiest stations</h2>\n";
  bars(o, "Busiest stations", busiest("station", traffic::busiest(t.stations, topcount)));
  o << "</div>\n<div class=\"side\">\n<h2>Busiest trunks</h2>\n";
  bars(o, "Busiest trunks", busiest("trunk", traffic::busiest(t.trunks, topcount)));
  o << "</div>\n</body>\n</html>\n";
}
