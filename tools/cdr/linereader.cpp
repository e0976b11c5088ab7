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
  at_ = 0;
  begin_ = end_ = 0;
  eof_ = false;
  error_ = 0;
  number_ = 0;
  if (fd_ >= 0) posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd_ >= 0;
}

bool linereader::rewind() { return seek(0, 0); }

bool linereader::seek(int64_t offset, long before) {
  at_ = offset;
  begin_ = end_ = 0;
  eof_ = false;
  error_ = 0;
  number_ = before;
  return lseek(fd_, offset, SEEK_SET) == offset;
}

// Moves the unread bytes to the front and reads more after them; false
// when nothing more can be read.
bool linereader::fill() {
  if (eof_) return false;
  if (begin_ > 0) {
    memmove(buf_.data(), buf_.data() + begin_, end_ - begin_);
    at_ += static_cast<int64_t>(begin_);
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
  out->offset = at_ + static_cast<int64_t>(begin_);
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
      out->end = at_ + static_cast<int64_t>(begin_);
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
        at_ += static_cast<int64_t>(end_);
        begin_ = end_ = 0;
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
      out->end = at_ + static_cast<int64_t>(begin_);
      out->text = head_;
      return true;
    }
    if (!fill()) {
      if (end_ == begin_) return false;
      out->text = std::string_view(buf_.data() + begin_, end_ - begin_);
      out->number = ++number_;
      out->torn = true;
      begin_ = end_;
      out->end = at_ + static_cast<int64_t>(end_);
      return true;
    }
  }
}
