// floor: the least a collector must do to store CDR lines, for comparing
// the packer with. Reads ready CDR lines and appends each to the file of
// its end's hour in the same tree the packer writes, with one write per
// line and a file opened only when the hour changes. With -r, it also reads
// the raw record stream and appends each record's bytes to a log with one
// write per record, as the packer's raw data log does.
//
//   floor [-r RAWFILE LOGFILE -e ENDBYTE] LINESFILE CDRDIR
//
// With CDRDIR "-" each line goes to standard output instead, to compare
// with the packer writing to /dev/null, where a write costs little and
// the rest shows.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t chunk = 65536;

[[noreturn]] void fail(const char* what) {
  fprintf(stderr, "floor: %s: %s\n", what, strerror(errno));
  exit(1);
}

void writeall(int fd, const char* p, size_t n) {
  if (write(fd, p, n) != static_cast<ssize_t>(n)) fail("write");
}

// Reads a file in large chunks and hands out pieces ending in `end`.
class pieces {
 public:
  pieces(const char* path, char end) : end_(end), buf_(2 * chunk, '\0') {
    fd_ = open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) fail(path);
  }
  // The next piece, its end byte included; false at the end of the file.
  bool next(const char** p, size_t* n) {
    for (;;) {
      const char* e = static_cast<const char*>(memchr(buf_.data() + at_, end_, len_ - at_));
      if (e) {
        *p = buf_.data() + at_;
        *n = static_cast<size_t>(e - *p) + 1;
        at_ += *n;
        return true;
      }
      memmove(buf_.data(), buf_.data() + at_, len_ - at_);
      len_ -= at_;
      at_ = 0;
      ssize_t got = read(fd_, buf_.data() + len_, buf_.size() - len_);
      if (got < 0) fail("read");
      if (got == 0) return false;
      len_ += static_cast<size_t>(got);
    }
  }

 private:
  int fd_;
  char end_;
  std::string buf_;
  size_t at_ = 0, len_ = 0;
};

// The hourly file of a line, by its end DDMMYYhhmmss in the fourth field.
class hourfiles {
 public:
  explicit hourfiles(std::string dir) : dir_(std::move(dir)) {}
  int fileof(const char* line, size_t n) {
    const char* end = line;
    for (int bar = 0; bar < 3; ++bar) end = static_cast<const char*>(memchr(end, '|', n)) + 1;
    if (fd_ >= 0 && memcmp(end, hour_, 8) == 0) return fd_;
    memcpy(hour_, end, 8);
    if (fd_ >= 0) close(fd_);
    char path[512];
    int k = snprintf(path, sizeof path, "%s/%.2s_20%.2s", dir_.c_str(), end + 2, end + 4);
    if (mkdir(path, 0755) != 0 && errno != EEXIST) fail(path);
    k += snprintf(path + k, sizeof path - k, "/%.2s_%.2s_20%.2s", end, end + 2, end + 4);
    if (mkdir(path, 0755) != 0 && errno != EEXIST) fail(path);
    snprintf(path + k, sizeof path - k, "/%.2s_%.2s_20%.2s:%.2s", end, end + 2, end + 4, end + 6);
    fd_ = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) fail(path);
    return fd_;
  }

 private:
  std::string dir_;
  char hour_[8] = {};
  int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  const char* rawfile = nullptr;
  const char* logfile = nullptr;
  char endbyte = '\x03';
  int i = 1;
  for (; i < argc && argv[i][0] == '-'; ++i) {
    if (!strcmp(argv[i], "-r") && i + 2 < argc) {
      rawfile = argv[++i];
      logfile = argv[++i];
    } else if (!strcmp(argv[i], "-e") && i + 1 < argc) {
      endbyte = static_cast<char>(strtol(argv[++i], nullptr, 16));
    }
  }
  if (argc - i != 2) {
    fprintf(stderr, "usage: floor [-r RAWFILE LOGFILE -e ENDBYTE] LINESFILE CDRDIR\n");
    return 2;
  }
  pieces lines(argv[i], '\n');
  hourfiles store(argv[i + 1]);
  const char* p;
  size_t n;
  if (rawfile) {
    int log = open(logfile, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (log < 0) fail(logfile);
    pieces raw(rawfile, endbyte);
    while (raw.next(&p, &n)) writeall(log, p, n);
    close(log);
  }
  bool tostdout = strcmp(argv[i + 1], "-") == 0;
  while (lines.next(&p, &n)) writeall(tostdout ? STDOUT_FILENO : store.fileof(p, n), p, n);
  return 0;
}
