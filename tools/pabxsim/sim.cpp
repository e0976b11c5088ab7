#include "tools/pabxsim/sim.h"

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>

#include "tools/common/diag.h"
#include "tools/common/signals.h"
#include "tools/pabxsim/callslist.h"
#include "tools/pabxsim/expect.h"
#include "tools/pabxsim/links.h"
#include "tools/pabxsim/records.h"

const char* const progname = "pabxsim";

namespace {

using clk = std::chrono::steady_clock;

char kindletter(recformat f, callkind k) {
  if (f == recformat::md110)
    return k == callkind::incoming ? 'I' : k == callkind::transit ? 'T' : 'O';
  return k == callkind::incoming ? 'E' : k == callkind::third ? 'B' : 'A';
}

struct tally {
  uint64_t records = 0, whole = 0, cut = 0, damaged = 0, replayed = 0, lost = 0, drops = 0;
  uint64_t bytes = 0;
};

class sender {
 public:
  sender(const simoptions& o, simlink& link, FILE* list)
      : o_(o),
        link_(link),
        list_(list),
        model_(o.gen.format,
               [this](size_t row, const std::string& line) { list_.settle(row, line); }) {}

  int run();

 private:
  bool stream();
  bool sendrecord(const simcall& c, const char* status);
  bool cutrecord(const simcall& c);
  bool put(const std::string& bytes);
  bool recover();
  void pace();

  const simoptions& o_;
  simlink& link_;
  callslist list_;
  storemodel model_;
  tally t_;
  std::deque<simcall> recent_;  // the latest records, for a replay
  clk::time_point began_ = clk::now();
};

// Sends a record whole and lists it with the line it becomes.
bool sender::sendrecord(const simcall& c, const char* status) {
  std::string bytes = recordbytes(o_.gen.format, c);
  expectedcall e;
  bool decodes = decodeview(o_.gen.format, c, time(nullptr), &e);
  if (!put(bytes)) {
    list_.add(c.seq, "lost", kindletter(o_.gen.format, c.kind), false);
    ++t_.lost;
    return false;
  }
  if (!decodes) {
    // A replayed damaged record is listed as replayed, with no line.
    bool first = std::strcmp(status, "sent") == 0;
    list_.add(c.seq, first ? "damaged" : status, kindletter(o_.gen.format, c.kind), false);
    t_.damaged += first;
    return true;
  }
  size_t row = list_.add(c.seq, status, kindletter(o_.gen.format, c.kind), true);
  model_.add(e, row);
  return true;
}

// Sends the first half of a record; what reaches the reader is noise to it.
bool sender::cutrecord(const simcall& c) {
  std::string bytes = recordbytes(o_.gen.format, c);
  bool sent = put(bytes.substr(0, bytes.size() / 2));
  list_.add(c.seq, sent ? "cut" : "lost", kindletter(o_.gen.format, c.kind), false);
  ++(sent ? t_.cut : t_.lost);
  return sent;
}

bool sender::put(const std::string& bytes) {
  if (!link_.send(bytes)) return false;
  t_.bytes += bytes.size();
  return true;
}

// After the peer went away on its own: the next link. Not after a signal,
// which ends the run.
bool sender::recover() {
  if (*signalnoted()) return false;
  link_.drop(false);
  if (!link_.up()) return false;
  ++t_.drops;
  return true;
}

void sender::pace() {
  if (o_.rate <= 0) return;
  auto due = began_ + std::chrono::duration_cast<clk::duration>(
                          std::chrono::duration<double>(static_cast<double>(t_.records) / o_.rate));
  pausefor(std::chrono::duration<double>(due - clk::now()).count());
}

// Sends the stream; false when the output failed for good or a signal
// came.
bool sender::stream() {
  callgen gen(o_.gen);
  while ((o_.count == 0 || t_.records < o_.count) && !*signalnoted()) {
    streamitem item = gen.next();
    if (item.isnoise) {
      if (!put(item.noise) && !recover()) return false;
      continue;
    }
    const simcall& c = item.call;
    ++t_.records;
    bool last = o_.count != 0 && t_.records == o_.count;
    bool dropnow = o_.dropevery && t_.records % o_.dropevery == 0 && !last;
    if (dropnow) ++t_.drops;
    bool cut = dropnow && o_.cutevery && t_.drops % o_.cutevery == 0;
    bool ok = cut ? cutrecord(c) : sendrecord(c, "sent");
    if (!cut && ok) ++t_.whole;
    recent_.push_back(c);
    if (recent_.size() > o_.replay) recent_.pop_front();
    if (!ok) {
      if (!recover()) return false;
    } else if (dropnow) {
      link_.drop(o_.resetevery && t_.drops % o_.resetevery == 0);
      if (!link_.up()) return false;
      for (const simcall& r : recent_) {
        if (!sendrecord(r, "replayed") && !recover()) return false;
        ++t_.replayed;
      }
    }
    if (o_.silenceevery && t_.records % o_.silenceevery == 0 && !last) pausefor(o_.silence);
    pace();
  }
  return !*signalnoted();
}

int sender::run() {
  if (!link_.up()) return simfailed;
  bool streamed = stream();
  // Whatever ended the stream, the list holds every record written, with
  // the line the packer makes of it at its end.
  model_.flush();
  bool listed = list_.finish();
  int listerr = errno;
  link_.drop(false);
  warnx(
      "%llu records: %llu sent whole (%llu of them damaged), %llu cut, %llu "
      "replayed, %llu lost; %llu drops, %llu bytes",
      static_cast<unsigned long long>(t_.records), static_cast<unsigned long long>(t_.whole),
      static_cast<unsigned long long>(t_.damaged), static_cast<unsigned long long>(t_.cut),
      static_cast<unsigned long long>(t_.replayed), static_cast<unsigned long long>(t_.lost),
      static_cast<unsigned long long>(t_.drops), static_cast<unsigned long long>(t_.bytes));
  if (!listed) {
    errno = listerr;
    warn("%s", o_.callsfile.c_str());
  }
  return streamed && listed ? simok : simfailed;
}

std::unique_ptr<simlink> openlink(const simoptions& o) {
  switch (o.where) {
    case simoptions::listen: return tcpserverlink(o.target);
    case simoptions::connect: return tcpclientlink(o.target);
    case simoptions::pty: return ptylink(o.target);
    case simoptions::file: break;
  }
  return filelink(o.target);
}

}  // namespace

int simulate(const simoptions& o) {
  signal(SIGPIPE, SIG_IGN);  // a peer gone away is an error of the write
  // These end the run, with the list of calls written to its end first.
  notesignals({SIGTERM, SIGINT, SIGHUP});
  FILE* list = nullptr;
  if (!o.callsfile.empty() && !(list = fopen(o.callsfile.c_str(), "w"))) {
    warn("%s", o.callsfile.c_str());
    return simfailed;
  }
  int rc = simfailed;
  if (std::unique_ptr<simlink> link = openlink(o)) rc = sender(o, *link, list).run();
  if (list && fclose(list) != 0 && rc == simok) {
    warn("%s", o.callsfile.c_str());
    rc = simfailed;
  }
  if (int sig = takesignal()) {
    // Ended by the signal, as without a handler.
    signal(sig, SIG_DFL);
    raise(sig);
  }
  return rc;
}
