#include "traffic.h"

#include <algorithm>

void traffic::add(const readcall& rc, uint32_t destination, money cost) {
  const cdrcall& c = rc.call;
  int64_t day = daysfromcivil(c.end.year, c.end.month, c.end.day);
  if (day != lastday_) {
    lastrow_ = &days[day];
    lastday_ = day;
  }
  lastrow_->total.add(c, cost);
  ++lastrow_->hours[c.end.hour];
  total.add(c, cost);
  hours[c.end.hour].add(c, cost);
  stations[partynumber(c.station())].add(c, cost);
  if (c.betweenstations())
    betweenstations.add(c, cost);
  else
    trunks[partynumber(c.trunk())].add(c, cost);
  if (destination == unpriced) return;
  if (destination >= destinations.size()) destinations.resize(destination + 1);
  destinations[destination].add(c, cost);
}

std::vector<tally> traffic::departments(const directory& d) const {
  std::vector<tally> v(d.departments().size());
  for (const auto& [n, t] : stations) {
    const directory::entry* e = d.find(n);
    uint32_t k = e ? e->department : directory::nodepartment;
    v[k].add(t);
    while (k != directory::nodepartment && (k = d.parent(k)) != directory::nodepartment) v[k].add(t);
  }
  return v;
}

std::vector<std::pair<uint32_t, tally>> traffic::bynumber(
    const std::unordered_map<uint32_t, tally>& m) {
  std::vector<std::pair<uint32_t, tally>> v(m.begin(), m.end());
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  return v;
}

std::vector<std::pair<uint32_t, tally>> traffic::busiest(
    const std::unordered_map<uint32_t, tally>& m, size_t n) {
  std::vector<std::pair<uint32_t, tally>> v(m.begin(), m.end());
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) {
    return a.second.calls != b.second.calls ? a.second.calls > b.second.calls : a.first < b.first;
  });
  if (v.size() > n) v.resize(n);
  return v;
}
