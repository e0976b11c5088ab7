// TCP addresses as the tools take them on their command lines, and the
// sockets made of them: HOST:PORT or [IPV6]:PORT, numeric for a listener.
#pragma once

#include <netdb.h>
#include <sys/socket.h>

#include <string>

struct netaddress {
  std::string host, port;  // the host without its brackets
  std::string text;        // as given, for messages
};

enum class addressfault {
  none,
  form,  // no host or no port
  port,  // a port number no server has (or 0 where a listener's pick is not asked for)
};

// Reads HOST:PORT or [IPV6]:PORT. PORT is a number from 1 to 65535 (the
// resolver would take 99999 as 34463 without a word), 0 too with `anyport`
// (a listener then gets a free one), or a service name with `names`.
addressfault parseaddress(const std::string& text, bool anyport, bool names, netaddress* out);

// The addresses of a; `passive` for a listener, whose host must be
// numeric (no name is looked up). False with `why`, "TEXT: reason". Free
// them with freeaddrinfo.
bool resolve(const netaddress& a, bool passive, addrinfo** out, std::string* why);

// A socket listening on a's first address (SO_REUSEADDR, close-on-exec,
// non-blocking if asked), or -1 with `why`.
int openlistener(const netaddress& a, bool nonblocking, std::string* why);

// "a.b.c.d:port" or "[v6]:port" (an IPv4 peer on an IPv6 socket shown as
// IPv4); the host alone without `withport`; "?" for what is neither.
std::string peername(const sockaddr* sa, bool withport = true);

// The address a socket is bound to, as peername writes it.
std::string localname(int fd);
