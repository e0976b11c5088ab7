// libFuzzer entry for the whole way of a byte stream: framing by a chosen
// module, decoding, the queue and its pairing, the filter, the CDR line and
// the store (on /dev/null), then the flush of the queue at the end.
//
// The first byte chooses the module and the settings; the rest is the
// stream, read through a pipe as the packer reads its input. Run it with
// -close_fd_mask=2: the traces of -x go to standard error.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>

#include "packer/framer.h"
#include "packer/ptime.h"
#include "packer/rawin.h"
#include "packer/settings.h"
#include "packer/state.h"
#include "packer/store.h"
#include "support/modules.h"

extern pabxmodule testmodule;  // the module `pabx` names in this program

namespace {

struct endofinput {};

[[noreturn]] void atend() { throw endofinput{}; }

int devnull = -1;

bool setup() {
  setenv("TZ", "Europe/Berlin", 1);
  devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  return devnull >= 0;
}

void configure(uint8_t flags) {
  resetpacker();
  pkrecord held;
  for (const moduleentry& m : allmodules)  // calls a run with another module left
    while (m.module.dequeue(&held)) {
    }
  settimescale();
  testmodule = allmodules[flags % std::size(allmodules)].module;
  cap = (flags >> 2) & 1;
  sector0[maskparity] = flags & 0x08 ? 4 : 0;
  dtvalidate = (flags >> 4) & 1;
  systime = (flags >> 5) & 1;
  crjcode = flags & 0x40 ? 0x14 : 0;  // mode 1: the range 4200 .. 4299 excluded
  stnlow[1] = 0x42;
  stnhigh[1] = 0x42;
  stnhigh[2] = 0x99;
  dodebug = flags >> 7;
  // The store writes to /dev/null as if it were standard output.
  firstoutcall = 0;
  tavfp.fd = devnull;
  tavfp.path = "fuzz";
}

// A pipe holding the stream; its reading end, or -1.
int streamof(const uint8_t* data, size_t size) {
  int fds[2];
  if (size > 65536 || pipe2(fds, O_CLOEXEC) != 0) return -1;
  bool whole = write(fds[1], data, size) == static_cast<ssize_t>(size);
  close(fds[1]);
  if (whole) return fds[0];
  close(fds[0]);
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = setup();
  if (!ready || size < 1) return 0;
  int fd = streamof(data + 1, size - 1);
  if (fd < 0) return 0;
  configure(data[0]);
  cdrfp.attach(fd);
  cdrfp.setend(atend);
  try {
    for (;;) {
      handlerawrec();
      int got = pabx.packrec(&pkcall);
      postpacker(got ? 0 : 1);
    }
  } catch (const endofinput&) {
  }
  flushpackerqueue([](int) {});
  tavfp.fd = -1;  // /dev/null stays open for the next run
  cdrfp.reset();
  return 0;
}
