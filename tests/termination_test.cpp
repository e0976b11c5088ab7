// Proof of the orderly end: runs of each build into a CDR directory, ended
// by SIGTERM or SIGINT at a random moment, store every call decoded up to
// that moment exactly once, in order, in whole lines, and end with code 0.
// A run killed by SIGKILL loses the calls it held; a line it tore is cut
// off by the next run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <regex>
#include <string>

#include "support/builds.h"
#include "support/tmpdir.h"

namespace {

constexpr int records = 50000;
constexpr int runs = 50;

// The one hourly file every test call ends in.
std::string hourfile(const tmpdir& dir) {
  const std::string y = "20" + thisyear();
  return dir.path() + "/01_" + y + "/01_01_" + y + "/01_01_" + y + ":10";
}

// The record count of the last statistics line before the exit line: the
// records the loop took, each one a call.
int recordsbeforeexit(const std::string& err) {
  static const std::regex stats("Rec: ([0-9]+) ");
  size_t exitline = err.rfind("my_exit: errcode");
  int n = -1;
  for (std::sregex_iterator it(err.begin(), err.begin() + static_cast<long>(exitline), stats), end;
       it != end; ++it)
    n = std::stoi((*it)[1].str());
  return n;
}

class RandomEnd : public ::testing::TestWithParam<packerbuild> {
 protected:
  void SetUp() override {
    for (int i = 0; i < records; ++i) {
      input_ += bulkcall(GetParam().format, i);
      lines_ += bulkline(GetParam().format, i);
    }
    linelen_ = lines_.size() / records;
  }

  // Runs the build on the input into the store in `dir` and sends `sig`
  // after `delay_us` of its loop.
  procresult endedby(const tmpdir& dir, int sig, int delay_us) {
    writefile(dir.file("in"), input_);
    childproc p(packer(GetParam().bin, {"-v", "-i", dir.file("in"), "-o", dir.path()}));
    EXPECT_TRUE(p.waitfor_err(" Rec: 0 "));  // the signals are set up
    usleep(static_cast<useconds_t>(delay_us));
    p.signal(sig);
    return p.wait(60000);
  }

  std::string input_, lines_;
  size_t linelen_ = 0;  // every test line has the same length
};

TEST_P(RandomEnd, TerminationStoresEveryDecodedCallOnce) {
  std::mt19937 rng(17);
  std::uniform_int_distribution<int> delay(0, 150000);
  for (int run = 0; run < runs; ++run) {
    const int sig = run % 2 ? SIGINT : SIGTERM;
    tmpdir dir;
    procresult r = endedby(dir, sig, delay(rng));
    const std::string store = readfile(hourfile(dir));
    ASSERT_TRUE(r.exited && r.code == 0) << "run " << run << describe(r);
    const int decoded = recordsbeforeexit(r.err);
    ASSERT_GE(decoded, 0) << r.err;
    EXPECT_TRUE(store == lines_.substr(0, static_cast<size_t>(decoded) * linelen_))
        << "run " << run << ": " << decoded << " calls decoded, " << store.size() / linelen_
        << " lines stored";
  }
}

// SIGKILL cannot be caught: the calls held are lost, and a write that
// crossed a page of the file may be cut short. The next run cuts such a
// torn line off before it appends.
TEST_P(RandomEnd, KillLeavesNoTornLineForTheNextRun) {
  std::mt19937 rng(29);
  std::uniform_int_distribution<int> delay(0, 150000);
  for (int run = 0; run < 10; ++run) {
    tmpdir dir;
    procresult r = endedby(dir, SIGKILL, delay(rng));
    ASSERT_TRUE(r.termsig == SIGKILL || (r.exited && r.code == 0)) << describe(r);
    const std::string killed = readfile(hourfile(dir));
    const size_t whole = killed.size() / linelen_ * linelen_;
    EXPECT_TRUE(killed.substr(0, whole) == lines_.substr(0, whole)) << "run " << run;

    const std::string next = bulkcall(GetParam().format, records);
    procspec job = packer(GetParam().bin, {"-v", "-o", dir.path()});
    job.stdinkind = procspec::pipe;
    procresult again = runproc(job, next);
    EXPECT_TRUE(again.exited && again.code == 0) << describe(again);
    EXPECT_TRUE(readfile(hourfile(dir)) ==
                lines_.substr(0, whole) + bulkline(GetParam().format, records))
        << "run " << run;
    EXPECT_EQ(occurrences(again.err, "ended in a torn line"), whole != killed.size() ? 1 : 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Builds, RandomEnd, ::testing::ValuesIn(allbuilds), buildname);

}  // namespace
