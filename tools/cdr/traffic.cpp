#include "traffic.h"

#include <algorithm>

void traffic::add(const readcall& rc) {
  const cdrcall& c = rc.call;
  int64_t day = daysfromcivil(c.end.year, c.end.month, c.end.day);
  if (day != lastday_) {
    lastrow_ = &days[day];
    lastday_ = day;
  }
  lastrow_->total.add(c);
  ++lastrow_->hours[c.end.hour];
  total.add(c);
  hours[c.end.hour].add(c);
  stations[partynumber(c.station())].add(c);
  if (c.betweenstations())
    betweenstations.add(c);
  else
    trunks[partynumber(c.trunk())].add(c);
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
