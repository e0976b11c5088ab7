// Lines that number themselves, and a writer that appends them to a file
// while other programs work on it: for tests of programs that cut a file
// in place under a writer.
//
// Line n is its number, a blank, a padding whose length depends on n, and
// a line feed. A torn line, or two lines run together, no longer reads as a
// line, and the numbers show what is missing or out of order.
#pragma once

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// The text of line `n`, line feed included.
std::string numberedline(long n);

// One line of a file read back.
struct numbered {
  long number;      // its number; -1 when it is not a whole numbered line
  std::size_t end;  // the offset just after its line feed
};

// The lines of `content` up to its last line feed; text after it (a line
// still being written) is left out.
std::vector<numbered> readnumbered(std::string_view content);

// Appends lines `first`, `first` + 1, ... to a file from a thread of its
// own, each with a single write(2) on a descriptor opened with O_APPEND, as
// a daemon's 2>> log is written. One line every `period_us` microseconds
// on average (0: one after the other, without pausing).
class appender {
 public:
  appender(const std::string& path, long first, long period_us);
  ~appender();  // stops it
  appender(const appender&) = delete;
  appender& operator=(const appender&) = delete;

  // Stops it after the line it is writing; idempotent.
  void stop();
  // The number of the last line written whole; first - 1 before the first.
  long last() const { return last_.load(); }
  // 0, or the errno of the open or write that made it stop by itself.
  int error() const { return error_.load(); }

 private:
  void run(const std::string& path, long period_us);

  std::atomic<bool> stop_{false};
  std::atomic<long> last_;
  std::atomic<int> error_{0};
  std::thread thread_;
};
