#include "watchfollow.h"

#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "cdr/alarmhook.h"
#include "cdr/diag.h"
#include "cdr/exits.h"
#include "cdr/loadedfile.h"
#include "cdr/positions.h"
#include "cdr/storefollow.h"
#include "cdr/watchmetrics.h"
#include "tools/common/metricsfile.h"
#include "tools/common/replacefile.h"
#include "tools/common/signals.h"

namespace {

// Positions are kept for the files written within this long; an hour file
// older than those let go is not read again.
constexpr int64_t keepfor = 2 * 86400;
// The clock moves on at least this often, for the silences.
constexpr int wakems = 5000;
constexpr const char* statehead = "pktav-cdr watch state 1";

class watchfollower : public alarmsink {
 public:
  watchfollower(const cdroptions& o, tzone& zone, const selection& sel, const pricing& prices,
                const watchrules& rules)
      : o_(o),
        sel_(sel),
        rules_(rules),
        hook_(out_, zone, o.json, o.exec, static_cast<int>(o.exectimeout)),
        watch_(rules, prices, zone, *this),
        reader_(zone, o.strictdst),
        root_(o.inputs[0]),
        store_(root_, zone, sel.from ? sel.firstfile(zone) : firsthour, lasthour),
        metrics_(o.metrics) {
    counts_.raised.resize(rules.rules().size());
  }
  int run();
  void take(const watchalarm& a) override;

 private:
  class filesink;
  int loadstate();  // 1: loaded, 0: none yet, -1: trouble
  void savestate();
  void pass();
  void visit(const hourfile& f);
  void letgo();
  void handed();
  void once(const std::string& path, const char* what);
  void showmetrics(bool now);

  const cdroptions& o_;
  const selection& sel_;
  outbuf out_{STDOUT_FILENO};
  const watchrules& rules_;
  alarmhook hook_;
  alarmwatch watch_;
  callreader reader_;
  std::string root_;
  storefollower store_;
  std::map<std::string, loadedfile> files_;  // positions, by the path in the store
  int64_t floor_ = 0;      // an hour file of this hour or before, without a position, is let be
  bool quiet_ = false;     // alarms are not handed over: the calls stored before a first start
  uint64_t pending_ = 0;   // alarms handed over since the state was saved
  bool moved_ = false;     // positions moved since the state was saved
  std::string failing_;    // why the state cannot be saved, told once
  std::set<std::string> named_;
  metricsfile metrics_;
  watchcounts counts_;
  int code_ = exit_ok;
};

// Takes the lines of a file after its position, moving the position past
// each whole line, and each call the selection takes to the rules.
class watchfollower::filesink : public callsink {
 public:
  filesink(watchfollower& w, loadedfile& pos) : w_(w), pos_(pos) {}
  void call(const readcall& c) override {
    if (!advance()) return;
    if (!w_.sel_.matches(c)) return;
    ++w_.counts_.calls;
    w_.counts_.lastcall = std::max(w_.counts_.lastcall, c.end);
    w_.metrics_.changed();
    w_.watch_.call(c);
    w_.handed();
  }
  void bad(const hourfile& f, long line, std::string_view text, const char* why) override {
    if (w_.reader_.current().torn) return;  // waits for the rest
    warnbadline(f, line, text, why);
    advance();
  }
  void unreadable(const std::string& path, int err) override {
    stampedwarnx("%s: %s", path.c_str(), strerror(err));
  }
  void stray(const std::string& path, const char* what) override { w_.once(path, what); }

 private:
  bool advance() {
    w_.moved_ = true;
    if (advancepast(&pos_, w_.reader_.input().fd(), w_.reader_.current())) return true;
    unreadable(pos_.file, errno ? errno : EIO);
    return false;
  }
  watchfollower& w_;
  loadedfile& pos_;
};

void watchfollower::once(const std::string& path, const char* what) {
  if (named_.insert(path).second) stampedwarnx("%s: %s; not read", path.c_str(), what);
}

void watchfollower::take(const watchalarm& a) {
  if (quiet_) return;
  hook_.take(a);
  ++pending_;
  if (a.state == alarmstate::raised) ++counts_.raised[static_cast<size_t>(a.rule - rules_.rules().data())];
}

// The alarms of a call or of the clock are out: the state that follows
// them saved, then their commands run.
void watchfollower::handed() {
  if (!pending_) return;
  if (!hook_.flush()) code_ = exit_trouble;
  savestate();
  metrics_.changed();
  hook_.run();
}

void watchfollower::showmetrics(bool now) {
  counts_.active.resize(rules_.rules().size());
  for (size_t i = 0; i < counts_.active.size(); ++i) counts_.active[i] = watch_.active(i);
  metrics_.update([&] { return watchexposition(counts_, rules_, o_.site); }, now);
}

void watchfollower::savestate() {
  pending_ = 0;
  moved_ = false;
  if (o_.state.empty()) return;
  std::string s = std::string(statehead) + "\nfloor " + std::to_string(floor_) + "\n";
  char buf[400];
  for (const auto& [rel, f] : files_) {
    snprintf(buf, sizeof buf,
             "file %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRIu64 " %" PRIu64
             " %" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64 " %" PRId64 " %" PRId64 " ",
             f.hour, f.base, f.bytes, f.lines, f.hash, f.head, f.dev, f.ino, f.born, f.size,
             f.mtime, f.split);
    s += buf + rel + "\n";
  }
  s += "rules\n" + watch_.save();
  std::string why;
  if (replacefile(o_.state, s, 0644, true, &why)) {
    if (!failing_.empty()) stampedwarnx("%s written again", o_.state.c_str());
    failing_.clear();
  } else if (why != failing_) {
    stampedwarnx("cannot keep the state: %s", why.c_str());
    failing_ = why;
  }
}

int watchfollower::loadstate() {
  if (o_.state.empty()) return 0;
  std::ifstream in(o_.state);
  if (!in) {
    if (errno == ENOENT) return 0;
    stampedwarnx("%s: %s", o_.state.c_str(), strerror(errno));
    return -1;
  }
  std::string line, why;
  long number = 1;
  bool good = std::getline(in, line) && line == statehead;
  while (good && std::getline(in, line) && line != "rules") {
    ++number;
    std::istringstream words(line);
    std::string what;
    words >> what;
    if (what == "floor") {
      good = static_cast<bool>(words >> floor_);
      continue;
    }
    loadedfile f;
    good = what == "file" && words >> f.hour >> f.base >> f.bytes >> f.lines >> f.hash >> f.head >>
                                 f.dev >> f.ino >> f.born >> f.size >> f.mtime >> f.split &&
           words.get() == ' ' && std::getline(words, f.file) && !f.file.empty();
    if (good) files_[f.file] = f;
  }
  if (good && line == "rules") {
    std::stringstream rest;
    rest << in.rdbuf();
    if (watch_.restore(rest.str(), &why)) return 1;
    stampedwarnx("%s: after line %ld, %s", o_.state.c_str(), number + 1, why.c_str());
    return -1;
  }
  stampedwarnx("%s:%ld: not the state of pktav-cdr watch; move it away to begin again",
               o_.state.c_str(), number);
  return -1;
}

void watchfollower::visit(const hourfile& f) {
  if (f.key.hour < 0 || *signalnoted() || code_ != exit_ok) return;
  std::string rel = f.path.substr(root_.size() + 1);
  int64_t hour = hournumber(f.key);
  auto known = files_.find(rel);
  if (known == files_.end() && hour <= floor_) return;
  filestatus st;
  if (!statusat(f.path, &st)) {
    if (errno != ENOENT) stampedwarnx("%s: %s", f.path.c_str(), strerror(errno));
    return;
  }
  if (known != files_.end() && unchanged(st, known->second)) return;
  linereader& in = reader_.input();
  if (!in.open(f.path) && in.irregular()) return once(f.path, notregular(in.irregular()));
  if (in.fd() < 0 || !statusof(in.fd(), &st))
    return stampedwarnx("%s: %s", f.path.c_str(), strerror(errno));
  loadedfile next = freshfile(rel, hour);
  if (known != files_.end()) {
    switch (verdict v = checkfile(in.fd(), st, known->second, &next)) {
      case verdict::unchanged: return;
      case verdict::grown: break;
      case verdict::madeagain:
        stampedwarnx("%s was made again: reading it from its start", f.path.c_str());
        break;
      case verdict::unreadable: return stampedwarnx("%s: %s", f.path.c_str(), strerror(errno));
      default:
        if (named_.insert(f.path).second)
          stampedwarnx("%s: %s: nothing more is read from it", f.path.c_str(), verdicttext(v));
        return;
    }
  }
  takestatus(st, &next);
  next.split = reader_.prepare(f);
  // Until the file is read to its end, a state saved (after an alarm) holds
  // its position with no size: a watch started again from it reads on,
  // however the file looks by then, as the size it had now is not read.
  int64_t size = next.size;
  next.size = -1;
  loadedfile& pos = files_[rel] = next;
  filesink s(*this, pos);
  reader_.readfrom(f, s, next.bytes, next.lines);
  pos.size = size;
}

// The positions of files not written for a while let go.
void watchfollower::letgo() {
  int64_t before = (static_cast<int64_t>(time(nullptr)) - keepfor) * 1000000000;
  for (auto it = files_.begin(); it != files_.end();) {
    if (it->second.mtime < before) {
      floor_ = std::max(floor_, it->second.hour);
      it = files_.erase(it);
      moved_ = true;
    } else {
      ++it;
    }
  }
}

void watchfollower::pass() {
  for (const hourrange& r : store_.due())
    walkstore(
        root_, r.lo, r.hi, [&](const hourfile& f) { visit(f); },
        [&](const std::string& path, int err) {
          stampedwarnx("%s: %s", path.c_str(), strerror(err));
        },
        [&](const std::string& path, const char* what) { once(path, what); });
  letgo();
  time_t now = time(nullptr);
  // A first start: the silences that saw no call count from now.
  if (quiet_) watch_.start(now);
  watch_.clock(now);
  handed();
  quiet_ = false;
  if (moved_) savestate();
  showmetrics(false);
}

int watchfollower::run() {
  switch (loadstate()) {
    case -1: return exit_trouble;
    case 0:
      if (sel_.from)
        watch_.start(*sel_.from);
      else
        quiet_ = true;
      break;
    default: break;
  }
  if (!store_.begin()) return exit_ok;
  stampedwarnx("watching %s", root_.c_str());
  while (code_ == exit_ok && !*signalnoted()) {
    pass();
    int ms = metrics_.timeout(std::chrono::steady_clock::now());
    if (!store_.wait(ms < 0 ? wakems : std::min(wakems, ms))) break;
  }
  showmetrics(true);
  if (code_ == exit_ok && !hook_.flush()) code_ = exit_trouble;
  return code_;
}

}  // namespace

int followwatch(const cdroptions& o, tzone& zone, const selection& sel, const pricing& prices,
                const watchrules& rules) {
  notesignals({SIGTERM, SIGINT, SIGHUP});
  return watchfollower(o, zone, sel, prices, rules).run();
}
