#include "tools/link/tcp.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/common/address.h"

int startconnect(const linksource& source, std::string* peer, std::string* why) {
  addrinfo* ai = nullptr;
  if (!resolve(source.net, false, &ai, why)) return -1;
  *peer = peername(ai->ai_addr);
  int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, ai->ai_addr, ai->ai_addrlen) != 0 && errno != EINPROGRESS) {
    *why = "connect to " + *peer + ": " + strerror(errno);
    close(fd);
    fd = -1;
  } else if (fd < 0) {
    *why = std::string("socket: ") + strerror(errno);
  }
  freeaddrinfo(ai);
  return fd;
}

int connectresult(int fd) {
  int err = 0;
  socklen_t len = sizeof err;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
  return err;
}

void keepalive(int fd, int deadafter) {
  int on = 1;
  int idle = deadafter / 2 > 0 ? deadafter / 2 : 1;
  int count = 4;
  int interval = (deadafter - idle) / count > 0 ? (deadafter - idle) / count : 1;
  unsigned timeout = static_cast<unsigned>(deadafter) * 1000;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &timeout, sizeof timeout);
}
