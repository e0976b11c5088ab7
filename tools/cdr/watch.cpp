// pktav-cdr watch: the calls of a period checked against the rules of
// --rules, one alarm a line.
#include <unistd.h>

#include <algorithm>
#include <ctime>

#include "cdr/alarmhook.h"
#include "cdr/commands.h"
#include "cdr/exits.h"
#include "cdr/sinks.h"
#include "cdr/watchfollow.h"

int runwatch(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  pricing prices;
  if (!prices.load(o)) return exit_trouble;
  watchrules rules;
  std::vector<fileproblem> problems;
  bool good = rules.load(o.rules, &problems) && rules.fits(prices, &problems);
  showproblems(problems);
  if (!good) return exit_trouble;

  if (o.follow) return followwatch(o, zone, sel, prices, rules);

  outbuf out(STDOUT_FILENO);
  alarmhook hook(out, zone, o.json, o.exec, static_cast<int>(o.exectimeout));
  alarmwatch watch(rules, prices, zone, hook);
  if (sel.from) watch.start(*sel.from);
  selectsink sink(sel, [&](const readcall& c) {
    watch.call(c);
    hook.run();
  });
  readinputs(o, zone, sel, sink);
  // The period ends at --to, or now if that is sooner: what has not
  // happened yet raises nothing. Without --to, at the latest call.
  if (sel.to) watch.clock(std::min<int64_t>(*sel.to, time(nullptr)));
  hook.run();
  if (!flushed(out)) return exit_trouble;
  return exitcode(sink, static_cast<long>(watch.raised()) + sink.problems);
}
