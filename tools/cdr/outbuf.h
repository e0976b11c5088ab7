// Buffered output to a file descriptor: the data of one run go out in
// large writes. A failed write is remembered and ends further output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

// Writes v in decimal at p; returns the end. Room for 20 digits is enough.
char* putdecimal(char* p, uint64_t v);

// Writes s at p; returns the end.
inline char* puttext(char* p, std::string_view s) { return p + s.copy(p, s.size()); }

class outbuf {
 public:
  explicit outbuf(int fd) : fd_(fd), buf_(1 << 16) {}
  ~outbuf() { flush(); }
  outbuf(const outbuf&) = delete;
  outbuf& operator=(const outbuf&) = delete;

  void put(std::string_view s) {
    if (buf_.size() - used_ < s.size()) drain(s.size());
    if (s.size() > buf_.size()) return writeall(s.data(), s.size());
    s.copy(buf_.data() + used_, s.size());
    used_ += s.size();
  }
  void put(char c) {
    if (used_ == buf_.size()) drain(1);
    buf_[used_++] = c;
  }
  void putnum(uint64_t v);
  // Room for n bytes at the end of the buffer (n at most 4096): write into
  // it, then commit the bytes written.
  char* room(size_t n) {
    if (buf_.size() - used_ < n) drain(n);
    return buf_.data() + used_;
  }
  void commit(char* end) { used_ = static_cast<size_t>(end - buf_.data()); }

  // Writes out what is buffered; false once any write has failed.
  bool flush();
  int error() const { return error_; }
  // What is buffered and not written yet.
  std::string_view buffered() const { return {buf_.data(), used_}; }

 private:
  void drain(size_t need);
  void writeall(const char* p, size_t n);

  int fd_;
  std::vector<char> buf_;
  size_t used_ = 0;
  int error_ = 0;
};
