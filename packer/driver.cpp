#include "driver.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>

#include "diag.h"
#include "exit.h"
#include "framer.h"
#include "pabx/pabx.h"
#include "ptime.h"
#include "rawin.h"
#include "settings.h"
#include "sigwait.h"
#include "source.h"
#include "store.h"

uint32_t lastreccount;

namespace {

constexpr unsigned statsinterval = 60;  // seconds
constexpr uint8_t abortkey = 3;         // the byte that ends the pause prompt

// "Hit Return Key." and one byte from standard input; the byte 3 ends the
// program, anything else (or the end of the input) goes on.
void pauseforkey() {
  errf("Hit Return Key.");
  for (;;) {
    waitfd(STDIN_FILENO, POLLIN);
    uint8_t key;
    ssize_t n = read(STDIN_FILENO, &key, 1);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n == 1 && key == abortkey) my_exit(exitfail);
    return;
  }
}

// A failure while queued calls are flushed at exit: report it as a new end
// with its code, then go on with the calls left.
void exitagain(int code) {
  dostats();
  errf("\n\nmy_exit: errcode = %d\n", code);
}

}  // namespace

void dostats() {
  getcurtime(realt);
  const char* first = pabxerr ? errmsg : prvetime ? rptbin2asc(prvetime) : "";
  char stamp[64];
  if (!asctime_r(tm_now, stamp))
    snprintf(stamp, sizeof stamp, "%ld\n", static_cast<long>(secs_now));
  errf(" %-18.18s  Rec: %-10lu Rej: %-10lu  %s", first, static_cast<unsigned long>(reccount),
       static_cast<unsigned long>(pakrop.rejcnt), stamp);
  pabxdep_status(reccount != lastreccount ? 1 : 0);
  lastreccount = reccount;
  if (dolograw) errf("Logging raw smdr to %s.\n", rawfile);
}

void do_terminate(int sig) {
  errf("\ndo_terminate() sig=%d\n", sig);
  my_exit(exitok);
}

void do_toglograw(int sig) {
  // The bytes taken so far belong to the logging period now ending.
  cdrfp.flushlog();
  if (dolograw) {
    closerawlog();
    dolograw = 0;
    endline();
    errf("Closed raw data file %s\n", rawfile);
  } else {
    dolograw = 1;
  }
  errf("\ndo_toglograw() sig=%d  now dolograw=%d\n", sig, dolograw);
}

void do_alarm(int) {
  alarm(statsinterval);
  endline();
  dostats();
}

void servicesignals() {
  if (int sig = takesignal(noted::terminate)) do_terminate(sig);
  if (int sig = takesignal(noted::toggle)) do_toglograw(sig);
  if (int sig = takesignal(noted::alarm)) do_alarm(sig);
}

void fatalf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  verrf(fmt, ap);
  va_end(ap);
  my_exit(exitfail);
}

void my_exit(int code) {
  static bool exiting = false;
  if (exiting) _exit(code);  // nothing inside the sequence calls it again
  exiting = true;

  if (!cdrfp.synclog()) code = exitfail;
  endline();
  dostats();
  errf("\n\nmy_exit: errcode = %d\n", code);
  if (int failed = flushpackerqueue(exitagain)) code = failed;
  cdrfp.close();
  closecdr();
  closerawlog();
  exit(code);
}

void pktav(const char* inputpath) {
  if (inputpath) openinput(inputpath, nullptr, nullptr);
  settimescale();
  pabxdep_init();
  pakrop.rejcnt = 0;
  alarm(statsinterval);
  if (!dodebug) dostats();
  for (;;) {
    if (dodebug) dostats();
    if (!nopause) pauseforkey();
    handlerawrec();
    int got = pabx.packrec(&pkcall);
    if (int rc = postpacker(got ? 0 : 1)) my_exit(rc);
  }
}
