#include "watchmetrics.h"

#include "tools/common/exposition.h"

std::string watchexposition(const watchcounts& c, const watchrules& rules,
                            const std::string& site) {
  exposition e({{"site", site}});
  e.metric("pktav_watch_calls_total", "counter", "Calls checked against the rules.");
  e.sample(c.calls);
  e.metric("pktav_watch_alarms_total", "counter", "Alarms raised, by rule.");
  for (size_t i = 0; i < rules.rules().size(); ++i)
    e.sample(i < c.raised.size() ? c.raised[i] : 0, {{"rule", rules.rules()[i].name}});
  e.metric("pktav_watch_active_alarms", "gauge",
           "Alarms raised and not cleared yet (bursts and silences), by rule.");
  for (size_t i = 0; i < rules.rules().size(); ++i)
    e.sample(i < c.active.size() ? c.active[i] : 0, {{"rule", rules.rules()[i].name}});
  e.metric("pktav_watch_last_call_timestamp_seconds", "gauge",
           "The end of the latest call checked, in seconds since 1970; 0 before the first.");
  e.sample(static_cast<double>(c.lastcall));
  return e.text();
}
