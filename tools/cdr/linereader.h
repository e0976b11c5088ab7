// Reads a file line by line through one fixed buffer, so that memory does
// not grow with the file. Lines come without their line feed; a last line
// without one is torn (a write that never finished).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class linereader {
 public:
  // Lines longer than this are reported as such, not kept.
  static constexpr size_t maxline = 4096;

  linereader();
  ~linereader();
  linereader(const linereader&) = delete;
  linereader& operator=(const linereader&) = delete;

  // Opens a regular file to read; false with errno set when it cannot be
  // opened, or with irregular() set when it is not a regular file (a FIFO
  // would block, a device never end).
  bool open(const std::string& path);
  mode_t irregular() const { return irregular_; }
  // Starts again at the first line.
  bool rewind();
  // Goes on from byte `offset`, the start of a line, numbering the lines
  // after `before` earlier ones.
  bool seek(int64_t offset, long before);
  int fd() const { return fd_; }

  struct line {
    std::string_view text;  // valid until the next call
    long number = 0;        // 1 for the first line
    bool torn = false;      // the file ended in it, without a line feed
    bool toolong = false;   // longer than maxline; text holds its start
    int64_t offset = 0;     // where it starts in the file
    int64_t end = 0;        // where the next begins: after its line feed
  };
  // The next line; false at the end of the file or on a read error
  // (error() then tells which).
  bool next(line* out);
  int error() const { return error_; }

 private:
  bool fill();

  int fd_ = -1;
  std::vector<char> buf_;
  int64_t at_ = 0;              // the file offset of buf_[0]
  size_t begin_ = 0, end_ = 0;  // unread bytes
  bool eof_ = false;
  int error_ = 0;
  mode_t irregular_ = 0;
  long number_ = 0;
  std::string head_;  // the start of a line too long to keep
};
