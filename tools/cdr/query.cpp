// pktav-cdr query: the selected calls as CSV or JSON Lines.
#include <unistd.h>

#include <cstring>

#include "cdr/commands.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/export.h"
#include "cdr/inputs.h"

namespace {

class querysink : public warnsink {
 public:
  querysink(const selection& s, exporter& e) : sel_(s), ex_(e) {}
  void call(const readcall& c) override {
    if (sel_.matches(c)) ex_.record(c);
  }

 private:
  const selection& sel_;
  exporter& ex_;
};

}  // namespace

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

void warnsink::bad(const hourfile& f, long line, std::string_view text, const char* why) {
  warnbadline(f, line, text, why);
  ++problems;
}

void warnsink::unreadable(const std::string& path, int err) {
  warnx("%s: %s", path.c_str(), strerror(err));
  ++problems;
}

int runquery(const cdroptions& o) {
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  outbuf out(STDOUT_FILENO);
  exporter ex(out, zone, o.format == "json" ? exportformat::json : exportformat::csv);
  ex.header();
  querysink sink(sel, ex);
  callreader reader(zone, o.strictdst);
  forinputs(
      o.inputs, sel.firstfile(zone), sel.lastfile(zone),
      [&](const hourfile& f) { reader.readfile(f, sink); },
      [&](const std::string& path, int err) { sink.unreadable(path, err); });
  if (!out.flush()) {
    warnx("standard output: %s", strerror(out.error()));
    return exit_trouble;
  }
  return sink.problems ? exit_found : exit_ok;
}
