// The TCP side of the link keeper: connecting without blocking, listening,
// and the keepalive that notices a peer gone without a word.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <string>

#include "tools/link/linkopts.h"

// The addresses of the source's host and port (numeric only when
// `passive`, for a listener); false with `why` set. Free them with
// freeaddrinfo.
bool resolve(const linksource& source, bool passive, addrinfo** out, std::string* why);

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

// A listening socket on the source's address and port, or -1 with `why`.
int openlistener(const linksource& source, std::string* why);

// "a.b.c.d:port" or "[v6]:port"; `host` alone without the port.
std::string peername(const sockaddr* sa, bool withport = true);
