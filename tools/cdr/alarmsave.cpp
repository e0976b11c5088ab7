// The state of an alarmwatch as text:
//
//   clock NOW RAISED
//   burst NAME                       a burst rule, then its window:
//   call LEAVES KEY AMOUNT           each call in it, in the order they leave
//   episode KEY CALLS                a station or trunk raised, with the calls since
//   silence NAME STARTED RAISED SINCE COUNTEDTO QUIET
//
// The sums and counts of a burst's window are those of its calls.
#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "alarms.h"

std::string alarmwatch::save() const {
  std::string s;
  char buf[160];
  snprintf(buf, sizeof buf, "clock %" PRId64 " %" PRIu64 "\n", now_, raised_);
  s += buf;
  for (size_t i = 0; i < rules_.size(); ++i) {
    const watchrule& r = rules_[i];
    if (r.kind == rulekind::burst) {
      s += "burst " + r.name + "\n";
      for (const burstentry& e : bursts_[i].window) {
        snprintf(buf, sizeof buf, "call %" PRId64 " %" PRIu32 " %" PRId64 "\n", e.leaves, e.key,
                 e.amount);
        s += buf;
      }
      for (const auto& [key, e] : bursts_[i].by)
        if (e.raised) {
          snprintf(buf, sizeof buf, "episode %" PRIu32 " %" PRIu64 "\n", key, e.episodecalls);
          s += buf;
        }
    } else if (r.kind == rulekind::silence) {
      const silencestate& q = silences_[i];
      snprintf(buf, sizeof buf, " %d %d %" PRId64 " %" PRId64 " %" PRId64 "\n", q.started,
               q.raised, q.since, q.countedto, q.quiet);
      s += "silence " + r.name + buf;
    }
  }
  return s;
}

bool alarmwatch::restore(std::string_view text, std::string* why) {
  std::istringstream in{std::string(text)};
  size_t rule = rules_.size();  // the burst rule the calls and episodes are of
  long number = 0;
  auto find = [&](const std::string& name, rulekind kind) {
    for (size_t i = 0; i < rules_.size(); ++i)
      if (rules_[i].name == name && rules_[i].kind == kind) return i;
    return rules_.size();
  };
  for (std::string line; std::getline(in, line);) {
    ++number;
    std::istringstream words(line);
    std::string what, name;
    words >> what;
    bool good = true;
    if (what == "clock") {
      good = static_cast<bool>(words >> now_ >> raised_);
    } else if (what == "burst") {
      good = static_cast<bool>(words >> name);
      rule = find(name, rulekind::burst);
      if (rule < rules_.size()) bursts_[rule] = {};
    } else if (what == "call") {
      burstentry e{};
      good = static_cast<bool>(words >> e.leaves >> e.key >> e.amount);
      if (good && rule < rules_.size()) {
        burststate& b = bursts_[rule];
        b.window.push_back(e);
        episode& x = b.by[e.key];
        x.sum += e.amount;
        ++x.calls;
      }
    } else if (what == "episode") {
      uint32_t key;
      uint64_t calls;
      good = static_cast<bool>(words >> key >> calls);
      if (good && rule < rules_.size()) {
        burststate& b = bursts_[rule];
        auto it = b.by.find(key);
        if (it != b.by.end() && !it->second.raised) {
          it->second.raised = true;
          it->second.episodecalls = calls;
          ++b.active;
        }
      }
    } else if (what == "silence") {
      silencestate q;
      int started, raised;
      good = static_cast<bool>(words >> name >> started >> raised >> q.since >> q.countedto >>
                               q.quiet);
      q.started = started;
      q.raised = raised;
      size_t i = find(name, rulekind::silence);
      if (good && i < rules_.size()) silences_[i] = q;
    } else {
      good = false;
    }
    if (!good) {
      *why = "line " + std::to_string(number) + ": not the state of the rules: \"" + line + "\"";
      return false;
    }
  }
  return true;
}
