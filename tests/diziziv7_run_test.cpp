// The diziziv7 program as a user runs it: its version, a usage text and
// settings without TCP, colons in file names, the queue's delay and flush.
#include <gtest/gtest.h>

#include <string>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_DIZIZIV7;
const std::string banner = "\nPC-TAV PABX Packer [3.11 Diziziv7 #13  ]\n\n";

TEST(Diziziv7Run, BannerAndUsageWithoutTcpRows) {
  procresult r = runproc(packer(bin, {"-?"}));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.err.rfind(banner, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("invalid option -- '?'\n" + usagetext(false) + " "), std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("hostname:port"), std::string::npos);
}

TEST(Diziziv7Run, HostAndPortIsAFileName) {
  tmpdir dir;
  std::string name = dir.file("exchange:4000");
  procresult r = runproc(packer(bin, {"-x", "-i", name}));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find(banner + "inputfile = [" + name + "]\nhandshakeport = []\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("Can't open input " + name + "   errno=2\n"), std::string::npos);
  EXPECT_EQ(r.err.find("TCP"), std::string::npos);

  writefile(name, neaxcalls(0, 3));
  r = runproc(packer(bin, {"-v", "-i", name}));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 3));
}

TEST(Diziziv7Run, CallsWaitForTheQueueAndAreFlushedWithRejectsCounted) {
  procspec job = packer(bin, {"-v"});
  job.stdinkind = procspec::pipe;
  childproc p(job);
  std::string bad = neaxcall(99);
  bad[11] = '7';  // no such class
  p.writein(neaxcalls(0, 12) + bad + neaxcalls(12, 12));
  ASSERT_TRUE(p.waitfor_out(neaxline(0)));
  p.writein(neaxcall(24) + "\x03" + bad);
  ASSERT_TRUE(p.waitfor_out(neaxlines(0, 2)));
  p.closein();
  procresult r = p.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 25));
  EXPECT_NE(r.err.find("Rec: 27         Rej: 2 "), std::string::npos) << r.err;
}

}  // namespace
