#include "tools/link/serial.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

termios rawline(const termios& from, const lineconfig& c) {
  termios t = from;
  cfmakeraw(&t);
  cfsetispeed(&t, c.speed);
  cfsetospeed(&t, c.speed);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
  static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= sizes[c.bits - 5] | CREAD | CLOCAL;
  if (c.parity != 'N') t.c_cflag |= PARENB;
  if (c.parity == 'O') t.c_cflag |= PARODD;
  if (c.stopbits == 2) t.c_cflag |= CSTOPB;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return t;
}

int serialline::open(const std::string& path, std::string* note, std::string* why) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = path + ": " + strerror(errno);
    return -1;
  }
  note->clear();
  termios now{};
  if (tcgetattr(fd, &now) != 0) return fd;  // not a terminal (a FIFO): nothing to set
  if (config_.given) {
    settings_ = rawline(now, config_);
    saved_ = true;
    *note = "line set";
  } else if (!saved_) {
    settings_ = now;
    saved_ = true;
    return fd;
  } else {
    *note = "line settings put back";
  }
  if (tcsetattr(fd, TCSANOW, &settings_) != 0) {
    *why = path + ": cannot set the line: " + strerror(errno);
    close(fd);
    return -1;
  }
  return fd;
}
