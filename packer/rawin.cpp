#include "rawin.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "diag.h"
#include "exit.h"
#include "settings.h"
#include "sigwait.h"

inputstream cdrfp;
FILE* rawfp = nullptr;

void inputstream::attach(int fd) {
  fd_ = fd;
  pos_ = end_ = logged_ = 0;
}

void inputstream::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void inputstream::reset() {
  if (fd_ > STDERR_FILENO) ::close(fd_);
  fd_ = -1;
  pos_ = end_ = logged_ = 0;
  refills_ = 0;
  atend_ = nullptr;
}

bool inputstream::synclog() {
  size_t from = logged_;
  logged_ = pos_;
  if (!dolograw || from == pos_) return true;
  return lograwsmdr(pos_ - from, buf_ + from);
}

void inputstream::flushlog() {
  if (!synclog()) my_exit(exitfail);
}

void inputstream::refill() {
  flushlog();
  for (;;) {
    waitfd(fd_, POLLIN);
    ssize_t n = read(fd_, buf_, sizeof buf_);
    if (n > 0) {
      pos_ = logged_ = 0;
      end_ = static_cast<size_t>(n);
      ++refills_;
      return;
    }
    if (n < 0 && errno == EINTR) {
      errno = 0;
      if (dodebug) errf("\ngetrawbyte() EINTR\n");
      continue;
    }
    if (n < 0 && errno == EAGAIN) continue;
    if (doXdebug) errf("\nEOF reached.\n");
    if (atend_) atend_();
    my_exit(exitok);
  }
}

void tracebyte(inputstream& in, uint8_t byte) {
  errf(" %02x", byte);
  // Every byte is traced anyway: log it at once, so that the log's messages
  // stand beside the byte that caused them.
  in.flushlog();
}

bool lograwsmdr(size_t len, const uint8_t* bytes) {
  if (!rawfp) {
    rawfp = fopen(rawfile, "a");
    if (!rawfp) {
      errf("Can't open raw output file %s  errno=%d\n", rawfile, errno);
      return false;
    }
    errf("Opened raw data file %s\n", rawfile);
  }
  if (fwrite(bytes, 1, len, rawfp) != len || fflush(rawfp) != 0) {
    errf("Error writing to raw data file %s  errno=%d\n", rawfile, errno);
    return false;
  }
  return true;
}

void closerawlog() {
  if (rawfp) fclose(rawfp);
  rawfp = nullptr;
}
