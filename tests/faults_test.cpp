// What a site does to a running packer: a file size limit, a FIFO that no
// writer opens, standard descriptors closed at start, the current hour file
// moved or removed. No call may be lost or torn, and no end may be silent.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_DEVIROZ7E;

// The path of the hourly file of 1 January of this year at `hour`.
std::string hourfile(const tmpdir& dir, int hour) {
  const std::string year = "20" + thisyear();
  // No snprintf into a fixed buffer: GCC 12 at -O3 cannot bound the year's
  // length and warns of truncation.
  char hh[8];
  snprintf(hh, sizeof hh, "%02d", hour % 100);
  return dir.path() + "/01_" + year + "/01_01_" + year + "/01_01_" + year + ":" + hh;
}

// How many lines of calls 0, 1, .. fit whole into `limit` bytes.
int linesupto(size_t limit) {
  int n = 0;
  for (size_t size = neaxline(0).size(); size <= limit; size += neaxline(++n).size()) {
  }
  return n;
}

TEST(Faults, FileSizeLimitIsAWriteFailureNotASilentEnd) {
  tmpdir dir;
  writefile(dir.file("in"), neaxcalls(0, 57));  // all end within 10:03 .. 10:59
  procresult r = runproc({.argv = {"/usr/bin/prlimit", "--fsize=2000", "--", bin, "-v", "-i",
                                   dir.file("in"), "-o", dir.path()},
                          .env = {"TZ=UTC"}});
  ASSERT_TRUE(r.exited) << describe(r);
  EXPECT_EQ(r.code, 1) << describe(r);
  const int fit = linesupto(2000);
  EXPECT_EQ(readfile(hourfile(dir, 10)), neaxlines(0, fit));
  // Every call that met the limit is reported; none is half written.
  EXPECT_EQ(
      occurrences(r.err, "ERROR: can't write to cdrfile [" + hourfile(dir, 10) + "] errno=27\n"),
      57 - fit)
      << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 1\n");
}

// A full disk: a small tmpfs, mounted in a private mount namespace (as a
// user, inside a user namespace of its own), holds the store.
TEST(Faults, FullDiskEndsWithWholeLinesAndOffersTheQueue) {
  tmpdir dir;
  const std::string mnt = dir.file("mnt"), out = dir.file("out");
  ASSERT_EQ(mkdir(mnt.c_str(), 0700), 0);
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  std::string input;
  for (int i = 0; i < 1000; ++i) input += bulkcall(recordformat::neax, i);
  writefile(dir.file("in"), input);
  // The store is copied out before the namespace, and its tmpfs, goes.
  const std::string script =
      "mount -t tmpfs -o size=16k tmpfs \"$0\" || exit 97\n"
      "\"$@\"; rc=$?; cp -a \"$0\"/. " +
      out + "/ || exit 98; exit $rc";
  std::vector<std::string> argv = {"/usr/bin/unshare", "--mount"};
  if (geteuid() != 0) argv.push_back("--map-root-user");
  argv.insert(argv.end(),
              {"/bin/sh", "-c", script, mnt, bin, "-v", "-i", dir.file("in"), "-o", mnt});
  procresult r = runproc({.argv = argv, .env = {"TZ=UTC"}});
  if (r.code == 97 || r.err.find("unshare: ") != std::string::npos)
    GTEST_SKIP() << "no tmpfs can be mounted here: " << r.err;
  ASSERT_TRUE(r.exited && r.code == 1) << describe(r);

  const std::string store = readfile(out + hourfile(dir, 10).substr(dir.path().size()));
  std::string lines;
  for (int i = 0; lines.size() < store.size(); ++i) lines += bulkline(recordformat::neax, i);
  EXPECT_FALSE(store.empty());
  EXPECT_TRUE(store == lines) << "the store is not whole lines of the calls in order";
  // The call that found the disk full, then the 23 the queue still held.
  EXPECT_EQ(occurrences(r.err, "] errno=28\n"), 24) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - 23), "\n\nmy_exit: errcode = 1\n");
}

TEST(Faults, TerminationEndsAnOpenThatWaitsForAWriter) {
  tmpdir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& program : {bin, std::string(PKTAV_MD11BC12)}) {
    for (int sig : {SIGTERM, SIGINT}) {
      childproc p(packer(program, {"-i", fifo}));
      ASSERT_TRUE(p.waitfor_err("PC-TAV PABX Packer"));
      usleep(100000);  // into the open
      p.signal(sig);
      procresult r = p.wait(3000);
      EXPECT_TRUE(r.exited && r.code == 0) << program << describe(r);
      EXPECT_NE(r.err.find("\ndo_terminate() sig=" + std::to_string(sig) + "\n"), std::string::npos)
          << r.err;
    }
  }
}

TEST(Faults, ClosedStandardDescriptorsAreNotReused) {
  tmpdir dir;
  // Standard error closed: the first hour file would become descriptor 2
  // and receive the statistics.
  procspec job = {.argv = {"/bin/sh", "-c", "exec 2>&- \"$0\" \"$@\"", bin, "-v", "-o", dir.path()},
                  .env = {"TZ=UTC"},
                  .stdinkind = procspec::pipe};
  procresult r = runproc(job, neaxcalls(0, 30));
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(readfile(hourfile(dir, 10)), neaxlines(0, 30));

  // All three closed; the input is a file.
  writefile(dir.file("in"), neaxcalls(30, 5));
  job.argv = {
      "/bin/sh", "-c",      "exec 0<&- 1>&- 2>&- \"$0\" \"$@\"", bin, "-v", "-i", dir.file("in"),
      "-o",      dir.path()};
  r = runproc(job);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(readfile(hourfile(dir, 10)), neaxlines(0, 35));
}

// The hour file is taken away while the packer runs: the next lines go
// to the same path again, with the directories made anew.
TEST(Faults, HourFileTakenAwayIsMadeAgain) {
  const struct {
    const char* what;
    bool (*takeaway)(const tmpdir& dir);
  } cases[] = {
      {"removed", [](const tmpdir& d) { return unlink(hourfile(d, 10).c_str()) == 0; }},
      {"moved away",
       [](const tmpdir& d) {
         return rename(hourfile(d, 10).c_str(), d.file("moved").c_str()) == 0;
       }},
      {"tree removed",
       [](const tmpdir& d) {
         return runproc({.argv = {"/bin/rm", "-r", d.path() + "/01_20" + thisyear()}}).code == 0;
       }},
  };
  for (const auto& c : cases) {
    tmpdir dir;
    procspec job = packer(bin, {"-v", "-o", dir.path()});
    job.stdinkind = procspec::pipe;
    childproc p(job);
    p.writein(neaxcalls(0, 30));
    for (int i = 0; i < 500 && readfile(hourfile(dir, 10)) != neaxlines(0, 7); ++i) usleep(10000);
    ASSERT_EQ(readfile(hourfile(dir, 10)), neaxlines(0, 7)) << c.what;
    ASSERT_TRUE(c.takeaway(dir)) << c.what;
    p.writein(neaxcalls(30, 5));
    p.closein();
    procresult r = p.wait();
    EXPECT_TRUE(r.exited && r.code == 0) << c.what << describe(r);
    EXPECT_EQ(readfile(hourfile(dir, 10)), neaxlines(7, 28)) << c.what;
    EXPECT_NE(r.err.find("WARNING: cdrfile [" + hourfile(dir, 10) +
                         "] was moved or removed; making it again\n"),
              std::string::npos)
        << c.what << r.err;
  }
}

}  // namespace
