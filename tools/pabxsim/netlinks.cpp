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
#include <cstdio>
#include <cstring>

#include "tools/common/address.h"
#include "tools/common/diag.h"
#include "tools/common/signals.h"
#include "tools/common/writeall.h"
#include "tools/pabxsim/links.h"

namespace {

// HOST:PORT read, with its message when it is not one; a listener may ask
// for port 0 (any free port) and says which it got.
bool address(const std::string& where, bool listener, netaddress* a) {
  switch (parseaddress(where, listener, false, a)) {
    case addressfault::form: warnx("%s: not ADDRESS:PORT", where.c_str()); return false;
    case addressfault::port: warnx("%s: no such port", where.c_str()); return false;
    case addressfault::none: break;
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
    if (!pausefor(0.005)) return;
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
  bool send(const std::string& bytes) override { return writeall(fd_, bytes, signalnoted()); }
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
    } while (fd_ < 0 && errno == EINTR && !*signalnoted());
    if (fd_ < 0) {
      if (!*signalnoted()) warn("accept");
      return false;
    }
    warnx("client %s", peername(reinterpret_cast<sockaddr*>(&peer)).c_str());
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
    for (bool told = false; fd_ < 0;) {
      fd_ = socket(ai_->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (fd_ < 0) {
        warn("socket");
        return false;
      }
      if (connect(fd_, ai_->ai_addr, ai_->ai_addrlen) == 0) break;
      if (!told) warn("waiting for %s", peername(ai_->ai_addr).c_str());
      told = true;
      close(fd_);
      fd_ = -1;
      if (!pausefor(0.5)) return false;
    }
    warnx("connected to %s", peername(ai_->ai_addr).c_str());
    return true;
  }

 private:
  addrinfo* ai_;
};

}  // namespace

std::unique_ptr<simlink> tcpserverlink(const std::string& where) {
  netaddress a;
  if (!address(where, true, &a)) return nullptr;
  std::string why;
  int fd = openlistener(a, false, &why);
  if (fd < 0) {
    warnx("%s", why.c_str());
    return nullptr;
  }
  warnx("listening on %s", localname(fd).c_str());
  return std::make_unique<server>(fd);
}

std::unique_ptr<simlink> tcpclientlink(const std::string& where) {
  netaddress a;
  addrinfo* ai = nullptr;
  std::string why;
  if (!address(where, false, &a)) return nullptr;
  if (!resolve(a, false, &ai, &why)) {
    warnx("%s", why.c_str());
    return nullptr;
  }
  return std::make_unique<client>(ai);
}
