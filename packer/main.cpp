// pktav: collects the call records that a telephone exchange prints on its
// SMDR output into a store of CDR lines.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "pabx/pabx.h"
#include "packer/diag.h"
#include "packer/driver.h"
#include "packer/exit.h"
#include "packer/options.h"
#include "packer/settings.h"
#include "packer/sigwait.h"
#include "packer/source.h"
#include "packer/state.h"

namespace {

// Started with a standard descriptor closed, the first file or socket the
// packer opens would take its place: statistics would land in the store,
// or be sent to the exchange. /dev/null stands in for a closed one.
void keepstandardfds() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) != fd)
      _exit(exitfail);
  }
}

}  // namespace

int main(int argc, char** argv) {
  keepstandardfds();
  resetpacker();
  errf("\n");
  printpkid();
  errf("\n\n");
  if (!parseoptions(argc, argv)) {
    usage();
    my_exit(exitfail);
  }
  // The pause reads its key from standard input.
  if (!*start.inputpath && !nopause) fatalf("ERROR: can't use pause with stdin mode\n");
  if (dodebug) dumpsettings();
  installsignals();
  setsignalservice(servicesignals);
  alarm(0);
  if (!pabx.tcpinput) pktav(start.inputpath);
  openinput(start.inputpath, start.hostname, start.hostport);
  pktav(nullptr);
}
