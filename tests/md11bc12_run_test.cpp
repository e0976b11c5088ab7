// The md11bc12 program as a user runs it: its version, a usage text
// without TCP, colons in file names, calls stored at once, rejects counted.
#include <gtest/gtest.h>

#include <string>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_MD11BC12;
const std::string banner = "\nPC-TAV PABX Packer [3.11 VU110RE12  #1 ]\n\n";

TEST(Md11bc12Run, BannerAndUsageWithoutTcpRows) {
  procresult r = runproc(packer(bin, {"-q"}));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_EQ(r.err.rfind(banner, 0), 0u) << r.err;
  EXPECT_NE(r.err.find("invalid option -- 'q'\n" + usagetext(false) + " "), std::string::npos)
      << r.err;
}

TEST(Md11bc12Run, HostAndPortIsAFileName) {
  tmpdir dir;
  std::string name = dir.file("pbx:2000");
  writefile(name, md110calls(0, 2));
  procresult r = runproc(packer(bin, {"-x", "-v", "-i", name}));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.err.find(banner + "inputfile = [" + name + "]\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, md110line(0) + md110line(1));
}

TEST(Md11bc12Run, EachCallIsStoredAtOnce) {
  procspec job = packer(bin, {"-v"});
  job.stdinkind = procspec::pipe;
  childproc p(job);
  p.writein(md110call(0));
  ASSERT_TRUE(p.waitfor_out(md110line(0)));
  std::string bad = md110call(9);
  bad[17] = 'x';  // a separator column
  p.writein("\n\n" + bad + std::string(50, 'n') + "\n" + md110call(1));
  ASSERT_TRUE(p.waitfor_out(md110line(0) + md110line(1)));
  p.closein();
  procresult r = p.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, md110line(0) + md110line(1));  // nothing held back for the end
  EXPECT_NE(r.err.find("Rec: 3          Rej: 1 "), std::string::npos) << r.err;
}

TEST(Md11bc12Run, StoreTreeByTheStampOfTheCall) {
  tmpdir dir;
  procspec job = packer(bin, {"-v", "-o", dir.path()});
  job.stdinkind = procspec::pipe;
  procresult r = runproc(job, md110calls(0, 3) + md110call(60));
  EXPECT_EQ(r.code, 0) << describe(r);
  std::string year = "20" + thisyear();
  std::string day = dir.path() + "/01_" + year + "/01_01_" + year + "/01_01_" + year;
  EXPECT_EQ(readfile(day + ":10"), md110line(0) + md110line(1) + md110line(2));
  EXPECT_EQ(readfile(day + ":11"), md110line(60));
}

TEST(Md11bc12Run, BundledSampleIsWhatItsGeneratorWrites) {
  procresult gen = runproc(procspec{.argv = {MKSAMPLE, "md110"}});
  ASSERT_EQ(gen.code, 0) << describe(gen);
  EXPECT_EQ(gen.out, readfile(std::string(EXAMPLES_DIR) + "/md110.smdr"));
  procresult r =
      runproc(packer(bin, {"-v", "-M", "-i", std::string(EXAMPLES_DIR) + "/md110.smdr"}));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_GT(occurrences(r.out, "\n"), 20);
  EXPECT_NE(r.err.find(" Rej: 2 "), std::string::npos) << r.err;
}

}  // namespace
