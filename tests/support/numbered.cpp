#include "support/numbered.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <charconv>

namespace {

// The padding of line `n`: 0 to 60 characters, changing from one line to
// the next, so that lines differ in length and cross page boundaries.
std::size_t padding(long n) { return static_cast<std::size_t>((n * 7) % 61); }

// Adds `ns` nanoseconds to `t`.
void advance(timespec& t, long ns) {
  t.tv_nsec += ns;
  t.tv_sec += t.tv_nsec / 1000000000;
  t.tv_nsec %= 1000000000;
}

}  // namespace

std::string numberedline(long n) {
  return std::to_string(n) + " " + std::string(padding(n), '.') + "\n";
}

std::vector<numbered> readnumbered(std::string_view content) {
  std::vector<numbered> lines;
  for (std::size_t at = 0, lf; (lf = content.find('\n', at)) != std::string_view::npos;
       at = lf + 1) {
    const std::string_view text = content.substr(at, lf + 1 - at);
    long n = -1;
    const bool digits =
        std::from_chars(text.data(), text.data() + text.size(), n).ec == std::errc();
    const bool whole = digits && n > 0 && text == numberedline(n);
    lines.push_back({whole ? n : -1, lf + 1});
  }
  return lines;
}

appender::appender(const std::string& path, long first, long period_us) : last_(first - 1) {
  thread_ = std::thread([this, path, period_us] { run(path, period_us); });
}

appender::~appender() { stop(); }

void appender::stop() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

// Paces the lines by absolute deadlines, so that a late line is followed
// by the next one at once and the rate holds on average.
void appender::run(const std::string& path, long period_us) {
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error_ = errno;
    return;
  }
  timespec due{};
  clock_gettime(CLOCK_MONOTONIC, &due);
  while (!stop_) {
    const std::string line = numberedline(last_ + 1);
    const ssize_t n = write(fd, line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size())) {
      error_ = n < 0 ? errno : EIO;
      break;
    }
    ++last_;
    if (period_us > 0) {
      advance(due, period_us * 1000);
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
      }
    }
  }
  close(fd);
}
