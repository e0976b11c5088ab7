// Signals and the one place the packer waits.
//
// The signals the packer acts on (SIGINT, SIGTERM, SIGUSR1, SIGALRM) stay
// blocked except inside waitfd(), so their handlers, which only note that a
// signal came, run only while the program waits. The work a signal asks for
// (the statistics line, the raw-log toggle, the exit) is done by the
// service routine that waitfd() calls at that point, never in the middle of
// decoding or writing a record.
#pragma once

#include <csignal>

// Signals noted and not yet serviced; set by the handlers, cleared by the
// service routine. gotterm holds the number of the terminating signal.
extern volatile sig_atomic_t gotterm;
extern volatile sig_atomic_t gottoggle;
extern volatile sig_atomic_t gotalarm;

// Installs the dispositions (ignored: SIGCHLD, SIGHUP, SIGTRAP, SIGQUIT,
// SIGPIPE; noted: the four above) and blocks the noted ones.
void installsignals();

// The routine that acts on noted signals; set once by the driver.
void setsignalservice(void (*service)());

// Waits until fd is ready for `events` (poll(2) flags), acting on the
// signals that come meanwhile, or came while the program was busy; returns
// the poll result flags of fd.
short waitfd(int fd, short events);
