#include "outbuf.h"


#include <cerrno>

#include "tools/common/writeall.h"

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
  if (!error_ && !::writeall(fd_, p, n)) error_ = errno;
}

void outbuf::drain(size_t) {
  writeall(buf_.data(), used_);
  used_ = 0;
}

bool outbuf::flush() {
  drain(0);
  return error_ == 0;
}
