#include "tools/pabxsim/links.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

class fileout : public simlink {
 public:
  explicit fileout(int fd) : fd_(fd) {}
  ~fileout() override {
    if (fd_ > STDERR_FILENO) close(fd_);
  }
  bool up() override { return true; }
  bool send(const std::string& bytes) override {
    if (writeall(fd_, bytes)) return true;
    fprintf(stderr, "pabxsim: write: %s\n", strerror(errno));
    return false;
  }
  void drop(bool) override {}  // a file has no link to break

 private:
  int fd_;
};

}  // namespace

bool writeall(int fd, const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      poll(&p, 1, 100);
    } else if (n < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool splithostport(const std::string& where, std::string* host, std::string* port) {
  size_t colon = where.rfind(':');
  if (colon == std::string::npos || colon + 1 == where.size()) return false;
  *host = where.substr(0, colon);
  *port = where.substr(colon + 1);
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']')
    *host = host->substr(1, host->size() - 2);
  return true;
}

std::unique_ptr<simlink> filelink(const std::string& path) {
  if (path == "-") return std::make_unique<fileout>(STDOUT_FILENO);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    fprintf(stderr, "pabxsim: %s: %s\n", path.c_str(), strerror(errno));
    return nullptr;
  }
  return std::make_unique<fileout>(fd);
}
