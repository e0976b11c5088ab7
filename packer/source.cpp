#include "source.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bcd.h"
#include "diag.h"
#include "exit.h"
#include "rawin.h"
#include "settings.h"
#include "sigwait.h"

namespace {

void trace(const char* mark) {
  if (dodebug) errf("TCP %s\n", mark);
}

// The address of host into sin, and the name to show for it.
void resolve(const char* host, sockaddr_in* sin, char* display, size_t size) {
  if (inet_aton(host, &sin->sin_addr)) {
    snprintf(display, size, "%s", host);
    return;
  }
  hostent* h = gethostbyname(host);
  if (!h || !h->h_addr_list[0]) {
    herror(host);
    fatalf("TCP Host error %s\n", host);
  }
  sin->sin_family = static_cast<sa_family_t>(h->h_addrtype);
  memcpy(&sin->sin_addr, h->h_addr_list[0], h->h_length < 4 ? h->h_length : 4);
  snprintf(display, size, "%s", h->h_name);
}

// The port in network order: the leading decimal number of the text when
// it is not zero (taken to 16 bits), else the TCP service of that name.
uint16_t portnumber(const char* port) {
  bool nonzero;
  uint32_t value = atoimod(port, &nonzero);
  if (nonzero) return htons(static_cast<uint16_t>(value));
  servent* se = getservbyname(port, "tcp");
  if (!se) fatalf("TCP %s: bad port number\n", port);
  return static_cast<uint16_t>(se->s_port);
}

// Connects without blocking, so that SIGINT and SIGTERM are acted on while
// the connection is pending; returns 0 or the error number.
int connectnow(int s, const sockaddr_in& sin) {
  int flags = fcntl(s, F_GETFL);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
  int err = 0;
  if (connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) < 0) {
    err = errno;
    if (err == EINPROGRESS) {
      waitfd(s, POLLOUT);
      socklen_t len = sizeof err;
      if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    }
  }
  fcntl(s, F_SETFL, flags);
  return err;
}

// An exchange switched off or a cable pulled leaves no trace on an idle
// link: probe it, so that a dead peer ends the input like a read error,
// about two minutes after the last byte.
void keepalive(int s) {
  const int on = 1, idle = 60, interval = 10, probes = 6;
  setsockopt(s, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(s, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(s, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(s, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

int tcp_connect(const char* host, const char* port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) fatalf("TCP socket() error.  %d - %s.\n", errno, strerror(errno));
  trace("mark1");
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  trace("mark2");
  char display[128];
  resolve(host, &sin, display, sizeof display);
  trace("mark3");
  sin.sin_port = portnumber(port);
  trace("mark4");
  errf("TCP Trying connection %s %s port %d ...\n", display, inet_ntoa(sin.sin_addr),
       ntohs(sin.sin_port));
  trace("mark4a");
  if (int err = connectnow(s, sin)) {
    close(s);
    fatalf("TCP - Can't connect %d - %s.\n", err, strerror(err));
  }
  keepalive(s);
  trace("mark5");
  return s;
}

void openinput(const char* path, const char* host, const char* port) {
  if (!*path) {
    cdrfp.attach(STDIN_FILENO);
  } else if (host) {
    cdrfp.attach(tcp_connect(host, port));
  } else {
    // A serial device is read with the line settings it already has; it
    // must not become the controlling terminal of a daemon. Opening a FIFO
    // or a line that waits for its carrier may block.
    int fd = waitopen(path, O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) fatalf("Can't open input %s   errno=%d\n", path, errno);
    cdrfp.attach(fd);
  }
}
