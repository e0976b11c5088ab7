#include "reader.h"

#include <cerrno>
#include <cstring>

#include "cdr/diag.h"

namespace {

int yearof(const hourfile& f) { return f.key.hour >= 0 ? f.key.year : 0; }

}  // namespace

void callsink::badoperand(const std::string& path, const char* why) {
  warnx("%s: %s", path.c_str(), why);
  ++operanderrors;
}

void callreader::cannotopen(const hourfile& f, callsink& sink) {
  int err = errno;
  mode_t mode = in_.irregular();
  if (f.where == placement::given)
    sink.badoperand(f.path, mode ? notregular(mode) : strerror(err));
  else if (mode)
    sink.stray(f.path, notregular(mode));
  else
    sink.unreadable(f.path, err);
}

long callreader::secondpass(const hourfile& f, int64_t lo, int64_t hi) {
  long steps = 0, split = 0;
  int64_t previous = INT64_MIN;
  linereader::line l;
  cdrcall c;
  while (in_.next(&l)) {
    if (l.torn || l.toolong || parsecall(l.text, yearof(f), &c)) continue;
    int64_t w = wallsecs(c.end);
    if (w < lo || w >= hi) continue;
    if (w < previous && ++steps == 1) split = l.number;
    previous = w;
  }
  if (!in_.rewind()) return 0;
  return steps == 1 ? split : 0;
}

long callreader::prepare(const hourfile& f) {
  lo_ = hi_ = 0;
  split_ = 0;
  bool repeats =
      f.key.hour >= 0 &&
      zone_.repeatedin(wallsecs({f.key.year, f.key.month, f.key.day, f.key.hour, 0, 0}), &lo_, &hi_);
  if (!repeats) lo_ = hi_ = 0;
  if (repeats && !strictdst_) split_ = secondpass(f, lo_, hi_);
  return split_;
}

void callreader::readfile(const hourfile& f, callsink& sink) {
  sink.beginfile(f);
  if (!in_.open(f.path)) return cannotopen(f, sink);
  prepare(f);
  readfrom(f, sink, 0, 0);
}

void callreader::readfrom(const hourfile& f, callsink& sink, int64_t offset, long before) {
  if ((offset > 0 || before > 0) && !in_.seek(offset, before))
    return sink.unreadable(f.path, errno);
  readcall rc;
  rc.file = &f;
  linereader::line& l = line_;
  while (in_.next(&l)) {
    if (l.toolong) {
      sink.bad(f, l.number, l.text, "line too long");
      continue;
    }
    // A line cut short is torn, whatever is left of it.
    const char* why = l.torn ? "torn line: no line feed at the end of the file"
                             : parsecall(l.text, yearof(f), &rc.call);
    if (why) {
      sink.bad(f, l.number, l.text, why);
      continue;
    }
    rc.line = l.number;
    rc.text = l.text;
    tzone::instant t = zone_.resolve(rc.call.end);
    rc.end = t.first;
    rc.endoffset = t.offfirst;
    rc.skipped = t.what == tzone::skipped;
    rc.ambiguous = false;
    if (t.what == tzone::repeated) {
      int64_t w = wallsecs(rc.call.end);
      bool provable = split_ > 0 && w >= lo_ && w < hi_;
      rc.ambiguous = !provable;
      if (provable && l.number >= split_) {
        rc.end = t.second;
        rc.endoffset = t.offsecond;
      }
    }
    sink.call(rc);
  }
  if (in_.error()) sink.unreadable(f.path, in_.error());
}
