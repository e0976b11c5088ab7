// The TCP side of the link keeper: connecting without blocking, and the
// keepalive that notices a peer gone without a word.
#pragma once

#include <string>

#include "tools/link/linkopts.h"

// Starts a connection to the source's host and port; returns the socket
// (the connection may still be pending) or -1 with `why` set. `peer`
// becomes the address tried.
int startconnect(const linksource& source, std::string* peer, std::string* why);

// The outcome of a pending connection: 0 or the error number.
int connectresult(int fd);

// Probes a silent link after half of `deadafter` seconds and gives it up
// when nothing answered within `deadafter`, also while bytes wait to be
// acknowledged (TCP_USER_TIMEOUT).
void keepalive(int fd, int deadafter);
