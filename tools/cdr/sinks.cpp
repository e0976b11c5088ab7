#include "sinks.h"

#include <cstring>
#include <stdexcept>

#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/inputs.h"

selection makeselection(const cdroptions& o, tzone& zone) {
  selection s;
  if (o.from) s.setfrom(*o.from, zone);
  if (o.to) s.setto(*o.to, zone);
  if (s.from && s.to && *s.from >= *s.to)
    throw std::runtime_error("--from \"" + o.from->text + "\" is not before --to \"" + o.to->text +
                             "\": the period holds no time");
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
      [&](const hourfile& f) { reader.readfile(f, sink); }, sink);
}

void warnsink::bad(const hourfile& f, long line, std::string_view text, const char* why) {
  warnbadline(f, line, text, why);
  ++problems;
}

void warnsink::unreadable(const std::string& path, int err) {
  warnx("%s: %s", path.c_str(), strerror(err));
  ++problems;
}

void warnsink::stray(const std::string& path, const char* what) {
  warnx("%s: %s; not read", path.c_str(), what);
  ++problems;
}

bool flushed(outbuf& out) {
  if (out.flush()) return true;
  warnx("standard output: %s", strerror(out.error()));
  return false;
}

int exitcode(const callsink& sink, long leftout) {
  return sink.operanderrors ? exit_trouble : leftout ? exit_found : exit_ok;
}
