// tailclip: cuts a text file down to its last lines, in place.
//
//   tailclip [-n #_lines] -f file_to_trim
//
// The file is copied to a private scratch file in /tmp while its line feeds
// are counted. When it holds more lines than wanted, it is cut to the length
// of its last lines and they are copied back over its head, in the same
// inode, so that its owner, its permissions and its hard links stay, and a
// program appending to it goes on writing to it (rewrite() tells how its
// lines are kept). Every pass streams through one fixed buffer: memory does
// not grow with the size of the file or the length of its lines.
//
// Once the file has been cut, the scratch file holds the only whole copy of
// its former content; every failure from then on keeps it and names it.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
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
// How long a copy that ends inside a line waits once for its rest: a write
// in progress ends within microseconds, unless its writer is preempted.
constexpr long linewait_ns = 10 * 1000 * 1000;

const char* Prog = "tailclip";  // invocation name, for the usage text
char filename[name_max + 1];    // the file to trim
char tempname[name_max + 1];    // the scratch file, "/tmp/trim<pid>"
int infile = -1;                // the file: read by the copy, then rewritten
int tempfile = -1;              // the scratch copy
off_t copied = 0;               // bytes of the file copied to the scratch file
char lastcopied = '\n';         // the last of them
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

// From the cutting of the file until its new content is on disk, the
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

// Reads up to `size` bytes of `fd` into `buf`, from offset `at`, or from
// its file offset when `at` is negative; resumes after a signal; 0 at its
// end. A read error ends the run.
std::size_t readblock(int fd, const char* name, off_t at = -1, std::size_t size = sizeof buf) {
  ssize_t n;
  do {
    n = at < 0 ? read(fd, buf, size) : pread(fd, buf, size, at);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    syserr("read", name);
    finish(exit_fail);
  }
  return static_cast<std::size_t>(n);
}

// Writes all `size` bytes, at offset `at` onwards, or at the file offset
// when `at` is negative; resumes after signals and short writes. A write
// error ends the run.
void writeblock(int fd, const char* name, const char* from, std::size_t size, off_t at = -1) {
  while (size > 0) {
    const ssize_t n = at < 0 ? write(fd, from, size) : pwrite(fd, from, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      syserr("write", name);
      finish(exit_fail);
    }
    from += n;
    size -= static_cast<std::size_t>(n);
    if (at >= 0) at += n;
  }
}

// Appends the rest of `infile` to the scratch file, until a read finds its
// end; adds its bytes to `copied`. Returns the number of line feeds copied.
long long copyout() {
  long long count = 0;
  while (const std::size_t n = readblock(infile, filename)) {
    count += std::count(buf, buf + n, '\n');
    writeblock(tempfile, tempname, buf, n);
    copied += static_cast<off_t>(n);
    lastcopied = buf[n - 1];
  }
  return count;
}

// The offset in the scratch file where the last `lines` lines of its first
// `size` bytes begin: just past the line feed `lines` + 1 from their end,
// which the caller knows to be there. Reads only the lines kept.
off_t keptstart(off_t size, long lines) {
  long long left = lines + 1LL;
  for (off_t end = size; end > 0;) {
    const auto want = static_cast<std::size_t>(std::min<off_t>(end, sizeof buf));
    const off_t from = end - static_cast<off_t>(want);
    if (readblock(tempfile, tempname, from, want) != want) break;
    for (std::size_t len = want; const void* lf = memrchr(buf, '\n', len);) {
      len = static_cast<std::size_t>(static_cast<const char*>(lf) - buf);
      if (--left == 0) return from + static_cast<off_t>(len) + 1;
    }
    end = from;
  }
  errno = EIO;  // the scratch file has lost part of the copy
  syserr("read", tempname);
  finish(exit_fail);
}

// Writes bytes `from` to `copied` of the scratch file over the head of
// `infile`, at offset 0 onwards.
void copyback(off_t from) {
  for (off_t at = from; at < copied;) {
    const auto want = static_cast<std::size_t>(std::min<off_t>(copied - at, sizeof buf));
    const std::size_t n = readblock(tempfile, tempname, at, want);
    if (n == 0) {
      errno = EIO;  // the scratch file has lost part of the copy
      syserr("read", tempname);
      finish(exit_fail);
    }
    writeblock(infile, filename, buf, n, at - from);
    at += static_cast<off_t>(n);
  }
}

// Opens the file again for rewriting; it must still be the inode the copy
// read, or the rewrite would cut some other file put in its place.
int reopen() {
  // No O_APPEND: the kept lines are written at offsets of their own, over
  // the head of the file (with O_APPEND, Linux would append them instead).
  const int fd = open(filename, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

// Cuts the file down to its last `lines` lines as of the copy, of which it
// holds more, and every byte appended to it since.
//
// A writer appends whenever it likes and takes no lock, so the cut is laid
// out for what its appends can meet. The file is cut to the length of what
// is kept right after a read has found its end, and only then are the kept
// bytes written over its head, at offsets below that length: a line
// appended after the cut lands after them, in order, and whole, since the
// kernel serializes an append and the cut. What can go is what is appended
// between that last read and the cut, two system calls apart: a line
// appended then is lost. A read can also show part of a line, which its
// writer is still writing (in several writes, or in one that crosses a
// page, which other programs see a page at a time): cut there, the line
// would lose its rest and run on into the next one. So a copy that ends
// inside a line waits a moment for its rest before the cut; only a line
// still unfinished after that, whose rest comes in the window, is torn.
//
// Truncating last instead, after writing the head, keeps the same window
// but leaves the file longer than what is kept all the while: every append
// made meanwhile would have to be chased and moved down before the cut.
// Removing the head in place (fallocate with FALLOC_FL_COLLAPSE_RANGE)
// would need no window, but removes whole blocks only, and not on every
// file system.
//
// The scratch copy is on disk before the cut (what the writer appended in
// the last instants is read into it but not synced, as syncing takes longer
// than a busy writer pauses), and the new content before the scratch file
// may go.
void rewrite(long lines) {
  const int fd = reopen();
  const off_t keep = keptstart(copied, lines);
  if (fdatasync(tempfile) != 0) {
    syserr("fsync", tempname);
    finish(exit_fail);
  }
  sigprocmask(SIG_BLOCK, &held, nullptr);
  copyout();  // what was appended since the copy is kept as well
  if (lastcopied != '\n') {
    // The copy ends inside a line: its writer may still be writing it. A
    // moment for the rest, then the cut follows the read that finds the end.
    const timespec moment{0, linewait_ns};
    nanosleep(&moment, nullptr);
    copyout();
  }
  if (ftruncate(fd, copied - keep) != 0) {
    syserr("ftruncate", filename);
    finish(exit_fail);
  }
  scratchonly = true;
  close(infile);
  infile = fd;
  copyback(keep);
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
  if (copyout() > lines) rewrite(lines);
  finish(exit_ok);
}
