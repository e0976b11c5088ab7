// The TCP links of pabxsim: serving one client at a time, or connecting.
#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "tools/pabxsim/links.h"

namespace {

std::string describe(const sockaddr* sa) {
  char host[NI_MAXHOST], port[NI_MAXSERV];
  socklen_t len = sa->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  if (getnameinfo(sa, len, host, sizeof host, port, sizeof port, NI_NUMERICHOST | NI_NUMERICSERV))
    return "?";
  std::string text = host;
  if (sa->sa_family == AF_INET6) text = std::string("[").append(text).append("]");
  return text.append(":").append(port);
}

// The first address of HOST:PORT; numeric only for a listener.
bool lookup(const std::string& where, bool passive, addrinfo** out) {
  std::string host, port;
  if (!splithostport(where, &host, &port)) {
    fprintf(stderr, "pabxsim: %s: not ADDRESS:PORT\n", where.c_str());
    return false;
  }
  // The resolver takes a port modulo 65536 (99999 as 34463); a listener
  // may ask for 0, any free port, and says which it got.
  bool digits = !port.empty() && port.find_first_not_of("0123456789") == std::string::npos;
  unsigned long n = digits && port.size() <= 5 ? std::stoul(port) : 65536;
  if (n > 65535 || (n == 0 && !passive)) {
    fprintf(stderr, "pabxsim: %s: no such port\n", where.c_str());
    return false;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | (passive ? AI_NUMERICHOST | AI_PASSIVE : 0);
  if (int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, out)) {
    fprintf(stderr, "pabxsim: %s: %s\n", where.c_str(), gai_strerror(rc));
    return false;
  }
  return true;
}

// Waits until the peer has acknowledged every byte sent, so that a reset
// takes nothing with it that was counted as sent (at most ten seconds: a
// peer that reads nothing more does not hold the run up for ever).
void waitacked(int fd) {
  for (int waited = 0; waited < 10000; waited += 5) {
    int unacked = 0;
    if (ioctl(fd, SIOCOUTQ, &unacked) != 0 || unacked == 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void endconnection(int fd, bool reset) {
  if (reset) {
    waitacked(fd);
    linger l{1, 0};  // close then sends a reset
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  } else {
    shutdown(fd, SHUT_WR);
  }
  close(fd);
}

class connection : public simlink {
 public:
  ~connection() override {
    if (fd_ >= 0) close(fd_);
  }
  bool send(const std::string& bytes) override { return writeall(fd_, bytes); }
  void drop(bool reset) override {
    if (fd_ >= 0) endconnection(fd_, reset);
    fd_ = -1;
  }

 protected:
  int fd_ = -1;
};

class server : public connection {
 public:
  explicit server(int listener) : listener_(listener) {}
  ~server() override { close(listener_); }
  bool up() override {
    if (fd_ >= 0) return true;
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    do {
      fd_ = accept4(listener_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
      fprintf(stderr, "pabxsim: accept: %s\n", strerror(errno));
      return false;
    }
    fprintf(stderr, "pabxsim: client %s\n", describe(reinterpret_cast<sockaddr*>(&peer)).c_str());
    return true;
  }

 private:
  int listener_;
};

class client : public connection {
 public:
  explicit client(addrinfo* ai) : ai_(ai) {}
  ~client() override { freeaddrinfo(ai_); }
  // Tries again every half second until the server takes the connection.
  bool up() override {
    for (bool told = false; fd_ < 0; std::this_thread::sleep_for(std::chrono::milliseconds(500))) {
      fd_ = socket(ai_->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd_ < 0) {
        fprintf(stderr, "pabxsim: socket: %s\n", strerror(errno));
        return false;
      }
      if (connect(fd_, ai_->ai_addr, ai_->ai_addrlen) == 0) break;
      if (!told)
        fprintf(stderr, "pabxsim: waiting for %s: %s\n", describe(ai_->ai_addr).c_str(),
                strerror(errno));
      told = true;
      close(fd_);
      fd_ = -1;
    }
    fprintf(stderr, "pabxsim: connected to %s\n", describe(ai_->ai_addr).c_str());
    return true;
  }

 private:
  addrinfo* ai_;
};

}  // namespace

std::unique_ptr<simlink> tcpserverlink(const std::string& where) {
  addrinfo* ai = nullptr;
  if (!lookup(where, true, &ai)) return nullptr;
  int fd = socket(ai->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  bool ok = fd >= 0 && bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && listen(fd, 4) == 0;
  freeaddrinfo(ai);
  if (!ok) {
    fprintf(stderr, "pabxsim: listen on %s: %s\n", where.c_str(), strerror(errno));
    if (fd >= 0) close(fd);
    return nullptr;
  }
  sockaddr_storage self{};
  socklen_t len = sizeof self;
  getsockname(fd, reinterpret_cast<sockaddr*>(&self), &len);
  fprintf(stderr, "pabxsim: listening on %s\n",
          describe(reinterpret_cast<sockaddr*>(&self)).c_str());
  return std::make_unique<server>(fd);
}

std::unique_ptr<simlink> tcpclientlink(const std::string& where) {
  addrinfo* ai = nullptr;
  if (!lookup(where, false, &ai)) return nullptr;
  return std::make_unique<client>(ai);
}
