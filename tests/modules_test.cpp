// The list of modules against the modules themselves. pktav-site and
// pktav-link take a build's end byte, and whether its -i reads host:port,
// from the list; the packer takes them from the module's framing and flags.
// A module whose entry says otherwise would be fed records cut at the wrong
// byte, or refused a source it reads.
#include "support/modules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

namespace {

TEST(ModuleList, SaysOfEachModuleWhatItsUnitSays) {
  ASSERT_GT(std::size(allmodules), 0u);
  for (const moduleentry& m : allmodules) {
    SCOPED_TRACE(m.name);
    EXPECT_EQ(m.module.frame.etx, m.end);
    EXPECT_EQ(m.module.tcpinput, m.tcp);
    // The banner and the listing show the version text as 19 characters.
    EXPECT_EQ(strnlen(m.module.pakver, sizeof m.module.pakver), 19u);
  }
}

}  // namespace
