#include "loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "cdr/diag.h"

namespace {

bool samestate(const loadedfile& a, const loadedfile& b) {
  return a.hour == b.hour && a.base == b.base && a.bytes == b.bytes && a.lines == b.lines &&
         a.hash == b.hash && a.head == b.head && a.dev == b.dev && a.ino == b.ino &&
         a.born == b.born && a.size == b.size && a.mtime == b.mtime && a.split == b.split;
}

}  // namespace

// Takes the lines of one file read after its position: rows into the batch,
// the position moved past every whole line. Lines before `updatebelow`
// are loaded already: their rows get the times the file's repeated hour
// now gives them.
class loader::sink : public callsink {
 public:
  sink(loader& l, const hourfile& f, const std::string& rel, const std::optional<loadedfile>& was,
       const loadedfile& next)
      : l_(l), f_(f), rel_(rel), was_(was), next_(next) {}

  void call(const readcall& c) override {
    const linereader::line& line = l_.reader_.current();
    cdrrow r = rowof(c, l_.zone_, rel_, next_.base + line.offset);
    if (line.offset < updatebelow) return l_.db_.update(r);
    if (l_.prices) l_.prices->pricerow(c, l_.zone_, &r);
    l_.db_.add(r);
    advance(line);
    if (++l_.batch_ >= l_.batchrows) {
      // A file larger than a batch: what is read of it goes with this one,
      // with no size, since the file was not read to its end.
      loadedfile part = next_;
      part.size = -1;
      l_.claims_.push_back({was_, part});
      was_ = part;
      l_.flush();
      l_.db_.begin(l_.site_);
      l_.open_ = true;
    }
  }

  void bad(const hourfile& f, long number, std::string_view text, const char* why) override {
    const linereader::line& line = l_.reader_.current();
    if (line.torn || line.offset < updatebelow) return;  // a torn line waits for the rest
    warnbadline(f, number, text, why);
    ++l_.problems;
    advance(line);
  }

  void unreadable(const std::string& path, int err) override {
    warnx("%s: %s", path.c_str(), strerror(err));
    ++l_.problems;
  }
  void stray(const std::string& path, const char* what) override { l_.stray(path, what); }

  // The position reached, claimed with the batch when it moved.
  void done() {
    if (!was_ || !samestate(*was_, next_)) l_.claims_.push_back({was_, next_});
  }

  int64_t updatebelow = 0;

 private:
  void advance(const linereader::line& line) {
    if (!advancepast(&next_, l_.reader_.input().fd(), line))
      unreadable(f_.path, errno ? errno : EIO);
  }

  loader& l_;
  const hourfile& f_;
  const std::string& rel_;
  std::optional<loadedfile> was_;
  loadedfile next_;
};

// Takes the lines of a file that are loaded (before its position): their
// rows priced again.
class loader::repricer : public callsink {
 public:
  repricer(loader& l, const std::string& rel, const loadedfile& known)
      : l_(l), rel_(rel), known_(known) {}

  void call(const readcall& c) override {
    const linereader::line& line = l_.reader_.current();
    if (line.end > known_.bytes) return;  // not loaded yet
    cdrrow r = rowof(c, l_.zone_, rel_, known_.base + line.offset);
    l_.prices->pricerow(c, l_.zone_, &r);
    if (l_.db_.reprice(r, l_.prices->priced(), l_.prices->listed()))
      ++l_.rows;
    else
      ++l_.missing;
  }
  void bad(const hourfile&, long, std::string_view, const char*) override {}  // named at loading
  void unreadable(const std::string& path, int err) override {
    warnx("%s: %s", path.c_str(), strerror(err));
    ++l_.problems;
  }
  void stray(const std::string& path, const char* what) override { l_.stray(path, what); }

 private:
  loader& l_;
  const std::string& rel_;
  const loadedfile& known_;
};

loader::loader(database& db, const std::string& root, const std::string& site, tzone& zone,
               bool strictdst)
    : db_(db), root_(root), site_(site), zone_(zone), reader_(zone, strictdst), known_(db, site_) {}

void loader::event(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  if (stamped)
    stampedwarnx("%s", text.c_str());
  else
    warnx("%s", text.c_str());
}

void loader::forget() {
  if (open_) db_.rollback();
  open_ = false;
  batch_ = 0;
  claims_.clear();
  known_.clear();
}

void loader::flush() {
  if (!open_) return;
  bool held = true;
  for (const claim& c : claims_)
    if (!(held = db_.claim(c.was ? &*c.was : nullptr, c.now))) break;
  if (!held || !db_.commit()) {
    forget();
    throw dberror("the positions of site " + site_ +
                      " changed under this loader: does another load the same site?",
                  true);
  }
  open_ = false;
  rows += batch_;
  batch_ = 0;
  for (const claim& c : claims_) known_.put(c.now);
  claims_.clear();
}

void loader::finding(const std::string& path, const char* what) {
  ++findings;
  if (named_.insert(path).second)
    event("%s: %s: nothing more is loaded from it until that is resolved (see pktav-cdr(1))",
          path.c_str(), what);
}

void loader::leftasis(const std::string& path, const char* what) {
  ++findings;
  event("%s: %s: its rows are not priced again", path.c_str(), what);
}

void loader::stray(const std::string& path, const char* what) {
  ++problems;
  if (named_.insert(path).second) event("%s: %s; not read", path.c_str(), what);
}

void loader::pass(const hourkey& lo, const hourkey& hi, const volatile sig_atomic_t* stop) {
  try {
    walkstore(
        root_, lo, hi,
        [&](const hourfile& f) {
          if (!stop || !*stop) visit(f);
        },
        [&](const std::string& path, int err) {
          warnx("%s: %s", path.c_str(), strerror(err));
          ++problems;
        },
        [&](const std::string& path, const char* what) { stray(path, what); });
    flush();
  } catch (...) {
    forget();
    throw;
  }
}

void loader::reprice(const hourkey& lo, const hourkey& hi) {
  try {
    db_.begin(site_);
    open_ = true;
    walkstore(
        root_, lo, hi, [&](const hourfile& f) { revisit(f); },
        [&](const std::string& path, int err) {
          warnx("%s: %s", path.c_str(), strerror(err));
          ++problems;
        },
        [&](const std::string& path, const char* what) { stray(path, what); });
    db_.commit();
    open_ = false;
  } catch (...) {
    forget();
    throw;
  }
}

void loader::revisit(const hourfile& f) {
  if (f.key.hour < 0) return;
  std::string rel = f.path.substr(root_.size() + 1);
  const loadedfile* known = known_.find(rel, hournumber(f.key));
  if (!known) return;  // nothing of it is loaded
  linereader& in = reader_.input();
  filestatus st;
  if (!in.open(f.path) && in.irregular()) return stray(f.path, notregular(in.irregular()));
  if (in.fd() < 0 || !statusof(in.fd(), &st)) {
    warn("%s", f.path.c_str());
    ++problems;
    return;
  }
  loadedfile next = freshfile(rel, known->hour);
  switch (verdict v = checkfile(in.fd(), st, *known, &next)) {
    case verdict::unchanged:
    case verdict::grown: break;
    case verdict::unreadable:
      warn("%s", f.path.c_str());
      ++problems;
      return;
    case verdict::madeagain: return leftasis(f.path, "made again since it was loaded: load it first");
    default: return leftasis(f.path, verdicttext(v));
  }
  reader_.prepare(f);
  repricer s(*this, rel, *known);
  reader_.readfrom(f, s, 0, 0);
}

void loader::visit(const hourfile& f) {
  if (f.key.hour < 0) return;
  std::string rel = f.path.substr(root_.size() + 1);
  int64_t hour = hournumber(f.key);
  const loadedfile* known = known_.find(rel, hour);
  filestatus st;
  if (!statusat(f.path, &st)) {
    if (errno != ENOENT) {  // gone since the directory was read: nothing to load
      warn("%s", f.path.c_str());
      ++problems;
    }
    return;
  }
  if (known && unchanged(st, *known)) return;
  linereader& in = reader_.input();
  if (!in.open(f.path) && in.irregular()) return stray(f.path, notregular(in.irregular()));
  if (in.fd() < 0 || !statusof(in.fd(), &st)) {
    warn("%s", f.path.c_str());
    ++problems;
    return;
  }
  std::optional<loadedfile> was;
  loadedfile next = freshfile(rel, hour);
  if (known) {
    was = *known;
    switch (checkfile(in.fd(), st, *known, &next)) {
      case verdict::unchanged: return;
      case verdict::grown: break;
      case verdict::madeagain:
        event("%s was made again: loading it from its start (the rows of the earlier file, "
              "at offsets below %lld, stay)",
              f.path.c_str(), static_cast<long long>(next.base));
        break;
      case verdict::unreadable:
        warn("%s", f.path.c_str());
        ++problems;
        return;
      case verdict::truncated: return finding(f.path, verdicttext(verdict::truncated));
      case verdict::edited: return finding(f.path, verdicttext(verdict::edited));
      case verdict::replaced: return finding(f.path, verdicttext(verdict::replaced));
    }
  }
  takestatus(st, &next);
  readnew(f, rel, was, next);
}

void loader::readnew(const hourfile& f, const std::string& rel,
                     const std::optional<loadedfile>& was, loadedfile next) {
  if (!open_) {
    db_.begin(site_);
    open_ = true;
  }
  long split = reader_.prepare(f);
  int64_t from = next.bytes;
  long before = next.lines;
  bool resplit = split != next.split && next.bytes > 0;
  next.split = split;
  sink s(*this, f, rel, was, next);
  if (resplit) {
    s.updatebelow = from;
    from = 0;
    before = 0;
  }
  reader_.readfrom(f, s, from, before);
  s.done();
  if (batch_ >= batchrows || claims_.size() >= batchfiles) flush();
}
