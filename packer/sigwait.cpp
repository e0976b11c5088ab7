#include "sigwait.h"

#include <poll.h>

#include <cerrno>
#include <ctime>

volatile sig_atomic_t gotterm = 0;
volatile sig_atomic_t gottoggle = 0;
volatile sig_atomic_t gotalarm = 0;

namespace {

constexpr int notedsignals[] = {SIGINT, SIGTERM, SIGUSR1, SIGALRM};
constexpr int ignoredsignals[] = {SIGCHLD, SIGHUP, SIGTRAP, SIGQUIT, SIGPIPE};

sigset_t caught;    // the noted signals
sigset_t waitmask;  // the mask in force while waiting: the noted ones open
void (*servicefn)() = nullptr;

void noteterm(int sig) { gotterm = sig; }
void notetoggle(int) { gottoggle = 1; }
void notealarm(int) { gotalarm = 1; }

void setaction(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  sigaction(sig, &sa, nullptr);
}

bool noted() { return gotterm || gottoggle || gotalarm; }

void service() {
  if (noted() && servicefn) servicefn();
}

}  // namespace

void installsignals() {
  for (int sig : ignoredsignals) setaction(sig, SIG_IGN);
  setaction(SIGINT, noteterm);
  setaction(SIGTERM, noteterm);
  setaction(SIGUSR1, notetoggle);
  setaction(SIGALRM, notealarm);

  sigemptyset(&caught);
  for (int sig : notedsignals) sigaddset(&caught, sig);
  sigprocmask(SIG_BLOCK, &caught, &waitmask);
  for (int sig : notedsignals) sigdelset(&waitmask, sig);
}

void setsignalservice(void (*fn)()) { servicefn = fn; }

void safepoint() {
  // ppoll delivers a pending signal only when it would sleep; one that came
  // while the program was busy stays pending, so let it in here.
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

short waitfd(int fd, short events, int timeout_ms) {
  for (;;) {
    service();  // ppoll itself lets in what is pending when it has to sleep
    pollfd p{fd, events, 0};
    timespec ts{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
    int n = ppoll(&p, 1, timeout_ms < 0 ? nullptr : &ts, &waitmask);
    if (n < 0 && errno == EINTR) continue;  // a handler ran: service it first
    safepoint();
    if (n < 0) return POLLERR;
    return p.revents;
  }
}
