#include "outbuf.h"

#include <unistd.h>

#include <cerrno>

char* putdecimal(char* p, uint64_t v) {
  char tmp[24];
  int n = 0;
  do {
    tmp[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  while (n) *p++ = tmp[--n];
  return p;
}

void outbuf::putnum(uint64_t v) { commit(putdecimal(room(20), v)); }

void outbuf::writeall(const char* p, size_t n) {
  while (n > 0 && !error_) {
    ssize_t w = write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      error_ = w < 0 ? errno : EIO;
      break;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

void outbuf::drain(size_t) {
  writeall(buf_.data(), used_);
  used_ = 0;
}

bool outbuf::flush() {
  drain(0);
  return error_ == 0;
}
