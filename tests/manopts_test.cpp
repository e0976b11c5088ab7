// The man page checker: what it takes for an option in a usage text and in
// a page, and the checker run on a program of the test's own.
#include "manopts.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/proc.h"
#include "support/tmpdir.h"

namespace {

using opts = std::set<std::string>;

TEST(ManOpts, UsageOptions) {
  struct {
    const char* text;
    opts want;
  } cases[] = {
      {"Usage: pktav [-i smdrfile] [-c | -m] [-s] -p]", {"-i", "-c", "-m", "-s", "-p"}},
      {"   eg. pktav -i n24.000 -e 15 -l 000100", {"-i", "-e", "-l"}},
      {"tool [-nxv] (--long-name) [--x,-y]", {"-n", "-x", "-v", "--long-name", "--x", "-y"}},
      {"or /dev/ttyS1 for serial port, host:port", {}},
      {"unrecognized option '--bogus'; invalid option -- 'Z'", {}},
      {"values from -12 to 99, a-b, x-1", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(usageoptions(c.text), c.want) << c.text;
}

TEST(ManOpts, PlainRoff) {
  struct {
    const char* line;
    const char* want;
  } cases[] = {
      {R"(.BI \-i " source")", "-i  source"},
      {R"([\fB\-e\fP\~\fIcode\fP])", "[-e code]"},
      {R"(.BR \-c ", " \-m)", "-c ,  -m"},
      {R"(\f(CW\-x\fR and \f[B]\-\-all\f[])", "-x and --all"},
      {R"(.B \%pktav@.service \(aq\e\&)", "pktav@.service \\"},
  };
  for (const auto& c : cases) EXPECT_EQ(plainroff(c.line), c.want) << c.line;
}

TEST(ManOpts, OnlyTagsCountAsDescribed) {
  const char* page = R"(.TH T 1
.SH OPTIONS
Mentioning \-q in the text describes nothing.
.TP
.BI \-i " source"
The source; unlike \-z.
.TP 8
.B \-a
.TQ
.B \-\-all
Both.
.\" .TP
.\" .B \-k
.IP "\-w \fIwidth\fP" 4
Width.
)";
  EXPECT_EQ(documentedoptions(page), (opts{"-i", "-a", "--all", "-w"}));
}

// The checker on a program that prints a usage text with -a, -b and --long.
class ManOptsRun : public ::testing::Test {
 protected:
  void SetUp() override {
    writefile(dir_.file("prog"),
              "#!/bin/sh\necho \"prog: unknown option '$1'\" >&2\n"
              "echo 'Usage: prog [-a] [-b n] [--long]' >&2\nexit 1\n");
    chmod(dir_.file("prog").c_str(), 0755);
  }
  procresult check(const std::string& page, const std::string& badarg = "--bogus") {
    writefile(dir_.file("prog.1"), page);
    return runproc({.argv = {MANOPTS, dir_.file("prog.1"), dir_.file("prog"), badarg}});
  }
  tmpdir dir_;
};

TEST_F(ManOptsRun, EveryOptionDescribedPasses) {
  procresult r = check(".TP\n.B \\-a\n.TP\n.BI \\-b \" n\"\n.TP\n.B \\-\\-long\n");
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.out.find("3 options described"), std::string::npos) << r.out;
}

TEST_F(ManOptsRun, AMissingOptionIsNamed) {
  procresult r = check(".TP\n.B \\-a\nAlso \\-b in the text.\n.TP\n.B \\-\\-long\n");
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find(": -b is not described in"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("-a is not"), std::string::npos) << r.err;
}

TEST_F(ManOptsRun, AUsageTextWithoutOptionsFails) {
  writefile(dir_.file("prog"), "#!/bin/sh\necho 'nothing to see'\n");
  procresult r = check(".TP\n.B \\-a\n");
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("named no option"), std::string::npos) << r.err;
}

TEST_F(ManOptsRun, AMissingPageOrProgramIsAnError) {
  procresult r = runproc({.argv = {MANOPTS, dir_.file("none.1"), dir_.file("prog"), "-%"}});
  EXPECT_EQ(r.code, 2) << describe(r);
  writefile(dir_.file("prog.1"), ".TP\n.B \\-a\n");
  r = runproc({.argv = {MANOPTS, dir_.file("prog.1"), dir_.file("none"), "-%"}});
  EXPECT_EQ(r.code, 2) << describe(r);
}

}  // namespace
