// Proof under signals: 200,000 records through each build while SIGUSR1
// and SIGALRM come more than a thousand times a second each, raw log on.
// The CDR lines must be byte for byte those of a quiet run; the raw log
// must be whole stretches of the input, in order, none repeated; every
// line on standard error must be whole; the run must end with code 0.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "support/builds.h"
#include "support/tmpdir.h"

namespace {

constexpr int records = 200000;

// "#0000123#": noise before record 123 that the framing drops, and that
// says where in the input a stretch of the raw log was taken from.
std::string marker(int i) {
  char m[16];
  snprintf(m, sizeof m, "#%07d#", i);
  return m;
}

// Where marker i stands in the input: every block has the same length.
size_t markerat(int i, size_t blocklen) { return static_cast<size_t>(i) * blocklen; }

// Sends SIGUSR1 and SIGALRM to the process of `pidfd` about 2,000 times a
// second each, until it ends; a process descriptor cannot hit a stranger.
void storm(int pidfd, std::atomic<long>& sent) {
  for (;;) {
    pollfd p{pidfd, POLLIN, 0};
    if (poll(&p, 1, 0) != 0) return;  // it has ended
    for (int sig : {SIGUSR1, SIGALRM})
      if (syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0) == 0) ++sent;
    usleep(500);
  }
}

// The number of stretches of `input` the raw log is made of, each a run of
// consecutive input bytes starting after the one before; -1 when it is not
// made so. A stretch is placed by the first whole marker in it.
int stretches(const std::string& log, const std::string& input, size_t blocklen) {
  static const std::regex mark("#([0-9]{7})#");
  size_t i = 0, after = 0;  // in the log; in the input, the end of the last stretch
  int n = 0;
  while (i < log.size()) {
    std::smatch m;
    size_t start;
    if (std::regex_search(log.begin() + static_cast<long>(i), log.end(), m, mark)) {
      size_t d = static_cast<size_t>(m.position(0));
      size_t at = markerat(std::stoi(m[1].str()), blocklen);
      if (at < d) return -1;
      start = at - d;
    } else {
      start = input.find(log.substr(i), after);
      if (start == std::string::npos) return -1;
    }
    if (start < after) return -1;
    size_t len = 0;
    while (i + len < log.size() && start + len < input.size() && log[i + len] == input[start + len])
      ++len;
    if (len == 0) return -1;
    i += len;
    after = start + len;
    ++n;
  }
  return n;
}

// Every line of standard error is one the packer writes whole.
std::string firstbrokenline(const std::string& err, const std::string& rawlog) {
  static const std::regex whole(
      "|PC-TAV PABX Packer \\[.*\\]"
      "| .{18}  Rec: [0-9]+ +Rej: [0-9]+ +  [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] "
      "[0-9:]{8} [0-9]{4}"
      "|(Opened|Closed) raw data file " +
      rawlog + "|Logging raw smdr to " + rawlog +
      "\\.|do_toglograw\\(\\) sig=10  now dolograw=[01]|my_exit: errcode = 0");
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);)
    if (!std::regex_match(line, whole)) return line;
  return "";
}

class SignalStorm : public ::testing::TestWithParam<packerbuild> {};

TEST_P(SignalStorm, OutputIsThatOfAQuietRun) {
  const packerbuild& b = GetParam();
  tmpdir dir;
  std::string input, expected;
  for (int i = 0; i < records; ++i) {
    input += marker(i) + bulkcall(b.format, i);
    expected += bulkline(b.format, i);
  }
  const size_t blocklen = input.size() / records;
  writefile(dir.file("in"), input);

  procspec job = packer(b.bin, {"-v", "-i", dir.file("in")});
  job.stdoutpath = dir.file("quiet");
  procresult quiet = runproc(job, "", 120000);
  ASSERT_TRUE(quiet.exited && quiet.code == 0) << describe(quiet);
  ASSERT_EQ(readfile(dir.file("quiet")), expected);

  job = packer(b.bin, {"-v", "-i", dir.file("in"), "-R", dir.file("raw")});
  job.stdoutpath = dir.file("stormy");
  childproc p(job);
  // A signal before the packer has set up its handlers would end it.
  ASSERT_TRUE(p.waitfor_err(" Rec: 0 "));
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, p.pid(), 0));
  ASSERT_GE(pidfd, 0);
  std::atomic<long> sent{0};
  std::thread sender(storm, pidfd, std::ref(sent));
  procresult r = p.wait(120000);
  sender.join();
  close(pidfd);

  ASSERT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_GT(sent.load(), 100) << "the storm never reached the run";
  EXPECT_TRUE(readfile(dir.file("stormy")) == expected) << "CDR lines differ from the quiet run";
  const std::string log = readfile(dir.file("raw"));
  int n = stretches(log, input, blocklen);
  EXPECT_GE(n, 1) << "the raw log is not made of stretches of the input";
  EXPECT_LE(n, occurrences(r.err, "Opened raw data file "));
  EXPECT_EQ(firstbrokenline(r.err, dir.file("raw")), "");
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 0\n");
}

INSTANTIATE_TEST_SUITE_P(Builds, SignalStorm, ::testing::ValuesIn(allbuilds), buildname);

}  // namespace
