#include "store.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cdrline.h"
#include "diag.h"
#include "exit.h"
#include "filter.h"
#include "listing.h"
#include "rawin.h"
#include "settings.h"

uint32_t reccount;
int firstoutcall;
mpct lasttrec;
int flushingpacker;
cdrstream tavfp;

namespace {

int failcode() { return errno ? errno : exitfail; }

bool samehour(const mpct& a, const mpct& b) {
  return a.year == b.year && a.month == b.month && a.date == b.date && a.hour == b.hour;
}

// Makes one directory of the tree; an existing one is used as it is.
int makedir(const std::string& path) {
  for (;;) {
    if (mkdir(path.c_str(), 0755) == 0) return 0;
    if (errno == EEXIST) {
      errno = 0;
      return 0;
    }
    if (errno != EINTR) break;
    errno = 0;
    if (dodebug) errf("\nmkdir(%s) EINTR\n", path.c_str());
  }
  errf("ERROR: can't mkdir [%s] errno=%d\n", path.c_str(), errno);
  return failcode();
}

// A run killed (SIGKILL) while one of its writes crossed a page of the
// file may leave the first part of a line at its end: the system copies a
// write page by page and stops between pages for such a signal. That part
// is cut off, so that the next line does not continue it. The file is read
// through a second descriptor, the open one being write-only; st is the
// open file's status, and a file that is empty or not a regular one has
// nothing to cut, so it is not opened twice.
void cuttornline(int fd, const std::string& path, const struct stat& st) {
  if (!S_ISREG(st.st_mode) || st.st_size <= 0) return;
  int rd = open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC);
  if (rd < 0) return;
  char tail[cdrlinemax];
  off_t from = st.st_size > off_t{cdrlinemax} ? st.st_size - cdrlinemax : 0;
  ssize_t n = pread(rd, tail, static_cast<size_t>(st.st_size - from), from);
  close(rd);
  if (n <= 0 || tail[n - 1] == '\n') return;
  ssize_t keep = n;
  while (keep > 0 && tail[keep - 1] != '\n') --keep;
  if (keep == 0 && from > 0) return;  // longer than any line: not one of ours
  if (ftruncate(fd, from + keep) != 0) return;
  errf("WARNING: cdrfile [%s] ended in a torn line; cut off [%.*s]\n", path.c_str(),
       static_cast<int>(n - keep), tail + keep);
}

// The identity of the open hourly file, taken when it was opened: a file's
// device and inode do not change while it is open.
struct fileid {
  dev_t dev = 0;
  ino_t ino = 0;
  bool known = false;
  fileid() = default;
  fileid(dev_t d, ino_t i) : dev(d), ino(i), known(true) {}
};
fileid openid;

constexpr int hourfileflags = O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC;

// Makes fd, just opened at path, the CDR stream.
void usehourfile(int fd, const std::string& path) {
  struct stat st;
  if (fstat(fd, &st) == 0) {
    cuttornline(fd, path, st);
    openid = fileid{st.st_dev, st.st_ino};
  } else {
    openid = fileid{};
  }
  tavfp.fd = fd;
  tavfp.path = path;
}

int openhourfile(const std::string& path) {
  closecdr();
  for (;;) {
    int fd = open(path.c_str(), hourfileflags, 0666);
    if (fd >= 0) {
      usehourfile(fd, path);
      return 0;
    }
    if (errno != EINTR) break;
    errno = 0;
    if (dodebug) errf("\nfopen(%s) EINTR\n", path.c_str());
  }
  errf("ERROR: can't open cdrfile [%s] errno=%d\n", path.c_str(), errno);
  return failcode();
}

// Opens the file of the hour of gmpct, making its directories if needed.
int switchhour() {
  if (doXdebug) {
    errf("trec hour change  lasttrec=%02d%02d%02d%02d\n", lasttrec.year, lasttrec.month,
         lasttrec.date, lasttrec.hour);
    errf("                     gmpct=%02d%02d%02d%02d\n", gmpct.year, gmpct.month, gmpct.date,
         gmpct.hour);
  }
  int day = gmpct.date + 1, month = gmpct.month + 1, year = gmpct.year + 1984;
  std::string monthdir = cdrdir;
  appendf(monthdir, "/%02d_%04d", month, year);
  std::string daydir = monthdir;
  appendf(daydir, "/%02d_%02d_%04d", day, month, year);
  std::string path = daydir;
  appendf(path, "/%02d_%02d_%04d:%02d", day, month, year, gmpct.hour);
  // The directories are nearly always there already, and making them
  // would only be told so: the file is opened first, and only when that
  // fails are they made and the file opened as that would have it. Where
  // the open succeeds both directories exist, so each mkdir would have
  // failed with EEXIST, which makedir forgives with errno cleared.
  int saved = errno;
  if (int fd = open(path.c_str(), hourfileflags, 0666); fd >= 0) {
    closecdr();
    errno = 0;
    usehourfile(fd, path);
  } else {
    errno = saved;
    if (int rc = makedir(monthdir)) return rc;
    if (int rc = makedir(daydir)) return rc;
    if (int rc = openhourfile(path)) return rc;
  }
  lasttrec = gmpct;
  firstoutcall = 0;
  return 0;
}

// Writes the whole line with one write(2) where the system allows. Should a
// write stop part way (a full disk), the part written is cut off again.
int writeline(const char* line) {
  size_t len = strlen(line), done = 0;
  while (done < len) {
    ssize_t n = write(tavfp.fd, line + done, len - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      // A non-blocking descriptor inherited as standard output: wait here,
      // in the middle of a line, without acting on signals.
      pollfd p{tavfp.fd, POLLOUT, 0};
      poll(&p, 1, -1);
      continue;
    }
    if (n == 0) errno = EIO;
    int err = errno;
    struct stat st;
    if (done > 0 && fstat(tavfp.fd, &st) == 0 && S_ISREG(st.st_mode))
      (void)!ftruncate(tavfp.fd, st.st_size - static_cast<off_t>(done));
    errf("ERROR: can't write to cdrfile [%s] errno=%d\n", tavfp.path.c_str(), err);
    return exitfail;
  }
  return 0;
}

// The hourly file may be moved or removed while it is open (an archive
// script, an operator): the lines written to it would then be lost to the
// store. Its path is compared with the open file at the first line after
// each read from the input, and at most once a second in between.
time_t checkedat = 0;  // when hourfilegone() last looked
uint32_t checkedrefill = 0;

bool hourfilegone() {
  if (secs_now == checkedat && cdrfp.refills() == checkedrefill) return false;
  checkedat = secs_now;
  checkedrefill = cdrfp.refills();
  if (!openid.known) return false;
  struct stat named;
  if (stat(tavfp.path.c_str(), &named) == 0 && named.st_dev == openid.dev &&
      named.st_ino == openid.ino)
    return false;
  errf("WARNING: cdrfile [%s] was moved or removed; making it again\n", tavfp.path.c_str());
  return true;
}

}  // namespace

void resetstore() {
  reccount = 0;
  firstoutcall = 1;
  lasttrec = mpct{};
  flushingpacker = 0;
  checkedat = 0;
  checkedrefill = 0;
  openid = fileid{};
  if (tavfp.fd > STDERR_FILENO) close(tavfp.fd);
  tavfp = cdrstream{};
}

void closecdr() {
  if (tavfp.fd >= 0) close(tavfp.fd);
  tavfp.fd = -1;
}

int output_call(const pkrecord* pk) {
  char line[cdrlinemax];
  formcall(line, pk);
  if (!*cdrdir) {
    if (firstoutcall) {
      tavfp.fd = STDOUT_FILENO;
      tavfp.path = "stdout";
      firstoutcall = 0;
    }
  } else if (tavfp.fd < 0 || !samehour(gmpct, lasttrec) || hourfilegone()) {
    // A file that failed to open is tried again by the next call.
    if (int rc = switchhour()) return rc;
  }
  return writeline(line);
}

int postpacker(int nocall) {
  ++reccount;
  if (dodebug)
    errf("\n- %s - %s - rejcnt %ld%s\n", cap ? "cap" : "mpc", nocall ? "Not packed" : "Packed",
         static_cast<long>(pakrop.rejcnt), flushingpacker ? " [flushingpacker]" : "");
  if (nocall) return 0;
  uint8_t excluded = rejcall(&pkcall);
  if (dodebug)
    errf("-e%02x %02x%02x%02x %02x%02x%02x -call %s-\n", crjcode, stnlow[0], stnlow[1], stnlow[2],
         stnhigh[0], stnhigh[1], stnhigh[2], excluded ? "Excluded" : "Included");
  if (excluded) return 0;
  if (doXdebug) dumppak(&pkcall);
  return output_call(&pkcall);
}

int flushpackerqueue(void (*onfailure)(int code)) {
  if (dodebug) errf("flushingpacker: start\n");
  flushingpacker = 1;
  int last = 0;
  while (pabx.dequeue(&pkcall)) {
    if (dodebug) errf("flushingpacker: loop\n");
    if (int rc = postpacker(0)) {
      last = rc;
      onfailure(rc);
    }
  }
  flushingpacker = 0;
  if (dodebug) errf("flushingpacker: finish\n");
  return last;
}
