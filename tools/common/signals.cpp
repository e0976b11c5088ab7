#include "tools/common/signals.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

volatile sig_atomic_t noted[NSIG] = {};
volatile sig_atomic_t any = 0;
int wake[2] = {-1, -1};

void note(int sig) {
  noted[sig] = 1;
  any = 1;
  int saved = errno;
  (void)!write(wake[1], "", 1);  // a full pipe is readable already
  errno = saved;
}

}  // namespace

void notesignals(std::initializer_list<int> sigs) {
  if (wake[0] < 0 && pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) wake[0] = wake[1] = -1;
  struct sigaction sa {};
  sa.sa_handler = note;
  sigemptyset(&sa.sa_mask);
  for (int sig : sigs) sigaction(sig, &sa, nullptr);
}

int takesignal() {
  for (int sig = 1; sig < NSIG; ++sig) {
    if (noted[sig]) {
      noted[sig] = 0;
      return sig;
    }
  }
  // Nothing left to take: the pipe is emptied, so that it wakes the next
  // wait only for a signal still to come.
  char drain[64];
  while (wake[0] >= 0 && read(wake[0], drain, sizeof drain) > 0) {
  }
  for (int sig = 1; sig < NSIG; ++sig)
    if (noted[sig]) return takesignal();
  return 0;
}

const volatile sig_atomic_t* signalnoted() { return &any; }

int signalwakefd() { return wake[0]; }

bool pausefor(double seconds) {
  using clock = std::chrono::steady_clock;
  auto until = clock::now() +
               std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(seconds));
  for (;;) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(until - clock::now()).count();
    pollfd p{wake[0], POLLIN, 0};
    // A day at most at once: the count of milliseconds must fit an int.
    int ms = static_cast<int>(left < 0 ? 0 : left < 86400000 ? left : 86400000);
    if (poll(&p, wake[0] >= 0 ? 1 : 0, ms) > 0) return false;  // a signal to take
    if (left <= 0) return true;
  }
}
