#include "tools/common/writeall.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

bool writeall(int fd, const void* p, size_t n, const volatile sig_atomic_t* stop) {
  const char* at = static_cast<const char*>(p);
  while (n > 0) {
    if (stop && *stop) {
      errno = EINTR;
      return false;
    }
    ssize_t w = write(fd, at, n);
    if (w > 0) {
      at += w;
      n -= static_cast<size_t>(w);
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd ready{fd, POLLOUT, 0};
      poll(&ready, 1, -1);
    } else if (w == 0 || errno != EINTR) {
      if (w == 0) errno = EIO;
      return false;
    }
  }
  return true;
}
