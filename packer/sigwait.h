// Signals and the one place the packer waits.
//
// The signals the packer acts on (SIGINT, SIGTERM, SIGUSR1, SIGALRM) stay
// blocked except inside waitfd() and waitopen(), so their handlers, which
// only note that a signal came, run only while the program waits. The work
// a signal asks for (the statistics line, the raw-log toggle, the exit) is
// done by the service routine that the waits call, never in the middle of
// decoding or writing a record.
#pragma once

#include <csignal>

// Installs the dispositions (ignored: SIGCHLD, SIGHUP, SIGTRAP, SIGQUIT,
// SIGPIPE, SIGXFSZ; noted: the four above) and blocks the noted ones.
void installsignals();

// The routine that acts on noted signals; set once by the driver.
void setsignalservice(void (*service)());

enum class noted { terminate, toggle, alarm };

// Takes the note of a signal: the number of the signal noted since it was
// last taken (SIGINT or SIGTERM for `terminate`), or 0; the note is cleared.
int takesignal(noted which);

// Waits until fd is ready for `events` (poll(2) flags), acting on the
// signals that come meanwhile, or came while the program was busy.
void waitfd(int fd, short events);

// open(2) of a path that may block (a FIFO without a writer, a serial line
// waiting for its carrier), acting on the signals that come meanwhile; the
// descriptor, or -1 with errno set.
int waitopen(const char* path, int flags);
