// pktav: collects the call records that a telephone exchange prints on its
// SMDR output into a store of CDR lines.
#include <unistd.h>

#include "pabx/pabx.h"
#include "packer/diag.h"
#include "packer/driver.h"
#include "packer/exit.h"
#include "packer/options.h"
#include "packer/settings.h"
#include "packer/sigwait.h"
#include "packer/source.h"
#include "packer/state.h"

int main(int argc, char** argv) {
  resetpacker();
  errf("\n");
  printpkid();
  errf("\n\n");
  parseoptions(argc, argv);
  if (!*start.inputpath && !nopause) {
    // The pause reads its key from standard input.
    errf("ERROR: can't use pause with stdin mode\n");
    my_exit(exitfail);
  }
  if (dodebug) dumpsettings();
  installsignals();
  setsignalservice(servicesignals);
  alarm(0);
  if (!pabx.tcpinput) pktav(start.inputpath);
  openinput(start.inputpath, start.hostname, start.hostport);
  pktav(nullptr);
}
