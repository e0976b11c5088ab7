#include "linereader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr size_t bufsize = 1 << 18;
constexpr size_t headlen = 80;  // what is shown of a line too long to keep
}  // namespace

linereader::linereader() : buf_(bufsize) {}

linereader::~linereader() {
  if (fd_ >= 0) close(fd_);
}

bool linereader::open(const std::string& path) {
  if (fd_ >= 0) close(fd_);
  // Not blocking: opening a FIFO waits for a writer otherwise.
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  irregular_ = 0;
  struct stat st;
  if (fd_ >= 0 && fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
    irregular_ = st.st_mode;
    close(fd_);
    fd_ = -1;
  }
  begin_ = end_ = 0;
  eof_ = false;
  error_ = 0;
  number_ = 0;
  if (fd_ >= 0) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd_ >= 0;
}

bool linereader::rewind() {
  begin_ = end_ = 0;
  eof_ = false;
  error_ = 0;
  number_ = 0;
  return lseek(fd_, 0, SEEK_SET) == 0;
}

// Moves the unread bytes to the front and reads more after them; false
// when nothing more can be read.
bool linereader::fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  for (;;) {
    ssize_t n = read(fd_, buf_.data() + end_, buf_.size() - end_);
    if (n > 0) {
      end_ += static_cast<size_t>(n);
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) error_ = errno;
    eof_ = true;
    return false;
  }
}

bool linereader::next(line* out) {
  *out = line{};
  size_t scanned = 0;  // bytes after begin_ known to hold no line feed
  for (;;) {
    const char* p = buf_.data() + begin_;
    size_t have = end_ - begin_;
    const void* nl = have > scanned ? memchr(p + scanned, '\n', have - scanned) : nullptr;
    if (nl) {
      size_t len = static_cast<const char*>(nl) - p;
      out->text = std::string_view(p, len);
      out->number = ++number_;
      begin_ += len + 1;
      if (len > maxline) {
        out->toolong = true;
        out->text = out->text.substr(0, headlen);
      }
      return true;
    }
    scanned = have;
    if (have > maxline) {
      // Keep the start to show, skip the rest up to the next line feed.
      out->toolong = true;
      out->number = ++number_;
      head_.assign(p, headlen);
      for (;;) {
        begin_ = end_;
        if (!fill()) {
          out->torn = true;
          break;
        }
        const void* end = memchr(buf_.data(), '\n', end_);
        if (end) {
          begin_ = static_cast<const char*>(end) - buf_.data() + 1;
          break;
        }
      }
      out->text = head_;
      return true;
    }
    if (!fill()) {
      if (end_ == begin_) return false;
      out->text = std::string_view(buf_.data() + begin_, end_ - begin_);
      out->number = ++number_;
      out->torn = true;
      begin_ = end_;
      return true;
    }
  }
}
