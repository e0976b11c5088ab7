#include "sigwait.h"

#include <poll.h>

#include <cerrno>

volatile sig_atomic_t gotterm = 0;
volatile sig_atomic_t gottoggle = 0;
volatile sig_atomic_t gotalarm = 0;

namespace {

constexpr int notedsignals[] = {SIGINT, SIGTERM, SIGUSR1, SIGALRM};
constexpr int ignoredsignals[] = {SIGCHLD, SIGHUP, SIGTRAP, SIGQUIT, SIGPIPE};

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
}

void setsignalservice(void (*fn)()) { servicefn = fn; }

short waitfd(int fd, short events) {
  for (;;) {
    service();
    pollfd p{fd, events, 0};
    int n = ppoll(&p, 1, nullptr, &waitmask);
    if (n < 0 && errno == EINTR) continue;  // a handler ran: act on it first
    takepending();
    if (n < 0) return POLLERR;
    return p.revents;
  }
}
