// The signals of the link keeper. Handlers only note a signal; the signals
// are blocked except inside the one wait, and the loop acts on them after
// it.
#pragma once

#include <poll.h>
#include <signal.h>

#include "tools/common/signals.h"  // takesignal()

// The signals passed on to the program.
inline constexpr int forwardedsignals[] = {SIGTERM, SIGINT, SIGUSR1, SIGALRM};

// Installs the handlers (forwarded signals and SIGCHLD), blocks them, and
// ignores SIGHUP and SIGPIPE. `original` is the mask the process had.
void installlinksignals(sigset_t* original);

// poll, with the noted signals let in while it waits; timeout_ms < 0 waits
// for ever.
int waitforevents(pollfd* fds, nfds_t n, int timeout_ms);
