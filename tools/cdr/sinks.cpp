#include "sinks.h"

#include <cstring>

#include "cdr/diag.h"
#include "cdr/inputs.h"

selection makeselection(const cdroptions& o, tzone& zone) {
  selection s;
  if (o.from) s.setfrom(*o.from, zone);
  if (o.to) s.setto(*o.to, zone);
  s.station = o.station;
  s.trunk = o.trunk;
  s.dialled = o.dialled;
  if (!o.flags.empty()) s.setflags(o.flags);
  return s;
}

void readinputs(const cdroptions& o, tzone& zone, const selection& sel, callsink& sink,
                int64_t margin) {
  callreader reader(zone, o.strictdst);
  forinputs(
      o.inputs, sel.firstfile(zone, margin), sel.lastfile(zone, margin),
      [&](const hourfile& f) { reader.readfile(f, sink); },
      [&](const std::string& path, int err) { sink.unreadable(path, err); });
}

void warnsink::bad(const hourfile& f, long line, std::string_view text, const char* why) {
  warnbadline(f, line, text, why);
  ++problems;
}

void warnsink::unreadable(const std::string& path, int err) {
  warnx("%s: %s", path.c_str(), strerror(err));
  ++problems;
}

bool flushed(outbuf& out) {
  if (out.flush()) return true;
  warnx("standard output: %s", strerror(out.error()));
  return false;
}
