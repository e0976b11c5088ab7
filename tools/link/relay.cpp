#include "tools/link/relay.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

relay::relay(int endbyte, size_t capacity) : buf_(capacity), end_(endbyte) {}

char* relay::space() {
  if (head_ > 0 && tail_ > buf_.size() / 2) {
    memmove(buf_.data(), buf_.data() + head_, tail_ - head_);
    ready_ -= head_;
    tail_ -= head_;
    head_ = 0;
  }
  return buf_.data() + tail_;
}

void relay::commit(size_t n) {
  size_t from = tail_;
  tail_ += n;
  if (end_ < 0) {
    ready_ = tail_;
    return;
  }
  for (size_t i = tail_; i > from; --i) {
    if (static_cast<unsigned char>(buf_[i - 1]) == end_) {
      ready_ = i;
      break;
    }
  }
  if (tail_ - ready_ > holdmax) ready_ = tail_;
}

bool relay::giveto(int fd) {
  while (ready()) {
    ssize_t n = write(fd, buf_.data() + head_, ready_ - head_);
    if (n > 0) {
      head_ += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;
  }
  if (head_ == tail_) head_ = ready_ = tail_ = 0;
  return true;
}

size_t relay::cutshort() {
  size_t held = tail_ - ready_;
  tail_ = ready_;
  if (head_ == tail_) head_ = ready_ = tail_ = 0;
  return held;
}
