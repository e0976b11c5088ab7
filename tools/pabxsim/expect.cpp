#include "tools/pabxsim/expect.h"

#include <cstdio>
#include <cstdlib>

#include "tools/pabxsim/records.h"

namespace {

constexpr uint8_t trunkfirst = 0x80, condmark = 0x40, checkmark = 0x10, classbits = 0x03;
constexpr uint8_t thirdkind = 0x89;
constexpr int64_t endbeforestart = 999998, toolong = 999999, longest = 999997;
constexpr int64_t md110longest = 8998;  // ticks: 9 hours 59 minutes 52 seconds
constexpr int64_t pairslack = 4;

// The calendar time of the packed scale's origin, 1 March 1984 local time.
time_t origin() {
  std::tm t{};
  t.tm_year = 84;
  t.tm_mon = 2;
  t.tm_mday = 1;
  t.tm_isdst = -1;
  return mktime(&t);
}

int64_t ticks(std::tm t) {
  t.tm_isdst = -1;
  return static_cast<int64_t>(difftime(mktime(&t), origin()) / 4.0);
}

int field(const std::string& text, size_t off, size_t len) {
  return std::atoi(text.substr(off, len).c_str());
}

// The time of an MMDDhhmm[ss] stamp in the year a build gives it.
std::tm stamptime(const std::string& stamp, const std::tm& now, bool lastyearforlater) {
  std::tm t{};
  t.tm_mon = field(stamp, 0, 2) - 1;
  t.tm_mday = field(stamp, 2, 2);
  t.tm_hour = field(stamp, 4, 2);
  t.tm_min = field(stamp, 6, 2);
  t.tm_sec = stamp.size() > 8 ? field(stamp, 8, 2) : 0;
  t.tm_year = now.tm_year - (lastyearforlater && t.tm_mon > now.tm_mon ? 1 : 0);
  return t;
}

std::string digitsof(const std::string& text, size_t len) {
  std::string d;
  for (char c : text.substr(0, len))
    if (c >= '0' && c <= '9') d += c;
  return d.size() > 24 ? d.substr(d.size() - 24) : d;
}

std::string nozeros(const std::string& digits) {
  size_t i = digits.find_first_not_of('0');
  return i == std::string::npos ? "" : digits.substr(i);
}

// The charge code's last six digits among the first twelve of the column.
std::string chargeshown(const std::string& column, size_t width) {
  std::string d = digitsof(column, width);
  if (d.size() > 12) d.resize(12);
  return nozeros(d.size() > 6 ? d.substr(d.size() - 6) : d);
}

std::string shown(uint32_t n) { return n ? std::to_string(n) : ""; }

void neaxview(recformat format, const simcall& c, const std::tm& now, expectedcall* e) {
  if (c.kind == callkind::third) {
    e->flags = thirdkind;
    e->trunk = static_cast<uint32_t>(c.station);
    e->station = static_cast<uint32_t>(c.bstation);
  } else {
    e->trunk = static_cast<uint32_t>(c.trunk);
    e->station = static_cast<uint32_t>(c.station);
  }
  if (c.kind == callkind::incoming) e->flags |= trunkfirst;
  if (c.cond) e->flags |= condmark;
  if (c.kind == callkind::station && c.check) e->flags |= checkmark;
  e->flags |= static_cast<uint8_t>(c.cls + 1);

  e->start = ticks(stamptime(neaxstamp(c.start), now, true));
  int64_t end = ticks(stamptime(neaxstamp(c.end), now, true));
  e->duration = end < e->start              ? endbeforestart
                : end - e->start <= longest ? end - e->start
                                            : toolong;
  e->meter = c.meter & 0x1fff;
  e->charge = chargeshown(c.charge, 10);
  if (c.kind == callkind::third) {
    e->dialled.clear();
  } else if (c.kind == callkind::incoming && format == recformat::neax98) {
    std::string d = digitsof(c.dialled, 16);
    e->dialled = d.empty() ? "" : "0" + d;
  } else {
    e->dialled = digitsof(c.dialled, 24);
  }
}

void md110view(const simcall& c, const std::tm& now, expectedcall* e) {
  e->trunk = static_cast<uint32_t>(c.trunk);
  e->station = static_cast<uint32_t>(c.station);
  e->flags = c.kind == callkind::incoming ? 0x81 : c.kind == callkind::transit ? 0x03 : 0x01;
  if (c.cond) e->flags |= condmark;
  if (!c.cond && c.check) e->flags |= checkmark;
  int s = static_cast<int>(c.end - c.start);
  int64_t secs = 3600 * (s / 3600 % 10) + 60 * (s / 60 % 60) + 6 * (s % 60 / 6);
  e->duration = secs / 4 > md110longest ? md110longest : secs / 4;
  e->start = ticks(stamptime(md110stamp(c.end), now, false)) - e->duration;
  e->meter = (c.meter % 10000) & 0x1fff;
  e->charge = chargeshown(c.charge, 12);
  e->dialled = digitsof(c.dialled, c.kind == callkind::incoming ? 10 : 20);
}

}  // namespace

bool decodeview(recformat format, const simcall& call, time_t now, expectedcall* out) {
  if (call.spoilt != damage::none) return false;
  std::tm today{};
  localtime_r(&now, &today);
  *out = expectedcall{};
  if (format == recformat::md110)
    md110view(call, today, out);
  else
    neaxview(format, call, today, out);
  return true;
}

std::string cdrline(const expectedcall& e) {
  time_t end = origin() + static_cast<time_t>((e.start + e.duration) * 4);
  std::tm t{};
  localtime_r(&end, &t);
  bool tf = e.flags & trunkfirst;
  char line[160];
  snprintf(line, sizeof line, ":%s|%s|%s|%02d%02d%02d%02d%02d%02d|%s|%s|%s|%02x\n",
           shown(tf ? e.trunk : e.station).c_str(), shown(tf ? e.station : e.trunk).c_str(),
           e.dialled.c_str(), t.tm_mday, t.tm_mon + 1, t.tm_year % 100, t.tm_hour, t.tm_min,
           t.tm_sec, shown(static_cast<uint32_t>(e.duration)).c_str(),
           shown(static_cast<uint32_t>(e.meter)).c_str(), e.charge.c_str(), e.flags);
  return line;
}

void storemodel::add(const expectedcall& call, size_t tag) {
  if (format_ == recformat::md110) {
    out_(tag, cdrline(call));
    return;
  }
  queue_.push_back({call, tag});
  scan(true);
  if (queue_.size() == queuelen) release();
}

void storemodel::flush() {
  while (!queue_.empty()) release();
}

void storemodel::release() {
  scan(false);
  out_(queue_.front().tag, cdrline(queue_.front().call));
  queue_.pop_front();
}

// The newest call when it arrives, the oldest when it leaves: an incoming
// record of class 2 looks towards the other end for its partner.
void storemodel::scan(bool newest) {
  size_t n = queue_.size();
  size_t at = newest ? n - 1 : 0;
  expectedcall& examined = queue_[at].call;
  if (!(examined.flags & trunkfirst) || (examined.flags & classbits) != classbits) return;
  for (size_t step = 1; step < n; ++step) {
    expectedcall& partner = queue_[newest ? at - step : at + step].call;
    if (!(partner.flags & trunkfirst) && partner.trunk == examined.station &&
        std::llabs(partner.duration - examined.duration) <= pairslack) {
      pair(examined, partner);
      return;
    }
  }
}

void storemodel::pair(expectedcall& examined, expectedcall& partner) {
  if (format_ == recformat::neax98) {
    partner.station = examined.trunk;
    partner.flags |= classbits;
  } else {
    examined.station = partner.station;
    examined.flags = static_cast<uint8_t>(0x81 | (partner.flags & 0x02));
  }
}
