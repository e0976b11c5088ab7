// The bytes on their way from the link to the program.
//
// With an end byte, the bytes after the last one are held back until the
// record they begin is complete: when the link drops before that, they are
// a record cut short and are dropped, so that the program never sees half a
// record run into the next one. A run of more bytes than any record without
// an end byte is passed on (it is noise, and holding it would stall the
// stream).
#pragma once

#include <cstddef>
#include <vector>

class relay {
 public:
  // endbyte: the byte ending each record, or -1 to pass every byte at once.
  explicit relay(int endbyte, size_t capacity = 65536);

  // Free space for bytes read from the link (after making room).
  char* space();
  size_t room() const { return buf_.size() - tail_; }
  // Counts n bytes read into space().
  void commit(size_t n);

  // Whether bytes are ready for the program.
  bool ready() const { return ready_ > head_; }
  // Writes ready bytes to fd without blocking; false when fd fails (errno
  // tells why). A full pipe is not a failure.
  bool giveto(int fd);

  // The link went down: drops the bytes held back; returns their count.
  size_t cutshort();

  // Bytes not given yet, held back or ready.
  size_t pending() const { return tail_ - head_; }
  // The input ended: the bytes held back are a record ended by it.
  void releaseheld() { ready_ = tail_; }

  // Forgets every byte (the program is gone).
  void clear() { head_ = ready_ = tail_ = 0; }

  static constexpr size_t holdmax = 1024;  // longer than any record

 private:
  std::vector<char> buf_;
  size_t head_ = 0, ready_ = 0, tail_ = 0;  // sent | ready | held | free
  int end_;
};
