// The CDR store: the dated tree, appending, switching hours and failures.
#include "packer/store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "pabx/pabx.h"
#include "packer/bcd.h"
#include "packer/settings.h"
#include "support/packerfix.h"
#include "support/tmpdir.h"

namespace {

class Store : public packertest {
 protected:
  tmpdir dir;
  std::string outdir;

  void SetUp() override {
    packertest::SetUp();
    outdir = dir.path();
    cdrdir = outdir.c_str();
    firstoutcall = 1;
    lasttrec = mpct{};
  }
  void TearDown() override {
    if (tavfp.fd != STDOUT_FILENO) closecdr();
    tavfp.fd = -1;
  }

  // A call of station 4201 that ends at the time given.
  static pkrecord callending(int year, int month, int day, int hour, int minute, int second) {
    pkrecord pk{};
    cnvbcd(pk.pk_station, "004201", 6);
    cnvbcd(pk.pk_trunk, "000012", 6);
    memset(pk.pk_dialled, ' ', 24);
    setduration(&pk, 45);
    settime(&pk, packedat(year, month, day, hour, minute, second) - 45);
    return pk;
  }

  std::string hourfile(const char* rel) { return outdir + "/" + rel; }
};

TEST_F(Store, CallsGoToTheFileOfTheirEndHour) {
  pkrecord a = callending(2003, 3, 5, 14, 59, 56);
  pkrecord b = callending(2003, 3, 5, 15, 0, 0);
  pkrecord c = callending(2003, 3, 5, 14, 59, 0);
  ASSERT_EQ(output_call(&a), 0);
  ASSERT_EQ(output_call(&b), 0);
  ASSERT_EQ(output_call(&c), 0);
  EXPECT_EQ(readfile(hourfile("03_2003/05_03_2003/05_03_2003:14")),
            ":4201|12||050303145956|45|||00\n:4201|12||050303145900|45|||00\n");
  EXPECT_EQ(readfile(hourfile("03_2003/05_03_2003/05_03_2003:15")),
            ":4201|12||050303150000|45|||00\n");
}

TEST_F(Store, FileIsOpenedOncePerHourAndAppendedTo) {
  ASSERT_EQ(mkdir(hourfile("03_2003").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(hourfile("03_2003/05_03_2003").c_str(), 0755), 0);
  writefile(hourfile("03_2003/05_03_2003/05_03_2003:14"), "earlier run\n");
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  ASSERT_EQ(output_call(&a), 0);
  int fd = tavfp.fd;
  pkrecord b = callending(2003, 3, 5, 14, 20, 0);
  ASSERT_EQ(output_call(&b), 0);
  EXPECT_EQ(tavfp.fd, fd);
  EXPECT_EQ(readfile(hourfile("03_2003/05_03_2003/05_03_2003:14")),
            "earlier run\n:4201|12||050303141000|45|||00\n:4201|12||050303142000|45|||00\n");
}

TEST_F(Store, NewMonthMakesBothDirectories) {
  pkrecord a = callending(2003, 12, 31, 23, 59, 56);
  pkrecord b = callending(2004, 1, 1, 0, 0, 4);
  ASSERT_EQ(output_call(&a), 0);
  ASSERT_EQ(output_call(&b), 0);
  struct stat st;
  EXPECT_EQ(stat(hourfile("12_2003/31_12_2003").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777 & ~0022, 0755 & ~0022);
  EXPECT_EQ(readfile(hourfile("01_2004/01_01_2004/01_01_2004:00")),
            ":4201|12||010104000004|45|||00\n");
}

// What an earlier run left at the end of the hour file, and what stays of
// it when the next line is appended.
TEST_F(Store, TornLineOfAnEarlierRunIsCutOff) {
  const std::string file = hourfile("03_2003/05_03_2003/05_03_2003:14");
  const std::string line = ":4201|12||050303141000|45|||00\n";
  const std::string foreign(200, 'x');  // no line of ours is that long
  const struct {
    std::string left, kept;
  } cases[] = {
      {"", ""},
      {"earlier\n", "earlier\n"},
      {"earlier\n:4201|12||0503", "earlier\n"},
      {":42", ""},
      {"earlier\n" + foreign, "earlier\n" + foreign},
  };
  ASSERT_EQ(mkdir(hourfile("03_2003").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(hourfile("03_2003/05_03_2003").c_str(), 0755), 0);
  for (const auto& c : cases) {
    writefile(file, c.left);
    closecdr();
    pkrecord a = callending(2003, 3, 5, 14, 10, 0);
    testing::internal::CaptureStderr();
    ASSERT_EQ(output_call(&a), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readfile(file), c.kept + line) << c.left;
    EXPECT_EQ(err.find("ended in a torn line") != std::string::npos, c.kept.size() < c.left.size())
        << c.left;
  }
}

TEST_F(Store, MissingOutputDirectoryFailsWithItsErrno) {
  std::string missing = outdir + "/nothere";
  cdrdir = missing.c_str();
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(output_call(&a), ENOENT);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: can't mkdir [" + missing + "/03_2003] errno=2\n");
}

TEST_F(Store, PlainFileWhereADirectoryBelongs) {
  writefile(hourfile("03_2003"), "not a directory\n");
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(output_call(&a), ENOTDIR);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: can't mkdir [" + outdir + "/03_2003/05_03_2003] errno=20\n");
}

TEST_F(Store, UnopenableHourFileFailsAndIsTriedAgain) {
  ASSERT_EQ(mkdir(hourfile("03_2003").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(hourfile("03_2003/05_03_2003").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(hourfile("03_2003/05_03_2003/05_03_2003:14").c_str(), 0755), 0);
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(output_call(&a), EISDIR);
  EXPECT_EQ(
      testing::internal::GetCapturedStderr(),
      "ERROR: can't open cdrfile [" + outdir + "/03_2003/05_03_2003/05_03_2003:14] errno=21\n");
  rmdir(hourfile("03_2003/05_03_2003/05_03_2003:14").c_str());
  EXPECT_EQ(output_call(&a), 0);
  EXPECT_EQ(readfile(hourfile("03_2003/05_03_2003/05_03_2003:14")),
            ":4201|12||050303141000|45|||00\n");
}

TEST_F(Store, LongOutputDirectoryWorks) {
  std::string longdir = outdir + "/" + std::string(120, 'd');
  ASSERT_EQ(mkdir(longdir.c_str(), 0755), 0);
  cdrdir = longdir.c_str();
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  ASSERT_EQ(output_call(&a), 0);
  EXPECT_EQ(readfile(longdir + "/03_2003/05_03_2003/05_03_2003:14"),
            ":4201|12||050303141000|45|||00\n");
}

TEST_F(Store, PathTheSystemRefusesFailsLikeAnyMkdir) {
  std::string huge = outdir + "/" + std::string(5000, 'x');
  cdrdir = huge.c_str();
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(output_call(&a), ENAMETOOLONG);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("ERROR: can't mkdir ["), std::string::npos);
}

TEST_F(Store, WriteFailureOnStandardOutput) {
  cdrdir = "";
  int saved = dup(STDOUT_FILENO);
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  dup2(full, STDOUT_FILENO);
  close(full);
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  testing::internal::CaptureStderr();
  int rc = output_call(&a);
  std::string err = testing::internal::GetCapturedStderr();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(err, "ERROR: can't write to cdrfile [stdout] errno=28\n");
}

TEST_F(Store, LineThatDoesNotFitIsTakenBackOut) {
  pkrecord a = callending(2003, 3, 5, 14, 10, 0);
  ASSERT_EQ(output_call(&a), 0);
  std::string file = hourfile("03_2003/05_03_2003/05_03_2003:14");
  std::string before = readfile(file);
  // Let only a few more bytes fit: the next write stops part way.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit small = saved;
  small.rlim_cur = before.size() + 10;
  auto oldxfsz = signal(SIGXFSZ, SIG_IGN);
  // The limit would cut the message too if standard error were a file.
  int savederr = dup(STDERR_FILENO);
  int null = open("/dev/null", O_WRONLY);
  dup2(null, STDERR_FILENO);
  close(null);
  setrlimit(RLIMIT_FSIZE, &small);
  int rc = output_call(&a);
  setrlimit(RLIMIT_FSIZE, &saved);
  dup2(savederr, STDERR_FILENO);
  close(savederr);
  signal(SIGXFSZ, oldxfsz);
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(readfile(file), before);
  // The store goes on with whole lines after the failure.
  ASSERT_EQ(output_call(&a), 0);
  EXPECT_EQ(readfile(file), before + before);
}

TEST_F(Store, PostpackerCountsEveryRecordAndStoresOnlyIncludedCalls) {
  cdrdir = "";
  int saved = dup(STDOUT_FILENO);
  std::string out = dir.file("stdout");
  int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  dup2(fd, STDOUT_FILENO);
  close(fd);
  crjcode = 0x14;
  cnvbcd(stnlow, "004201", 6);
  cnvbcd(stnhigh, "004201", 6);
  pkcall = callending(2003, 3, 5, 14, 10, 0);
  int r1 = postpacker(1);  // no call
  int r2 = postpacker(0);  // excluded
  cnvbcd(pkcall.pk_station, "004202", 6);
  int r3 = postpacker(0);  // stored
  dup2(saved, STDOUT_FILENO);
  close(saved);
  EXPECT_EQ(r1 + r2 + r3, 0);
  EXPECT_EQ(reccount, 3u);
  EXPECT_EQ(readfile(out), ":4202|12||050303141000|45|||00\n");
}

}  // namespace
