// tailclip: cuts a text file down to its last lines, in place.
//
//   tailclip [-n #_lines] -f file_to_trim
//
// The file is copied to a private scratch file in /tmp while its line feeds
// are counted. When it holds more lines than wanted, it is emptied and its
// last lines are copied back into the same inode, so that its owner, its
// permissions and its hard links stay, and a program appending to it goes on
// writing to it. Both passes stream through one fixed buffer: memory does not
// grow with the size of the file or the length of its lines.
//
// Once the file has been emptied, the scratch file holds the only whole copy
// of its former content; every failure from then on keeps it and names it.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int exit_ok = 0;
constexpr int exit_fail = 1;
constexpr long default_lines = 1000;
constexpr std::size_t name_max = 128;  // longest -f name `filename` holds

const char* Prog = "tailclip";  // invocation name, for the usage text
char filename[name_max + 1];    // the file to trim
char tempname[name_max + 1];    // the scratch file, "/tmp/trim<pid>"
int infile = -1;                // the file: read by the copy, then rewritten
int tempfile = -1;              // the scratch copy
struct stat statbuf;            // the file's status, checked before each open
bool scratchonly = false;       // only the scratch file holds the content
sigset_t held;                  // signals held back while the file is cut

char buf[64 * 1024];

[[noreturn]] void usage() {
  std::fprintf(stderr, "Usage: %s [-n #_lines] -f file_to_trim\n", Prog);
  std::fprintf(stderr, "\t default #_lines is %ld\n", default_lines);
  std::exit(exit_fail);
}

// Reports a failed system call on `name` the way a failed status query is
// reported: the call and the file, then the system's error text.
void syserr(const char* call, const char* name) {
  const int err = errno;
  std::fprintf(stderr, "%s(2) of \"%s\" has failed.\n", call, name);
  errno = err;
  std::perror(call);
}

// Ends the run. The scratch file is removed unless it holds the only whole
// copy of the file's former content, which is never given up.
[[noreturn]] void finish(int status) {
  if (tempfile >= 0 && scratchonly) {
    std::fprintf(stderr, "the former content of \"%s\" is kept in \"%s\"\n", filename, tempname);
  } else if (tempfile >= 0 && unlink(tempname) != 0) {
    syserr("unlink", tempname);
    status = exit_fail;
  }
  sigprocmask(SIG_UNBLOCK, &held, nullptr);  // a held signal ends the run now
  std::exit(status);
}

// From the emptying of the file until its new content is on disk, the
// signals that usually stop a program are held back: the write-back is
// short, and stopping halfway would leave the file cut and the scratch file
// unnamed. A file size limit is met with a write error to report, not with
// the silent end SIGXFSZ would bring.
void setsignals() {
  signal(SIGXFSZ, SIG_IGN);
  sigemptyset(&held);
  for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) sigaddset(&held, sig);
}

// Reads the line count the way atoi does: leading blanks, a sign, then the
// digits up to the first other character; text without digits is 0.
// Counts beyond the range of long are held at its ends instead of wrapping.
long readcount(const char* text) { return std::strtol(text, nullptr, 10); }

// Reads the command line into `Prog` and `filename`; returns the line count.
long readargs(int argc, char** argv) {
  if (argc > 0 && argv[0] != nullptr) Prog = argv[0];
  long lines = default_lines;
  const char* name = "";
  opterr = 0;  // a bad option is answered by the usage text alone
  for (int c; (c = getopt(argc, argv, "n:f:")) != -1;) {
    if (c == 'n') {
      lines = readcount(optarg);
    } else if (c == 'f') {
      name = optarg;
    } else {
      usage();
    }
  }
  if (lines < 0 || *name == '\0') usage();
  // Cutting the name could make it another file's name; refuse instead.
  if (std::strlen(name) > name_max) {
    std::fprintf(stderr, "\"%s\": file name longer than %zu characters\n", name, name_max);
    std::exit(exit_fail);
  }
  std::strcpy(filename, name);
  return lines;
}

// Ends the run unless `filename` is a regular file of more than `lines`
// bytes. A smaller file cannot hold more lines, so it is not even opened.
void checkfile(long lines) {
  if (stat(filename, &statbuf) != 0) {
    syserr("stat", filename);
    std::exit(exit_fail);
  }
  if (!S_ISREG(statbuf.st_mode)) {
    std::fprintf(stderr, "%s NOT a Regular File\n", filename);
    std::exit(exit_fail);
  }
  if (statbuf.st_size <= lines) std::exit(exit_ok);
}

// Opens the file for the copy. O_NONBLOCK keeps a name swapped for a FIFO
// since the status query from blocking the open; the check below refuses it.
void openfile() {
  infile = open(filename, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (infile < 0) {
    syserr("open", filename);
    std::exit(exit_fail);
  }
  if (fstat(infile, &statbuf) != 0 || !S_ISREG(statbuf.st_mode)) {
    std::fprintf(stderr, "%s NOT a Regular File\n", filename);
    std::exit(exit_fail);
  }
}

// Creates the scratch file, private to this run. An existing name is never
// opened: it may be a stale scratch file, or a link planted to redirect the
// copy of a file root can read. Another name with the same prefix is drawn.
void makescratch() {
  const int pid = static_cast<int>(getpid());
  std::snprintf(tempname, sizeof tempname, "/tmp/trim%d", pid);
  tempfile = open(tempname, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (tempfile < 0 && errno == EEXIST) {
    std::snprintf(tempname, sizeof tempname, "/tmp/trim%d.XXXXXX", pid);
    tempfile = mkstemp(tempname);
  }
  if (tempfile < 0) {
    syserr("open", tempname);
    std::exit(exit_fail);
  }
}

// Reads the next block of `fd` into `buf`, resuming after a signal; 0 at
// its end. A read error ends the run.
std::size_t readblock(int fd, const char* name) {
  ssize_t n;
  do {
    n = read(fd, buf, sizeof buf);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    syserr("read", name);
    finish(exit_fail);
  }
  return static_cast<std::size_t>(n);
}

// Writes all `size` bytes, resuming after signals and short writes. A write
// error ends the run.
void writeblock(int fd, const char* name, const char* from, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, from, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      syserr("write", name);
      finish(exit_fail);
    }
    from += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Appends the rest of `infile` to the scratch file; adds its line feeds to
// `count`.
void copyout(long long& count) {
  while (const std::size_t n = readblock(infile, filename)) {
    count += std::count(buf, buf + n, '\n');
    writeblock(tempfile, tempname, buf, n);
  }
}

// Copies the scratch file into `infile`, leaving out its first `skip` lines.
void copyback(long long skip) {
  if (lseek(tempfile, 0, SEEK_SET) != 0) {
    syserr("lseek", tempname);
    finish(exit_fail);
  }
  while (const std::size_t n = readblock(tempfile, tempname)) {
    const char* from = buf;
    const char* const end = buf + n;
    for (; skip > 0 && from < end; --skip) {
      const void* lf = std::memchr(from, '\n', static_cast<std::size_t>(end - from));
      if (lf == nullptr) {
        from = end;
        break;
      }
      from = static_cast<const char*>(lf) + 1;
    }
    writeblock(infile, filename, from, static_cast<std::size_t>(end - from));
  }
}

// Opens the file again for rewriting; it must still be the inode the copy
// read, or the rewrite would empty some other file put in its place.
int reopen() {
  // O_APPEND: a line another program appends while the last lines are
  // written back lands after them instead of being overwritten.
  const int fd = open(filename, O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    syserr("open", filename);
    finish(exit_fail);
  }
  struct stat now;
  if (fstat(fd, &now) != 0 || now.st_dev != statbuf.st_dev || now.st_ino != statbuf.st_ino) {
    std::fprintf(stderr, "\"%s\" was replaced while being trimmed\n", filename);
    finish(exit_fail);
  }
  return fd;
}

// Empties the file and writes back its last `lines` lines; `count` is the
// number of line feeds copied so far. The scratch copy is on disk before the
// file is emptied, and the new content before the scratch file may go.
void rewrite(long long count, long lines) {
  const int fd = reopen();
  copyout(count);  // what was appended since the copy is kept as well
  close(infile);
  infile = fd;
  if (fdatasync(tempfile) != 0) {
    syserr("fsync", tempname);
    finish(exit_fail);
  }
  sigprocmask(SIG_BLOCK, &held, nullptr);
  if (ftruncate(infile, 0) != 0) {
    syserr("ftruncate", filename);
    finish(exit_fail);
  }
  scratchonly = true;
  copyback(count - lines);
  if (fdatasync(infile) != 0) {
    syserr("fsync", filename);
    finish(exit_fail);
  }
  if (close(infile) != 0) {
    syserr("close", filename);
    finish(exit_fail);
  }
  infile = -1;
  scratchonly = false;
}

}  // namespace

int main(int argc, char** argv) {
  setsignals();
  const long lines = readargs(argc, argv);
  checkfile(lines);
  openfile();
  makescratch();
  long long count = 0;
  copyout(count);
  if (count > lines) rewrite(count, lines);
  finish(exit_ok);
}
