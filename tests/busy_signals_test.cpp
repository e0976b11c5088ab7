// Signals that come while input never stops: /dev/zero is always ready and
// never ends (its bytes are noise to every framing), so the packer is busy
// at every moment and has no idle wait in which a signal could slip in.
// Each signal must still be acted on promptly, in every build.
#include <gtest/gtest.h>

#include <string>

#include "support/builds.h"

namespace {

class BusySignals : public ::testing::TestWithParam<packerbuild> {
 protected:
  // The packer reading /dev/zero, raw log on into /dev/null.
  procspec busy() const { return packer(GetParam().bin, {"-i", "/dev/zero", "-R", "/dev/null"}); }
};

TEST_P(BusySignals, EachSignalIsActedOnWhileInputIsAlwaysReady) {
  childproc p(busy());
  ASSERT_TRUE(p.waitfor_err("Opened raw data file /dev/null\n"));

  p.signal(SIGUSR1);
  EXPECT_TRUE(p.waitfor_err("Closed raw data file /dev/null\n", 5000)) << p.err();
  EXPECT_TRUE(p.waitfor_err("do_toglograw() sig=10  now dolograw=0\n", 5000)) << p.err();

  p.signal(SIGALRM);
  EXPECT_TRUE(p.waitfor_err(" Rec: 0          Rej: 0 ", 5000, 2)) << p.err();

  p.signal(SIGTERM);
  procresult r = p.wait(5000);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_NE(r.err.find("\ndo_terminate() sig=15\n"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Builds, BusySignals, ::testing::ValuesIn(allbuilds), buildname);

}  // namespace
