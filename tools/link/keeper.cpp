#include "tools/link/keeper.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/common/address.h"
#include "tools/common/diag.h"
#include "tools/common/spawn.h"
#include "tools/link/child.h"
#include "tools/link/linksignals.h"
#include "tools/link/tcp.h"

const char* const progname = "pktav-link";

namespace {

constexpr int connectseconds = 30;  // a connection still pending then is given up

std::string seconds(double s) {
  char text[32];
  snprintf(text, sizeof text, "%g s", s);
  return text;
}

bool sameaddress(const sockaddr* a, const sockaddr* b) {
  return peername(a, false) == peername(b, false);
}

}  // namespace

keeper::keeper(const linkoptions& o)
    : o_(o),
      relay_(o.endbyte),
      backoff_(o.retrymin, o.retrymax),
      serial_(o.line),
      metrics_(o.metrics) {}

int keeper::run() {
  installlinksignals(&original_);
  // A run that cannot start says so in the file too: no link, none made.
  metrics_.update([this] { return linkexposition(stats_, o_.site); }, true);
  if (o_.source.kind == linksource::listen) {
    std::string why;
    listener_ = openlistener(o_.source.net, true, &why);
    if (listener_ < 0) {
      stampedwarnx("%s", why.c_str());
      return linkfailed;
    }
    stampedwarnx("listening on %s", localname(listener_).c_str());
  }
  // SIGUSR1 and SIGALRM would end a program that has not set its handlers
  // up yet; it starts with them blocked, as pktav keeps them outside its
  // wait anyway, so that one passed on too early waits for it.
  sigset_t childmask = original_;
  sigaddset(&childmask, SIGUSR1);
  sigaddset(&childmask, SIGALRM);
  int err = 0;
  child_ = startprogram(o_.program, childmask, &feed_, &err);
  if (child_ < 0) {
    stampedwarnx("cannot run %s: %s", o_.program[0].c_str(), strerror(err));
    return err == ENOENT ? programmissing : cannotrun;
  }
  stampedwarnx("started %s, process %d", o_.program[0].c_str(), static_cast<int>(child_));
  due_ = clock::now();
  loop();
}

void keeper::loop() {
  for (;;) {
    pollfd fds[4];
    nfds_t n = 0;
    int feedat = -1, linkat = -1, listenat = -1, watchat = -1;
    // Moves what the program has not taken yet to the front: a relay full to
    // its last byte, the end of it a record still held back, must make room
    // for the rest of that record once the program has taken the others.
    relay_.space();
    if (feed_ >= 0 && relay_.ready()) {
      feedat = static_cast<int>(n);
      fds[n++] = {feed_, POLLOUT, 0};
    }
    if (fd_ >= 0 && (state_ == connecting || relay_.room() > 0)) {
      linkat = static_cast<int>(n);
      fds[n++] = {fd_, static_cast<short>(state_ == connecting ? POLLOUT : POLLIN), 0};
    }
    if (listener_ >= 0 && !stopping_ && pending_.fd < 0) {
      listenat = static_cast<int>(n);
      fds[n++] = {listener_, POLLIN, 0};
    }
    if (state_ == idle && watch_.fd() >= 0) {
      watchat = static_cast<int>(n);
      fds[n++] = {watch_.fd(), POLLIN, 0};
    }
    waitforevents(fds, n, timeout());
    signals();
    if (feedat >= 0 && fds[feedat].revents) feed();
    passend();
    if (linkat >= 0 && fds[linkat].revents && fd_ == fds[linkat].fd)
      state_ == connecting ? connected() : readlink();
    // A dead link never becomes readable: read it out without waiting.
    if (pending_.fd >= 0 && relay_.room() > 0) readlink();
    if (listenat >= 0 && (fds[listenat].revents & POLLIN)) accept();
    // The device is back: no need to wait for the next attempt.
    if (watchat >= 0 && fds[watchat].revents && watch_.changed()) due_ = clock::now();
    metrics_.update([this] { return linkexposition(stats_, o_.site); });
    if (stopping_ || listener_ >= 0 || state_ == ended || clock::now() < due_) continue;
    if (state_ == idle) {
      attempt();
    } else if (state_ == connecting) {
      close(fd_);
      fd_ = -1;
      state_ = idle;
      retry("connect to " + peer_ + ": no answer in " + seconds(connectseconds));
    }
  }
}

// Milliseconds until the next attempt, the connect deadline or the
// metrics file's next write; -1: none.
int keeper::timeout() const {
  int link = linktimeout(), metrics = metrics_.timeout(clock::now());
  return link < 0 ? metrics : metrics < 0 ? link : std::min(link, metrics);
}

int keeper::linktimeout() const {
  if (stopping_ || listener_ >= 0 || state_ == linked || state_ == ended) return -1;
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(due_ - clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left + 1);
}

void keeper::attempt() {
  std::string why, note;
  if (o_.source.kind == linksource::device) {
    int fd = serial_.open(o_.source.path, &note, &why);
    if (fd < 0) {
      watch_.watch(o_.source.path);
      return retry(why);
    }
    struct stat st {};
    file_ = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    return up(fd, o_.source.path, note);
  }
  fd_ = startconnect(o_.source, &peer_, &why);
  if (fd_ < 0) return retry(why);
  state_ = connecting;
  due_ = clock::now() + std::chrono::seconds(connectseconds);
}

void keeper::connected() {
  int err = connectresult(fd_);
  if (err == 0) {
    keepalive(fd_, o_.deadafter);
    int fd = fd_;
    fd_ = -1;
    return up(fd, peer_, "");
  }
  close(fd_);
  fd_ = -1;
  state_ = idle;
  retry("connect to " + peer_ + ": " + strerror(err));
}

void keeper::accept() {
  sockaddr_storage peer{};
  socklen_t len = sizeof peer;
  int fd =
      accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  const sockaddr* sa = reinterpret_cast<const sockaddr*>(&peer);
  std::string name = peername(sa);
  if (!o_.allow.allows(sa)) {
    stampedwarnx("refused peer %s: not allowed", name.c_str());
    close(fd);
    return;
  }
  if (state_ == linked) {
    // The exchange calling again means its old connection is dead, even if
    // this end has not noticed yet; so does a peer silent for long, which
    // would keep the exchange out for ever. Anyone else waits for their turn.
    std::string why;
    auto silent = std::chrono::duration_cast<std::chrono::seconds>(clock::now() - lastbyte_);
    dropcause cause = dropcause::replaced;
    if (sameaddress(sa, reinterpret_cast<const sockaddr*>(&peeraddr_))) {
      why = "replaced by a new connection from the same peer";
    } else if (silent.count() >= o_.giveway) {
      why = "silent for " + std::to_string(silent.count()) + " s, gave way to " + name;
      cause = dropcause::silent;
    } else {
      stampedwarnx("refused peer %s: busy with %s", name.c_str(), peer_.c_str());
      close(fd);
      return;
    }
    // What it sent before it hung up may still wait in the old connection,
    // behind a program slow to take it: that is read first.
    pending_ = {fd, name, peer, why, cause};
    return readlink();
  }
  takeup(fd, name, peer);
}

void keeper::takeup(int fd, const std::string& name, const sockaddr_storage& addr) {
  peeraddr_ = addr;
  keepalive(fd, o_.deadafter);
  up(fd, name, "");
}

void keeper::up(int fd, const std::string& peer, const std::string& note) {
  fd_ = fd;
  peer_ = peer;
  state_ = linked;
  carried_ = 0;
  lastbyte_ = clock::now();
  watch_.stop();
  stats_.up = true;
  ++stats_.connections;
  metrics_.changed();
  stampedwarnx("link up: %s%s%s", peer.c_str(), note.empty() ? "" : ", ", note.c_str());
}

void keeper::down(dropcause cause, const std::string& reason) {
  close(fd_);
  fd_ = -1;
  state_ = idle;
  stats_.up = false;
  ++stats_.drops[static_cast<int>(cause)];
  metrics_.changed();
  size_t cut = relay_.cutshort();
  std::string dropped;
  if (cut) dropped = format("; %zu bytes of a record cut short dropped", cut);
  // The program is ending: what it has not taken it may never take, and
  // is not counted as carried.
  uint64_t waiting = stopping_ ? std::min<uint64_t>(untaken(), carried_) : 0;
  std::string left;
  if (waiting)
    left = format(" (%llu more read, which the program has not taken)",
                  static_cast<unsigned long long>(waiting));
  stampedwarnx("link down: %s, %llu bytes carried%s%s", reason.c_str(),
               static_cast<unsigned long long>(carried_ - waiting), left.c_str(), dropped.c_str());
  if (o_.source.kind == linksource::device && !stopping_) watch_.watch(o_.source.path);
  if (pending_.fd >= 0) {
    caller next = pending_;
    pending_ = caller{};
    return takeup(next.fd, next.name, next.addr);
  }
  if (listener_ < 0 && !stopping_) retry("");
}

void keeper::retry(const std::string& why) {
  double wait = backoff_.next();
  due_ = clock::now() +
         std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(wait));
  stampedwarnx("%s%swaiting %s to retry", why.c_str(), why.empty() ? "" : "; ",
               seconds(wait).c_str());
}

void keeper::readlink() {
  for (;;) {
    char* at = relay_.space();  // makes room first
    // Full: the program must take some first (a read of 0 bytes would look
    // like the end of the link).
    if (relay_.room() == 0) return;
    ssize_t n = read(fd_, at, relay_.room());
    if (n > 0) {
      carried_ += static_cast<uint64_t>(n);
      lastbyte_ = clock::now();
      stats_.bytes += static_cast<uint64_t>(n);
      stats_.lastbyte =
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
              .count();
      relay_.commit(static_cast<size_t>(n));
      backoff_.reset();  // a link that carries bytes is a good one
      feed();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // Read out: the old connection of an exchange that called again.
      if (pending_.fd >= 0) down(pending_.cause, pending_.why);
      return;
    }
    if (n == 0 && file_) return endoffile();
    bool device = o_.source.kind == linksource::device;
    int err = n == 0 ? 0 : errno;
    const char* gone = device ? "the device hung up" : "closed by the peer";
    return down(readdrop(device, err), err == 0 ? gone : strerror(err));
  }
}

// A file is read once: its end is passed on as the end of the program's
// input, and the program's end is the keeper's, as if it had read the file.
void keeper::endoffile() {
  close(fd_);
  fd_ = -1;
  state_ = ended;
  stats_.up = false;
  metrics_.changed();
  relay_.releaseheld();  // the end of the file ends its last record
  stampedwarnx("end of %s, %llu bytes carried: the program's input ends there",
               o_.source.path.c_str(), static_cast<unsigned long long>(carried_));
  feed();
  passend();
}

// Closes the program's input once everything of a file read to its end
// has gone into it.
void keeper::passend() {
  if (state_ != ended || feed_ < 0 || relay_.ready()) return;
  close(feed_);
  feed_ = -1;
}

// Bytes read that the program has not taken: in the relay, and in the pipe.
uint64_t keeper::untaken() const {
  int inpipe = 0;
  if (feed_ < 0 || ioctl(feed_, FIONREAD, &inpipe) != 0) inpipe = 0;
  return relay_.pending() + static_cast<uint64_t>(inpipe);
}

void keeper::feed() {
  if (feed_ < 0 || relay_.giveto(feed_)) return;
  // The program closed its standard input: nothing more can reach it.
  stampedwarnx("the program takes no more input: %s", strerror(errno));
  close(feed_);
  feed_ = -1;
  relay_.clear();
}

void keeper::signals() {
  for (int sig; (sig = takesignal()) != 0;) {
    if (sig == SIGCHLD) {
      int status = 0;
      pid_t r = waitpid(child_, &status, WNOHANG);
      if (r == child_) end(status);
      continue;
    }
    kill(child_, sig);
    if (sig == SIGTERM || sig == SIGINT) stop(sig);
  }
}

// The program writes its held calls and ends; no new link meanwhile.
void keeper::stop(int sig) {
  if (stopping_) return;
  stopping_ = true;
  stampedwarnx("%s: passed on to the program, waiting for its end", strsignal(sig));
}

void keeper::end(int status) {
  std::string lost;
  if (uint64_t left = untaken())
    lost =
        format("; it never took the last %llu bytes read", static_cast<unsigned long long>(left));
  stampedwarnx("%s %s%s", o_.program[0].c_str(), describestatus(status).c_str(), lost.c_str());
  stats_.up = false;  // no link outlives the keeper
  metrics_.update([this] { return linkexposition(stats_, o_.site); }, true);
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(sig);
    exit(128 + sig);
  }
  exit(WIFEXITED(status) ? WEXITSTATUS(status) : linkfailed);
}
