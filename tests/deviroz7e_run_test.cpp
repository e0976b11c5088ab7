// The running deviroz7e program: the delay of the queue and its flush,
// the signals, the CDR store, its failures and hostile input.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>
#include <string>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_DEVIROZ7E;

procspec piped(const std::vector<std::string>& options) {
  procspec job = packer(bin, options);
  job.stdinkind = procspec::pipe;
  return job;
}

TEST(Deviroz7eRun, CallsWait23RecordsAndAreFlushedAtTheEnd) {
  childproc p(piped({"-v"}));
  p.writein(neaxcalls(0, 23));
  p.writein(neaxcall(23));
  ASSERT_TRUE(p.waitfor_out(neaxline(0)));
  p.writein(neaxcall(24));
  ASSERT_TRUE(p.waitfor_out(neaxlines(0, 2)));
  EXPECT_EQ(p.out(), neaxlines(0, 2));
  p.closein();
  procresult r = p.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 25));
  // The statistics, the exit line, then the flushed calls.
  EXPECT_NE(r.err.find("Rec: 25         Rej: 0 "), std::string::npos);
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 0\n");
}

TEST(Deviroz7eRun, TerminateFlushesEveryQueuedCall) {
  for (int sig : {SIGTERM, SIGINT}) {
    childproc p(piped({"-v"}));
    p.writein(neaxcalls(0, 40));
    ASSERT_TRUE(p.waitfor_out(neaxlines(0, 17)));
    p.signal(sig);
    procresult r = p.wait(3000);
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.out, neaxlines(0, 40));
    EXPECT_NE(r.err.find("\ndo_terminate() sig=" + std::to_string(sig) + "\n"), std::string::npos);
  }
}

TEST(Deviroz7eRun, AlarmGivesAStatisticsLineWhileIdle) {
  childproc p(piped({"-v"}));
  ASSERT_TRUE(p.waitfor_err("Rec: 0 "));
  p.writein(neaxcall(0));
  // Until the record has been read the line still shows no record.
  bool seen = false;
  for (int i = 0; i < 40 && !seen; ++i) {
    p.signal(SIGALRM);
    seen = p.waitfor_err("Rec: 1 ", 250);
  }
  ASSERT_TRUE(seen);
  EXPECT_NE(p.err().find("  1-JAN-" + thisyear() + "  10:03    Rec: 1          Rej: 0 "),
            std::string::npos)
      << p.err();
  p.signal(SIGALRM);
  p.signal(SIGTERM);
  procresult r = p.wait(3000);
  EXPECT_EQ(r.code, 0) << describe(r);
}

TEST(Deviroz7eRun, StatisticsLineNeverSplitsTheByteTrace) {
  childproc p(piped({"-v", "-X"}));
  ASSERT_TRUE(p.waitfor_err("** (HEX record):"));
  p.writein(neaxcall(0).substr(0, 60));
  ASSERT_TRUE(p.waitfor_err(" 34 32 30 31"));  // the station's digits have been read
  p.signal(SIGALRM);
  ASSERT_TRUE(p.waitfor_err(" Rec: 0 ", 10000, 2));  // before the record, and now
  p.writein(neaxcall(0).substr(60));
  p.closein();
  procresult r = p.wait();
  size_t stats = r.err.rfind(" Rec: 0 ");
  ASSERT_NE(stats, std::string::npos);
  size_t start = r.err.rfind('\n', stats);
  EXPECT_EQ(r.err.substr(start, 20), "\n" + std::string(19, ' ')) << r.err;
  EXPECT_EQ(r.err.substr(start - 12, 12), " 30 30 30 30") << r.err;  // bytes 56-59 so far
  EXPECT_EQ(r.out, neaxline(0));
}

TEST(Deviroz7eRun, UserSignalTogglesTheRawLog) {
  tmpdir dir;
  procspec job = piped({"-v", "-x", "-R", "raw"});
  job.cwd = dir.path();
  childproc p(job);
  // Every record handled shows one debug line ending in its reject count.
  auto waitrecords = [&](int n) { return p.waitfor_err(" - rejcnt 0\n", 10000, n); };
  // Logging is on from the start (-R): records 0 and 1 are logged.
  p.writein(neaxcalls(0, 2));
  ASSERT_TRUE(waitrecords(2));
  p.signal(SIGUSR1);
  ASSERT_TRUE(p.waitfor_err("now dolograw=0\n"));
  EXPECT_NE(p.err().find("Closed raw data file raw\n"), std::string::npos);
  p.writein(neaxcalls(2, 2));
  ASSERT_TRUE(waitrecords(4));
  p.signal(SIGUSR1);
  ASSERT_TRUE(p.waitfor_err("now dolograw=1\n"));
  p.writein(neaxcall(4) + "partial");
  ASSERT_TRUE(waitrecords(5));
  p.closein();
  procresult r = p.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(readfile(dir.file("raw")), neaxcalls(0, 2) + neaxcall(4) + "partial");
  EXPECT_EQ(occurrences(r.err, "Opened raw data file raw\n"), 2);
  EXPECT_NE(r.err.find("Logging raw smdr to raw.\n"), std::string::npos);
}

TEST(Deviroz7eRun, UserSignalTwiceBeforeAnyByteTouchesNoFile) {
  tmpdir dir;
  procspec job = piped({"-r"});
  job.cwd = dir.path();
  childproc p(job);
  ASSERT_TRUE(p.waitfor_err("Rec: 0 "));
  p.signal(SIGUSR1);
  ASSERT_TRUE(p.waitfor_err("now dolograw=0\n"));
  p.signal(SIGUSR1);
  ASSERT_TRUE(p.waitfor_err("now dolograw=1\n"));
  p.signal(SIGUSR1);
  ASSERT_TRUE(p.waitfor_err("now dolograw=0\n", 10000, 2));
  p.closein();
  procresult r = p.wait();
  EXPECT_EQ(r.code, 0) << describe(r);
  struct stat st;
  EXPECT_NE(stat(dir.file("rawsmdr").c_str(), &st), 0);
}

TEST(Deviroz7eRun, RawLogThatCannotBeOpenedEndsTheRun) {
  procspec job = piped({"-R", "/no/such/dir/raw"});
  procresult r = runproc(job, neaxcall(0));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("Can't open raw output file /no/such/dir/raw  errno=2\n"),
            std::string::npos);
}

TEST(Deviroz7eRun, StoreTreeUnderTheOutputDirectory) {
  tmpdir dir;
  procspec job = piped({"-v", "-o", dir.path()});
  procresult r = runproc(job, neaxcalls(0, 3) + neaxcall(100));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, "");
  std::string year = "20" + thisyear();
  std::string day = dir.path() + "/01_" + year + "/01_01_" + year + "/01_01_" + year;
  EXPECT_EQ(readfile(day + ":10"), neaxlines(0, 3));
  EXPECT_EQ(readfile(day + ":11"), neaxline(100));
}

TEST(Deviroz7eRun, MissingOutputDirectoryEndsWithItsErrno) {
  procresult r = runproc(piped({"-v", "-o", "/no/such/cdr"}), neaxcalls(0, 2));
  EXPECT_EQ(r.code, 2) << describe(r);
  std::string year = "20" + thisyear();
  EXPECT_NE(r.err.find("ERROR: can't mkdir [/no/such/cdr/01_" + year + "] errno=2\n"),
            std::string::npos);
  EXPECT_EQ(occurrences(r.err, "ERROR: can't mkdir"), 2);  // each queued call is offered
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 2\n");
}

TEST(Deviroz7eRun, FullStandardOutputEndsWithCodeOne) {
  procspec job = piped({"-v"});
  job.stdoutpath = "/dev/full";
  procresult r = runproc(job, neaxcalls(0, 25));
  EXPECT_EQ(r.code, 1) << describe(r);
  // The first call, then the 23 the queue held: each is offered.
  EXPECT_EQ(occurrences(r.err, "ERROR: can't write to cdrfile [stdout] errno=28\n"), 24) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 1\n");
}

TEST(Deviroz7eRun, ExtraDebugListsEachCallBeforeStoringIt) {
  procresult r = runproc(piped({"-v", "-X"}), neaxcall(0));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_NE(r.err.find("** (HEX record): 02 20 20 4b 41"), std::string::npos);
  EXPECT_NE(r.err.find("  DATE      TIME TYPE METER  DURATION"), std::string::npos);
  EXPECT_NE(r.err.find(
                "- cap - Packed - rejcnt 0 [flushingpacker]\n-e00 000000 000000 -call Included-\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("formcall(): [" + neaxline(0)), std::string::npos);
  EXPECT_EQ(r.out, neaxline(0));
}

TEST(Deviroz7eRun, RandomStreamsNeitherCrashNorHang) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<int> byte(0, 255), len(0, 300);
  for (int round = 0; round < 4; ++round) {
    std::string stream;
    for (int i = 0; i < 200; ++i) {
      for (int n = len(rng); n > 0; --n) stream += static_cast<char>(byte(rng));
      std::string rec = neaxcall(i % 50);
      rec[byte(rng) % 131] = static_cast<char>(byte(rng));
      stream += rec.substr(0, round % 2 ? 132 : 100 + byte(rng) % 33);
    }
    procresult r = runproc(piped({"-M"}), stream);
    ASSERT_TRUE(r.exited) << describe(r);
    EXPECT_EQ(r.code, 0) << describe(r);
  }
}

TEST(Deviroz7eRun, BundledSampleIsWhatItsGeneratorWrites) {
  procresult gen = runproc(procspec{.argv = {MKSAMPLE}});
  ASSERT_EQ(gen.code, 0) << describe(gen);
  EXPECT_EQ(gen.out, readfile(std::string(EXAMPLES_DIR) + "/neax.smdr"));
  procresult r = runproc(packer(bin, {"-v", "-M", "-i", std::string(EXAMPLES_DIR) + "/neax.smdr"}));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(occurrences(r.out, "\n"), 50);
  EXPECT_NE(r.err.find("Rec: 54         Rej: 4 "), std::string::npos) << r.err;
}

}  // namespace
