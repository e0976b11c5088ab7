#include "tools/common/address.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

addressfault parseaddress(const std::string& text, bool anyport, bool names, netaddress* out) {
  *out = netaddress{};
  out->text = text;
  size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
    return addressfault::form;
  out->host = text.substr(0, colon);
  out->port = text.substr(colon + 1);
  if (out->host.size() > 2 && out->host.front() == '[' && out->host.back() == ']')
    out->host = out->host.substr(1, out->host.size() - 2);
  if (out->port.find_first_not_of("0123456789") == std::string::npos) {
    unsigned long n = out->port.size() > 5 ? 65536 : std::stoul(out->port);
    if (n > 65535 || (n == 0 && !anyport)) return addressfault::port;
  } else if (!names) {
    return addressfault::port;
  }
  return addressfault::none;
}

bool resolve(const netaddress& a, bool passive, addrinfo** out, std::string* why) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE | AI_NUMERICHOST : 0;
  int rc = getaddrinfo(a.host.c_str(), a.port.c_str(), &hints, out);
  if (rc != 0) *why = a.text + ": " + gai_strerror(rc);
  return rc == 0;
}

int openlistener(const netaddress& a, bool nonblocking, std::string* why) {
  addrinfo* ai = nullptr;
  if (!resolve(a, true, &ai, why)) return -1;
  int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
  int on = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (fd < 0 || bind(fd, ai->ai_addr, ai->ai_addrlen) != 0 || listen(fd, 4) != 0) {
    *why = "listen on " + a.text + ": " + strerror(errno);
    if (fd >= 0) close(fd);
    fd = -1;
  }
  freeaddrinfo(ai);
  return fd;
}

std::string peername(const sockaddr* sa, bool withport) {
  if (sa->sa_family != AF_INET && sa->sa_family != AF_INET6) return "?";
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

std::string localname(int fd) {
  sockaddr_storage self{};
  socklen_t len = sizeof self;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len) != 0) return "?";
  return peername(reinterpret_cast<sockaddr*>(&self));
}
