// pktav-cdr query: the selected calls as CSV or JSON Lines.
#include <unistd.h>

#include "cdr/commands.h"
#include "cdr/exits.h"
#include "cdr/export.h"
#include "cdr/sinks.h"

int runquery(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  pricing prices;
  if (!prices.load(o)) return exit_trouble;
  outbuf out(STDOUT_FILENO);
  exporter ex(out, zone, o.format == "json" ? exportformat::json : exportformat::csv,
              prices.priced() || prices.listed() ? &prices : nullptr);
  ex.header();
  selectsink sink(sel, [&](const readcall& c) { ex.record(c); });
  readinputs(o, zone, sel, sink);
  if (!flushed(out)) return exit_trouble;
  return exitcode(sink, sink.problems);
}
