#include "alarms.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* const daynames[7] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// "45s", "12m05s", "3h00m12s".
std::string durationtext(int64_t s) {
  char buf[48];
  if (s >= 3600)
    snprintf(buf, sizeof buf, "%lldh%02lldm%02llds", static_cast<long long>(s / 3600),
             static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
  else if (s >= 60)
    snprintf(buf, sizeof buf, "%lldm%02llds", static_cast<long long>(s / 60),
             static_cast<long long>(s % 60));
  else
    snprintf(buf, sizeof buf, "%llds", static_cast<long long>(s));
  return buf;
}

int64_t floormod(int64_t a, int64_t b) { return (a % b + b) % b; }

bool inrange(const std::optional<numrange>& r, std::string_view party) {
  if (!r) return true;
  uint32_t n = partynumber(party);
  return !party.empty() && n >= r->lo && n <= r->hi;
}

}  // namespace

alarmwatch::alarmwatch(const watchrules& rules, const pricing& prices, tzone& zone, alarmsink& out)
    : rules_(rules.rules()),
      prices_(prices),
      zone_(zone),
      out_(out),
      bursts_(rules_.size()),
      silences_(rules_.size()) {}

void alarmwatch::start(int64_t t) {
  now_ = std::max(now_, t);
  for (size_t i = 0; i < rules_.size(); ++i) {
    if (rules_[i].kind != rulekind::silence || silences_[i].started) continue;
    silencestate& s = silences_[i];
    s.started = true;
    s.since = s.countedto = now_;
  }
}

uint64_t alarmwatch::active(size_t rule) const {
  return bursts_[rule].active + silences_[rule].raised;
}

std::string alarmwatch::when(int64_t t) {
  int64_t local = t + zone_.offset(t);
  weekmoment m = momentof(local);
  char buf[16];
  snprintf(buf, sizeof buf, "%s %02d:%02d", daynames[m.weekday], m.minute / 60, m.minute % 60);
  return buf;
}

std::string alarmwatch::amount(const watchrule& r, int64_t v) const {
  switch (r.measure) {
    case burstmeasure::calls: return std::to_string(v) + (v == 1 ? " call" : " calls");
    case burstmeasure::seconds: return durationtext(v) + " of talk";
    case burstmeasure::cost: return "a cost of " + moneytext(v, 2);
  }
  return {};
}

bool alarmwatch::takes(const watchrule& r, const readcall& c) const {
  if (!inrange(r.stations, c.call.station()) || !inrange(r.trunks, c.call.trunk())) return false;
  if (!r.department.empty() &&
      !prices_.stations().within(prices_.department(c.call), r.departmentnumber))
    return false;
  if (r.prefixes.empty() || r.kind == rulekind::destination) return true;
  return std::any_of(r.prefixes.begin(), r.prefixes.end(),
                     [&](const std::string& p) { return c.call.dialled.starts_with(p); });
}

void alarmwatch::emit(watchalarm& a) {
  raised_ += a.state == alarmstate::raised;
  out_.take(a);
}

void alarmwatch::call(const readcall& c) {
  clock(c.end);
  for (size_t i = 0; i < rules_.size(); ++i)
    if (takes(rules_[i], c)) oncall(i, c);
}

void alarmwatch::oncall(size_t i, const readcall& c) {
  const watchrule& r = rules_[i];
  watchalarm a{&r, alarmstate::raised, c.end, c.call.station(), c.call.trunk(), c.call.dialled, {},
               &c};
  switch (r.kind) {
    case rulekind::destination: {
      auto p = std::find_if(r.prefixes.begin(), r.prefixes.end(),
                            [&](const std::string& x) { return c.call.dialled.starts_with(x); });
      if (p == r.prefixes.end()) return;
      int64_t start = c.start();
      if (r.when && r.when->holds(momentof(start + zone_.offset(start))) == r.outside) return;
      a.detail = "prefix " + *p + ", started " + when(start);
      if (r.when) a.detail += (r.outside ? ", outside " : ", within ") + r.whentext;
      return emit(a);
    }
    case rulekind::longcall:
      if (c.call.ticks == mark_toolong) {
        a.detail = "too long to count, over " + r.secondstext;
      } else {
        if (c.call.marked() || c.call.seconds() <= r.seconds) return;
        a.detail = durationtext(c.call.seconds()) + ", over " + r.secondstext;
      }
      return emit(a);
    case rulekind::cost: {
      pricedcall p = prices_.price(c, zone_);
      if (!p.rated() || p.cost <= r.limit) return;
      a.detail = "a cost of " + moneytext(p.cost, 2) + ", over " + moneytext(r.limit, 2) + " (" +
                 prices_.rates().destinations()[p.destination] + ")";
      return emit(a);
    }
    case rulekind::burst: return burst(i, c);
    case rulekind::silence: return silence(i, c);
  }
}

int64_t alarmwatch::measure(const watchrule& r, const readcall& c) const {
  switch (r.measure) {
    case burstmeasure::calls: return 1;
    case burstmeasure::seconds: return c.call.seconds();
    case burstmeasure::cost: {
      pricedcall p = prices_.price(c, zone_);
      return p.rated() ? p.cost : 0;
    }
  }
  return 0;
}

void alarmwatch::burst(size_t i, const readcall& c) {
  const watchrule& r = rules_[i];
  std::string_view party = r.bytrunk ? c.call.trunk() : c.call.station();
  if (party.empty()) return;  // a call on no trunk
  burststate& b = bursts_[i];
  uint32_t key = partynumber(party);
  int64_t v = measure(r, c);
  // By the watch's clock, so that the window stays in the order calls leave it.
  b.window.push_back({now_ + r.seconds, key, v});
  episode& e = b.by[key];
  e.sum += v;
  ++e.calls;
  if (e.raised) {
    ++e.episodecalls;
    return;
  }
  if (e.sum <= r.limit) return;
  e.raised = true;
  e.episodecalls = e.calls;
  ++b.active;
  watchalarm a{&r, alarmstate::raised, c.end, c.call.station(), c.call.trunk(), c.call.dialled, {},
               &c};
  a.detail = amount(r, e.sum) + " within " + r.secondstext + ", over " + amount(r, r.limit);
  emit(a);
}

void alarmwatch::expire(size_t i) {
  const watchrule& r = rules_[i];
  burststate& b = bursts_[i];
  burstentry x = b.window.front();
  b.window.pop_front();
  auto it = b.by.find(x.key);
  episode& e = it->second;
  e.sum -= x.amount;
  --e.calls;
  if (e.raised && e.sum <= r.limit) {
    e.raised = false;
    --b.active;
    std::string party = std::to_string(x.key);
    watchalarm a{&r, alarmstate::cleared, x.leaves, {}, {}, {}, {}, nullptr};
    (r.bytrunk ? a.trunk : a.station) = party;
    a.detail = amount(r, e.sum) + " within " + r.secondstext + " again; " +
               std::to_string(e.episodecalls) + " calls in the burst";
    emit(a);
  }
  if (e.calls == 0) b.by.erase(it);
}

int64_t alarmwatch::quietuntil(size_t i, int64_t upto, int64_t* quiet) const {
  const watchrule& r = rules_[i];
  const silencestate& s = silences_[i];
  int64_t q = s.quiet;
  int64_t due = INT64_MAX;
  for (int64_t t = s.countedto; t < upto;) {
    if (!r.when) {  // every moment counts
      if (q + (upto - t) >= r.seconds) due = t + (r.seconds - q);
      q = std::min(r.seconds, q + (upto - t));
      break;
    }
    int64_t local = t + zone_.offset(t);
    int64_t next = std::min(upto, t + 60 - floormod(local, 60));
    if (r.when->holds(momentof(local))) {
      if (q + (next - t) >= r.seconds) {
        due = t + (r.seconds - q);
        q = r.seconds;
        break;
      }
      q += next - t;
    }
    t = next;
  }
  *quiet = q;
  return due;
}

void alarmwatch::clock(int64_t now) {
  if (now <= now_) return;
  // Every alarm the time brings, in the order of its time.
  for (;;) {
    int64_t first = INT64_MAX;
    size_t which = rules_.size();
    int64_t quiet = 0;
    for (size_t i = 0; i < rules_.size(); ++i) {
      const watchrule& r = rules_[i];
      if (r.kind == rulekind::burst && !bursts_[i].window.empty() &&
          bursts_[i].window.front().leaves <= now && bursts_[i].window.front().leaves < first) {
        first = bursts_[i].window.front().leaves;
        which = i;
      }
      if (r.kind == rulekind::silence && silences_[i].started && !silences_[i].raised) {
        int64_t q;
        int64_t due = quietuntil(i, std::min(now, first), &q);
        if (due <= now && due < first) {
          first = due;
          which = i;
          quiet = q;
        }
      }
    }
    if (which == rules_.size()) break;
    if (rules_[which].kind == rulekind::burst) {
      expire(which);
      continue;
    }
    silencestate& s = silences_[which];
    s.quiet = quiet;
    s.countedto = first;
    s.raised = true;
    const watchrule& r = rules_[which];
    watchalarm a{&r, alarmstate::raised, first, {}, {}, {}, {}, nullptr};
    a.detail = "no call for " + r.secondstext + (r.when ? " within " + r.whentext : std::string()) +
               " since " + when(s.since);
    emit(a);
  }
  for (size_t i = 0; i < rules_.size(); ++i) {
    silencestate& s = silences_[i];
    if (rules_[i].kind != rulekind::silence || !s.started) continue;
    if (!s.raised) quietuntil(i, now, &s.quiet);
    s.countedto = now;
  }
  now_ = now;
}

void alarmwatch::silence(size_t i, const readcall& c) {
  silencestate& s = silences_[i];
  if (s.raised) {
    const watchrule& r = rules_[i];
    watchalarm a{
        &r, alarmstate::cleared, c.end, c.call.station(), c.call.trunk(), c.call.dialled, {}, &c};
    a.detail = "a call again after " + durationtext(std::max<int64_t>(0, c.end - s.since));
    emit(a);
  }
  // A call stored late, after one that ended later, does not move it back.
  s.since = s.started ? std::max(s.since, c.end) : c.end;
  s.started = true;
  s.raised = false;
  s.countedto = std::max(now_, c.end);
  s.quiet = 0;
}
