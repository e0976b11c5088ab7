#include "sigwait.h"

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <ctime>

namespace {

volatile sig_atomic_t gotterm = 0;  // the number of the terminating signal
volatile sig_atomic_t gottoggle = 0;
volatile sig_atomic_t gotalarm = 0;

constexpr int notedsignals[] = {SIGINT, SIGTERM, SIGUSR1, SIGALRM};
// A file size limit must fail the write, which the store reports, rather
// than end the program silently with half a line written.
constexpr int ignoredsignals[] = {SIGCHLD, SIGHUP, SIGTRAP, SIGQUIT, SIGPIPE, SIGXFSZ};

sigset_t waitmask;  // the mask in force while waiting: the noted ones open
void (*servicefn)() = nullptr;

void noteterm(int sig) { gotterm = sig; }
void notetoggle(int) { gottoggle = 1; }
void notealarm(int) { gotalarm = 1; }

void setaction(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocking call returns EINTR
  sigaction(sig, &sa, nullptr);
}

// While it lives, SIGURG comes every 200 ms. It is blocked but for the
// calls that open the mask, and interrupts those when they block.
class opentick {
 public:
  opentick() {
    sigset_t urg;
    sigemptyset(&urg);
    sigaddset(&urg, SIGURG);
    sigprocmask(SIG_BLOCK, &urg, nullptr);
    setaction(SIGURG, [](int) {});
    sigevent ev{};
    ev.sigev_notify = SIGEV_SIGNAL;
    ev.sigev_signo = SIGURG;
    if (timer_create(CLOCK_MONOTONIC, &ev, &timer_) != 0) return;
    armed_ = true;
    const itimerspec every{{0, 200'000'000}, {0, 200'000'000}};
    timer_settime(timer_, 0, &every, nullptr);
  }
  ~opentick() {
    if (armed_) timer_delete(timer_);
    setaction(SIGURG, SIG_DFL);  // ignored by default: a pending one is dropped
    sigset_t urg;
    sigemptyset(&urg);
    sigaddset(&urg, SIGURG);
    sigprocmask(SIG_UNBLOCK, &urg, nullptr);
  }
  opentick(const opentick&) = delete;
  opentick& operator=(const opentick&) = delete;

 private:
  timer_t timer_{};
  bool armed_ = false;
};

bool anynoted() { return gotterm || gottoggle || gotalarm; }

void service() {
  if (anynoted() && servicefn) servicefn();
}

// ppoll delivers a pending signal only when it would sleep; one that came
// while the program was busy, or while the descriptor was ready, stays
// pending: let it in, then act on it.
void takepending() {
  sigset_t pending;
  if (sigpending(&pending) == 0) {
    for (int sig : notedsignals) {
      if (sigismember(&pending, sig)) {
        sigset_t saved;
        sigprocmask(SIG_SETMASK, &waitmask, &saved);
        sigprocmask(SIG_SETMASK, &saved, nullptr);
        break;
      }
    }
  }
  service();
}

}  // namespace

void installsignals() {
  for (int sig : ignoredsignals) setaction(sig, SIG_IGN);
  setaction(SIGINT, noteterm);
  setaction(SIGTERM, noteterm);
  setaction(SIGUSR1, notetoggle);
  setaction(SIGALRM, notealarm);

  sigset_t caught;
  sigemptyset(&caught);
  for (int sig : notedsignals) sigaddset(&caught, sig);
  sigprocmask(SIG_BLOCK, &caught, &waitmask);
  for (int sig : notedsignals) sigdelset(&waitmask, sig);
  sigdelset(&waitmask, SIGURG);  // the tick of waitopen()
}

void setsignalservice(void (*fn)()) { servicefn = fn; }

int takesignal(noted which) {
  volatile sig_atomic_t& flag = which == noted::terminate ? gotterm
                                : which == noted::toggle  ? gottoggle
                                                          : gotalarm;
  int sig = flag;
  flag = 0;
  if (!sig) return 0;
  return which == noted::toggle ? SIGUSR1 : which == noted::alarm ? SIGALRM : sig;
}

void waitfd(int fd, short events) {
  for (;;) {
    service();
    pollfd p{fd, events, 0};
    int n = ppoll(&p, 1, nullptr, &waitmask);
    if (n < 0 && errno == EINTR) continue;  // a handler ran: act on it first
    takepending();
    return;
  }
}

int waitopen(const char* path, int flags) {
  // A signal that comes after the mask opens but before open(2) starts to
  // block would wait for the open to end; a tick every so often makes the
  // open return so that the note is seen.
  opentick tick;
  for (;;) {
    service();
    sigset_t saved;
    sigprocmask(SIG_SETMASK, &waitmask, &saved);
    int fd = open(path, flags);
    int err = errno;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (fd >= 0 || err != EINTR) {
      errno = err;
      return fd;
    }
  }
}
