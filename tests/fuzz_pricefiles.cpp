// libFuzzer entry for the files people write for pktav-cdr: the first byte
// chooses the tariff, the station directory or the rules of watch, the rest
// is the file. What reads without errors is then used: numbers made of the
// input's own digits looked up at every moment of the week for the tariff,
// every station for the directory; for the rules, calls made of the
// input's bytes watched, then a month passing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cdr/alarms.h"
#include "cdr/directory.h"
#include "cdr/tariff.h"

namespace {

class countsink : public alarmsink {
 public:
  void take(const watchalarm& a) override {
    if (a.detail.empty() || !a.rule) __builtin_trap();
    (a.state == alarmstate::raised ? raised : cleared)++;
    // Bursts and silences are episodes, raised and cleared; the others
    // are raised once per call.
    bool episode = a.rule->kind == rulekind::burst || a.rule->kind == rulekind::silence;
    episodes += episode && a.state == alarmstate::raised;
    if (a.state == alarmstate::cleared && !episode) __builtin_trap();
  }
  uint64_t raised = 0, cleared = 0, episodes = 0;
};

// The rules over calls whose gaps, lengths, stations and numbers come from
// the text: every alarm has a detail, every episode cleared was raised,
// and after a month without calls no burst is left raised.
void watchrulesof(std::string_view text, const std::string& digits) {
  std::vector<fileproblem> problems;
  watchrules rules;
  pricing none;
  if (!rules.parse(text, "rules", &problems) || !rules.fits(none, &problems)) return;
  static tzone zone("UTC");
  countsink sink;
  alarmwatch w(rules, none, zone, sink);
  int64_t t = 1700000000;
  w.start(t);
  hourfile f;
  readcall c;
  c.file = &f;
  std::string station, trunk;
  for (size_t i = 0; i < text.size() && i < 400; ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    t += (b & 0x0f) * (b & 0x10 ? 600 : 20);
    station = std::to_string(4200 + b % 7);
    trunk = std::to_string(b % 5);
    c.end = t;
    c.call.ticks = b & 0x20 ? 999999 : b * 37u;
    c.call.first = station;
    c.call.second = trunk;
    c.call.dialled = std::string_view(digits).substr(i % (digits.size() + 1));
    w.call(c);
  }
  w.clock(t + 31 * 86400);
  uint64_t silences = 0, active = 0;
  for (size_t i = 0; i < rules.rules().size(); ++i) {
    silences += rules.rules()[i].kind == rulekind::silence;
    active += w.active(i);
  }
  if (sink.raised != w.raised() || sink.cleared > sink.episodes ||
      sink.episodes - sink.cleared != active || active > silences)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<fileproblem> problems;
  std::string digits;
  for (char c : text)
    if (c >= '0' && c <= '9') digits += c;
  if (data[0] % 3 == 2) {
    watchrulesof(text, digits);
    return 0;
  }
  if (data[0] % 3 == 1) {
    directory d;
    if (!d.parse(text, "stations.csv", &problems)) return 0;
    for (const directory::entry& e : d.entries())
      for (uint32_t k = e.department; k != directory::nodepartment; k = d.parent(k))
        if (!d.within(e.department, k) || d.departmentof(d.departments()[k]) != k) __builtin_trap();
    return 0;
  }
  tariff t;
  if (!t.parse(text, "tariff.csv", &problems)) return 0;
  for (int minute = 0; minute < week_minutes; minute += 37)
    for (size_t from = 0; from < digits.size(); from += 5) {
      const rate* r = t.find(std::string_view(digits).substr(from, 24), {minute / 1440, minute % 1440});
      if (r && (r->destination >= t.destinations().size() || !r->when.holds({minute / 1440, minute % 1440})))
        __builtin_trap();
      if (r) (void)callcost(*r, 3999996, billedseconds(3999996, r->first, r->step), 8191);
    }
  return 0;
}
