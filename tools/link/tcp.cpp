#include "tools/link/tcp.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool resolve(const linksource& s, bool passive, addrinfo** out, std::string* why) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE | AI_NUMERICHOST : 0;
  int rc = getaddrinfo(s.host.c_str(), s.port.c_str(), &hints, out);
  if (rc != 0) *why = s.host + ":" + s.port + ": " + gai_strerror(rc);
  return rc == 0;
}

std::string peername(const sockaddr* sa, bool withport) {
  char host[NI_MAXHOST], port[NI_MAXSERV];
  socklen_t len = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (getnameinfo(sa, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV))
    return "?";
  std::string h = host;
  if (h.rfind("::ffff:", 0) == 0 && h.find('.') != std::string::npos) h = h.substr(7);
  if (!withport) return h;
  if (h.find(':') != std::string::npos) h = std::string("[").append(h).append("]");
  return h.append(":").append(port);
}

int startconnect(const linksource& source, std::string* peer, std::string* why) {
  addrinfo* ai = nullptr;
  if (!resolve(source, false, &ai, why)) return -1;
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

int openlistener(const linksource& source, std::string* why) {
  addrinfo* ai = nullptr;
  if (!resolve(source, true, &ai, why)) return -1;
  int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  int on = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, 4) != 0) {
    *why = "listen on " + source.host + ":" + source.port + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    fd = -1;
  }
  freeaddrinfo(ai);
  return fd;
}
