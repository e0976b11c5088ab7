// Hostile command lines: every option of every program given empty,
// 100 KiB long, invalid UTF-8, format directives and option-like values,
// and long runs of empty words. No program may crash or be caught by the
// sanitizers (in the sanitizer build); each ends with a status of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/builds.h"
#include "support/tmpdir.h"

namespace {

constexpr int sanitizerfound = 86;  // the status the sanitizers end with here

// Colons are left out: in the TCP build an -i value with one is a host
// name to look up, and this test asks no name server.
const std::vector<std::string> hostilevalues = {
    "",   std::string(100 << 10, 'A'), "\xff\xfe\x80\x01\x7f", "%s%n%x%s%n", "-", "--",
    "-i", std::string(300, '9'),
};

// Runs a program in `dir` with one record on standard input and checks it
// ended by itself, with one of `codes`.
void expectsurvives(const tmpdir& dir, const std::vector<std::string>& argv,
                    const std::vector<int>& codes, const std::string& input) {
  procspec job{.argv = argv,
               .env = {"TZ=UTC", "ASAN_OPTIONS=exitcode=86", "UBSAN_OPTIONS=exitcode=86"},
               .cwd = dir.path(),
               .stdinkind = procspec::pipe};
  procresult r = runproc(job, input);
  std::string shown = argv.size() > 2 ? argv[1] + " " + argv[2].substr(0, 40) : argv[0];
  ASSERT_TRUE(r.exited) << shown << describe(r);
  EXPECT_NE(r.code, sanitizerfound) << shown << r.err;
  EXPECT_TRUE(std::find(codes.begin(), codes.end(), r.code) != codes.end())
      << shown << " ended with " << r.code << "\n"
      << r.err.substr(0, 2000);
}

class HostileCommandLine : public ::testing::TestWithParam<packerbuild> {};

TEST_P(HostileCommandLine, EveryOptionAndValue) {
  const packerbuild& b = GetParam();
  tmpdir dir;
  const std::string record = bulkcall(b.format, 0);
  // 0: the end of the input; 1: a failure; 2, 36: a store directory that
  // cannot be made (ENOENT, ENAMETOOLONG).
  const std::vector<int> codes = {0, 1, 2, 36};
  for (const char* opt : {"-i", "-H", "-o", "-R", "-e", "-l", "-h"}) {
    for (const std::string& value : hostilevalues) {
      expectsurvives(dir, {b.bin, opt, value, "-v"}, codes, record);
      expectsurvives(dir, {b.bin, std::string(opt) + value, "-xv"}, codes, record);
    }
  }
  for (const std::string& value : hostilevalues)
    expectsurvives(dir, {b.bin, "-v", value, value}, codes, record);
  std::vector<std::string> empties(20000, "");
  empties[0] = b.bin;
  expectsurvives(dir, empties, {0}, record);
}

INSTANTIATE_TEST_SUITE_P(Builds, HostileCommandLine, ::testing::ValuesIn(allbuilds), buildname);

TEST(HostileCommandLine, Tools) {
  tmpdir dir;
  writefile(dir.file("log"), "a\nb\nc\n");
  for (const std::string& value : hostilevalues) {
    expectsurvives(dir, {TAILCLIP, "-n", value, "-f", "log"}, {0, 1}, "");
    expectsurvives(dir, {TAILCLIP, "-n", "1", "-f", value}, {0, 1}, "");
    expectsurvives(dir, {TAILCLIP, value, value}, {1}, "");
    // kelvostart passes nothing on; the shell then finds no ./kelvo here.
    expectsurvives(dir, {KELVOSTART_LOCALKELVO, value, "-n", value}, {127}, "");
  }
}

// An empty value, or a number too large for any count, is refused by
// every option of pabxsim (2), never taken for a default or the largest
// count there is.
std::vector<int> pabxsimcodes(const std::string& value) {
  if (value.empty() || value == hostilevalues.back()) return {2};
  return {0, 2};
}

// The tools beside the packer. pktav-link is given no host name (that
// would ask a name server) and a program that ends at once, so it ends
// too; pabxsim is not asked for a pseudo-terminal nobody reads.
TEST(HostileCommandLine, SiteTools) {
  tmpdir dir;
  writefile(dir.file("sample"), ":4379|3|029781822|041226010004|9|1||02\n");
  for (const std::string& value : hostilevalues) {
    for (const char* opt : {"-f", "-n", "-s", "--start", "--calls-per-hour", "--noise", "--damaged",
                            "--rate", "-o", "--listen", "--connect", "--drop-every", "--cut-every",
                            "--reset-every", "--silence-every", "--silence", "--replay", "--calls"})
      expectsurvives(dir, {PABXSIM, "-n", "3", "-o", "out", opt, value}, pabxsimcodes(value), "");
    expectsurvives(dir, {PABXSIM, value, value}, {2}, "");

    for (const char* opt : {"--allow", "--retry-min", "--retry-max", "--dead-after", "--speed",
                            "--line", "--end-byte", "--metrics", "--site"})
      expectsurvives(dir, {PKTAV_LINK, opt, value, "127.0.0.1:1", "--", "/bin/true"}, {0, 125}, "");
    expectsurvives(dir, {PKTAV_LINK, value, "--", "/bin/true"}, {125}, "");
    expectsurvives(dir, {PKTAV_LINK, "listen:127.0.0.1:" + value, "--", "/bin/true"}, {0, 125}, "");
    expectsurvives(dir, {PKTAV_LINK, "127.0.0.1:1", "--", value}, {126, 127}, "");

    for (const char* command : {"query", "report", "audit"}) {
      for (const char* opt : {"--format", "--station", "--trunk", "--dialled", "--flags", "--from",
                              "--to", "--tz", "--html"})
        expectsurvives(dir, {PKTAV_CDR, command, opt, value, "sample"},
                       value.empty() ? std::vector<int>{2} : std::vector<int>{0, 1, 2}, "");
      expectsurvives(dir, {PKTAV_CDR, command, value}, {1, 2}, "");
      expectsurvives(dir, {PKTAV_CDR, command, "--raw", value, "--packer", value, "sample"}, {1, 2},
                     "");
    }
    expectsurvives(dir, {PKTAV_CDR, value, "sample"}, {2}, "");
  }
}

}  // namespace
