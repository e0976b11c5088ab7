// The deviroz7e program's command line, as a user meets it: banner, usage,
// settings dump, refused combinations and the pause prompt.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_DEVIROZ7E;
const std::string banner = "\nPC-TAV PABX Packer [3.12 Deviroz7e #13 ]\n\n";
const std::string zerostats = " " + std::string(18, ' ') + "  Rec: 0          Rej: 0           ";

// The dump of the settings that follow the defaults except where given.
std::string dump(const std::string& source, const std::string& rest) {
  return source + rest + "\n";
}

const std::string defaults =
    "handshakeport = []\noutputdir=[stdout]\nnopause = 1\ndodebug = 1\ndoXdebug = 0\n"
    "dodumpt = 0\ndolograw = 0\nrawfile = [rawsmdr]\ncap = 1 (cap)\ndtvalidate = 1\n"
    "systime = 0\nMASK parity flag = 00\ncrjcode = 00\nstnlow  = 000000\nstnhigh = 000000\n";

TEST(Deviroz7eCli, BadOptionShowsUsageAndEndsWithCodeOne) {
  procresult r = runproc(packer(bin, {"-z"}));
  ASSERT_TRUE(r.exited) << describe(r);
  EXPECT_EQ(r.code, 1);
  ASSERT_EQ(r.err.rfind(banner, 0), 0u) << r.err;
  std::string rest = r.err.substr(banner.size());
  EXPECT_NE(rest.find("invalid option -- 'z'\n" + usagetext(true) + zerostats), std::string::npos)
      << rest;
  EXPECT_EQ(rest.substr(rest.size() - 23), "\n\nmy_exit: errcode = 1\n");
  EXPECT_EQ(r.out, "");
}

TEST(Deviroz7eCli, MissingOptionArgumentShowsUsage) {
  procresult r = runproc(packer(bin, {"-x", "-e"}));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("option requires an argument -- 'e'\n" + usagetext(true)),
            std::string::npos);
}

TEST(Deviroz7eCli, SettingsDump) {
  struct {
    std::vector<std::string> options;
    std::string want;
  } cases[] = {
      {{"-x"}, dump("inputfile = [stdin]\n", defaults)},
      {{"-xmc", "-s", "-p", "-e", "15", "-l", "000100", "-h", "000199", "-i", "/no/such/in"},
       dump("inputfile = [/no/such/in]\n",
            "handshakeport = []\noutputdir=[stdout]\nnopause = 1\ndodebug = 1\ndoXdebug = 0\n"
            "dodumpt = 0\ndolograw = 0\nrawfile = [rawsmdr]\ncap = 1 (cap)\ndtvalidate = 1\n"
            "systime = 0\nMASK parity flag = 00\ncrjcode = 15\nstnlow  = 000100\nstnhigh = "
            "000199\n")},
      {{"-X",      "-t", "-RmyRaw",    "-c", "-m", "-v", "-M", "-s", "-H", "/dev/cua1",   "-o",
        "/no/cdr", "-i", "/dev/ttyS1", "-i", "",   "-o", "",   "-e", "zz", "ignored-word"},
       dump("inputfile = [/dev/ttyS1]\n",
            "handshakeport = [/dev/cua1]\noutputdir=[/no/cdr]\nnopause = 1\ndodebug = 1\n"
            "doXdebug = 1\ndodumpt = 1\ndolograw = 1\nrawfile = [myRaw]\ncap = 0 (mpc)\n"
            "dtvalidate = 0\nsystime = 1\nMASK parity flag = 04\ncrjcode = 00\n"
            "stnlow  = 000000\nstnhigh = 000000\n")},
      {{"-x", "-r", "-i", "127.0.0.1:1"},
       dump("TCP Stream connection\nhostname = [127.0.0.1]\nhostport = [1]\n",
            "handshakeport = []\noutputdir=[stdout]\nnopause = 1\ndodebug = 1\ndoXdebug = 0\n"
            "dodumpt = 0\ndolograw = 1\nrawfile = [rawsmdr]\ncap = 1 (cap)\ndtvalidate = 1\n"
            "systime = 0\nMASK parity flag = 00\ncrjcode = 00\nstnlow  = 000000\nstnhigh = "
            "000000\n")},
  };
  for (const auto& c : cases) {
    tmpdir dir;
    procspec job = packer(bin, c.options);
    job.cwd = dir.path();
    procresult r = runproc(job);
    ASSERT_TRUE(r.exited) << describe(r);
    EXPECT_EQ(r.err.substr(banner.size(), c.want.size()), c.want) << c.options[0];
  }
}

TEST(Deviroz7eCli, LongArgumentsAreCutTo127Characters) {
  std::string path = "/no/" + std::string(200, 'p');
  procresult r = runproc(packer(bin, {"-x", "-i", path}));
  EXPECT_NE(r.err.find("inputfile = [" + path.substr(0, 127) + "]\n"), std::string::npos);
  EXPECT_NE(r.err.find("Can't open input " + path.substr(0, 127) + "   errno=2\n"),
            std::string::npos);
  EXPECT_EQ(r.code, 1);
}

TEST(Deviroz7eCli, PauseWithStandardInputIsRefused) {
  procresult r = runproc(packer(bin, {"-n"}));
  EXPECT_EQ(r.code, 1) << describe(r);
  const std::string start = banner + "ERROR: can't use pause with stdin mode\n" + zerostats;
  EXPECT_EQ(r.err.substr(0, start.size()), start);
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 1\n");
  EXPECT_EQ(r.err.find("Hit Return Key."), std::string::npos);
}

TEST(Deviroz7eCli, TimeBaseUnderUtc) {
  procresult r = runproc(packer(bin, {"-t"}));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.err.find("tm_trec_basediff = 446947200\n"), std::string::npos) << r.err;
  procspec berlin = packer(bin, {"-t"});
  berlin.env = {"TZ=Europe/Berlin"};
  r = runproc(berlin);
  EXPECT_NE(r.err.find("tm_trec_basediff = 446943600\n"), std::string::npos) << r.err;
}

// The prompt comes before every record; the byte 3 typed at it ends the run
// with code 1, SIGTERM while it waits with code 0, both after the flush.
TEST(Deviroz7eCli, PauseEndsByByteThreeOrSignal) {
  struct {
    const char* what;
    bool signal;
    int code;
  } cases[] = {{"byte 3", false, 1}, {"SIGTERM", true, 0}};
  for (const auto& c : cases) {
    tmpdir dir;
    writefile(dir.file("in"), neaxcalls(0, 3));
    procspec job = packer(bin, {"-n", "-v", "-i", dir.file("in")});
    job.stdinkind = procspec::pipe;
    childproc p(job);
    ASSERT_TRUE(p.waitfor_err("Hit Return Key.")) << c.what;
    p.writein("\n");
    ASSERT_TRUE(p.waitfor_err("Hit Return Key.Hit Return Key.")) << c.what;
    if (c.signal)
      p.signal(SIGTERM);
    else
      p.writein("\x03");
    procresult r = p.wait(3000);
    EXPECT_EQ(r.code, c.code) << c.what << describe(r);
    EXPECT_EQ(r.out, neaxline(0)) << c.what;
    EXPECT_NE(r.err.find("my_exit: errcode = " + std::to_string(c.code) + "\n"), std::string::npos)
        << c.what;
  }
}

TEST(Deviroz7eCli, PauseGoesOnAtTheEndOfStandardInput) {
  tmpdir dir;
  writefile(dir.file("in"), neaxcalls(0, 3));
  procspec job = packer(bin, {"-n", "-v", "-i", dir.file("in")});
  procresult r = runproc(job);
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(occurrences(r.err, "Hit Return Key."), 4);
  EXPECT_EQ(r.out, neaxlines(0, 3));
}

}  // namespace
