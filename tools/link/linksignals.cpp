#include "tools/link/linksignals.h"

#include <cerrno>

#include "tools/common/signals.h"

namespace {

constexpr int notedsignals[] = {SIGTERM, SIGINT, SIGUSR1, SIGALRM, SIGCHLD};
sigset_t waitmask;

// ppoll lets a pending signal in only when it sleeps; one that came while
// a descriptor was ready stays pending. Open the mask for a moment.
void takepending() {
  sigset_t pending;
  if (sigpending(&pending) != 0) return;
  for (int sig : notedsignals) {
    if (sigismember(&pending, sig)) {
      sigset_t saved;
      sigprocmask(SIG_SETMASK, &waitmask, &saved);
      sigprocmask(SIG_SETMASK, &saved, nullptr);
      return;
    }
  }
}

}  // namespace

void installlinksignals(sigset_t* original) {
  notesignals({SIGTERM, SIGINT, SIGUSR1, SIGALRM, SIGCHLD});
  struct sigaction sa {};
  sigemptyset(&sa.sa_mask);
  sa.sa_handler = SIG_IGN;
  sigaction(SIGHUP, &sa, nullptr);
  sigaction(SIGPIPE, &sa, nullptr);  // a program gone is seen as EPIPE

  sigset_t blocked;
  sigemptyset(&blocked);
  for (int sig : notedsignals) sigaddset(&blocked, sig);
  sigprocmask(SIG_BLOCK, &blocked, original);
  waitmask = *original;
  for (int sig : notedsignals) sigdelset(&waitmask, sig);
}

int waitforevents(pollfd* fds, nfds_t n, int timeout_ms) {
  timespec ts{timeout_ms / 1000, (timeout_ms % 1000) * 1000000L};
  int rc = ppoll(fds, n, timeout_ms < 0 ? nullptr : &ts, &waitmask);
  int err = errno;
  takepending();
  errno = err;
  return rc;
}
