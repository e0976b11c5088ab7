// What an operator found pabxsim doing wrong, each a case that used to give
// a plainly wrong or silent result: an output that fails while it ends
// with 0, impossible start times and destinations taken, a list of calls
// torn by a signal, records written into a pseudo-terminal before anyone
// could read them whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e.h"
#include "support/linkrun.h"
#include "support/tmpdir.h"

namespace {

// An output that fails ends the run with 2, after one message; the list
// names the record that did not go out as lost, not as sent.
TEST(PabxsimFault, AFailingOutputEndsTheRunWith2) {
  tmpdir dir;
  procresult r = runproc(simjob({"-n", "3000", "-o", "/dev/full", "--calls", dir.file("calls")}));
  EXPECT_TRUE(r.exited && r.code == 2) << describe(r);
  EXPECT_EQ(occurrences(r.err, "pabxsim: write: No space left on device\n"), 1) << r.err;
  EXPECT_NE(r.err.find(" 0 sent whole "), std::string::npos) << r.err;
  calllist list = readcalls(dir.file("calls"));
  EXPECT_EQ(list.sent, 0u);
  EXPECT_EQ(list.rows, 1u);
  EXPECT_NE(readfile(dir.file("calls")).find("\tlost\t"), std::string::npos);
}

TEST(PabxsimFault, ImpossibleSettingsAreRefused) {
  struct {
    std::vector<std::string> args;
    std::string err;  // empty: taken
  } cases[] = {
      {{"--start", "2026-13-01T10:00"}, "bad value: 2026-13-01T10:00"},
      {{"--start", "2026-02-30T10:00"}, "bad value: 2026-02-30T10:00"},
      {{"--start", "2026-02-30"}, "bad value: 2026-02-30"},
      {{"--start", "2026-02-28T24:00"}, "bad value: 2026-02-28T24:00"},
      {{"--start", "2026-02-28T10:60"}, "bad value: 2026-02-28T10:60"},
      {{"--start", "2026-02-28T10:00:99"}, "bad value: 2026-02-28T10:00:99"},
      {{"--start", "1983-12-31T23:59"}, "bad value: 1983-12-31T23:59"},
      {{"--start", "2100-01-01T00:00"}, "bad value: 2100-01-01T00:00"},
      {{"--start", " 2026-02-28T10:00"}, "bad value:  2026-02-28T10:00"},
      {{"--start", "2026-2-28T10:00"}, "bad value: 2026-2-28T10:00"},
      {{"--start", "2026-02-28T10:00:5"}, "bad value: 2026-02-28T10:00:5"},
      {{"--start", "2024-02-29T23:59:59"}, ""},
      {{"--start", "1984-01-01T00:00"}, ""},
      {{"--start", "2099-12-31T23:59:59"}, ""},
      {{"--listen", "127.0.0.1:0", "-o", "x"}, "--listen and -o: one destination only"},
      {{"-o", "x", "--connect", "127.0.0.1:1"}, "-o and --connect: one destination only"},
      {{"--pty", "-o", "x"}, "--pty and -o: one destination only"},
      {{"-o", "x", "--output", "y"}, "-o and -o: one destination only"},
      {{"-n", " 5"}, "bad value:  5"},
      {{"-n", "+5"}, "bad value: +5"},
      {{"--replay", "0x10"}, "bad value: 0x10"},
      {{"--rate", "1e3"}, "bad value: 1e3"},
      {{"--silence", "-1"}, "bad value: -1"},
      {{"--rate", "100.5"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-n", "1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    if (c.err.empty()) args.insert(args.end(), {"-o", "/dev/null"});
    procresult r = runproc(simjob(args));
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(r.code, c.err.empty() ? 0 : 2) << describe(r);
    if (!c.err.empty()) {
      EXPECT_EQ(r.err.rfind("pabxsim: " + c.err + "\n", 0), 0u) << r.err;
    }
  }
}

// A signal ends the run with every record written in the list, with its
// line, as the packer stores them at its end: the list says what the
// stream holds, to the last record.
TEST(PabxsimFault, ASignalLeavesTheListWhole) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    tmpdir dir;
    std::string calls = dir.file("calls"), stream = dir.file("stream");
    childproc sim(simjob({"-n", "0", "--rate", "200", "--start", "2024-02-05T10:00", "-o", stream,
                          "--calls", calls}));
    // Once the first rows reach the file: the list is under way.
    for (int i = 0; i < 2000 && readfile(calls).empty(); ++i) usleep(10000);
    ASSERT_FALSE(readfile(calls).empty());
    sim.signal(sig);
    procresult r = sim.wait();
    SCOPED_TRACE(strsignal(sig));
    EXPECT_EQ(r.termsig, sig) << describe(r);
    std::string text = readfile(calls);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    calllist list = readcalls(calls);
    EXPECT_EQ(list.rows, linecount(text)) << "every row whole";
    EXPECT_NE(r.err.find(" " + std::to_string(list.rows) + " records: "), std::string::npos)
        << r.err;
    procresult run = runproc(packer(PKTAV_DEVIROZ7E, {"-v", "-M", "-i", stream}));
    EXPECT_EQ(run.out, list.stored);
  }
}

// Reads pabxsim's pseudo-terminal through its symbolic link, a terminal
// after another, as a collector would, and collects what they carried.
// With `setsraw` it sets each new line raw, once it has checked that
// nothing came while the line was cooked; else it leaves the line as it
// finds it, and pabxsim must make it raw.
std::string readterminals(const std::string& link, bool setsraw, const std::atomic<bool>& done) {
  std::string got;
  while (!done) {
    int fd = open(link.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      usleep(5000);
      continue;
    }
    termios t{};
    tcgetattr(fd, &t);
    if (setsraw && (t.c_lflag & ICANON)) {
      int queued = -1;
      ioctl(fd, FIONREAD, &queued);
      EXPECT_EQ(queued, 0) << "bytes came before the line was raw";
      cfmakeraw(&t);
      tcsetattr(fd, TCSANOW, &t);
    }
    char buf[4096];
    for (;;) {
      ssize_t n = read(fd, buf, sizeof buf);
      if (n > 0) {
        got.append(buf, static_cast<size_t>(n));
      } else if (n < 0 && errno == EAGAIN) {
        usleep(1000);
      } else {
        break;  // hung up: the next terminal comes
      }
    }
    close(fd);
  }
  return got;
}

// Nothing is written into a terminal before a reader has it open and its
// line is raw: every record a terminal carried is whole, the new terminals
// made after a drop, which come up cooked, as much as the first.
TEST(PabxsimFault, APseudoTerminalCarriesRecordsOnlyOnceItsLineIsRaw) {
  for (bool setsraw : {true, false}) {
    tmpdir dir;
    std::string link = dir.file("pbx"), calls = dir.file("calls");
    childproc sim(simjob({"-n", "300", "-s", "4", "--start", "2024-02-05T10:00", "--drop-every",
                          "150", "--pty=" + link, "--calls", calls}));
    std::atomic<bool> done = false;
    std::string got;
    std::thread reader([&] { got = readterminals(link, setsraw, done); });
    procresult r = sim.wait(30000);
    done = true;
    reader.join();
    SCOPED_TRACE(setsraw ? "the reader sets the line raw" : "the reader leaves the line cooked");
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(occurrences(r.err, "the reader left the line cooked: set raw"), setsraw ? 0 : 1)
        << r.err;
    writefile(dir.file("got"), got);
    procresult run = runproc(packer(PKTAV_DEVIROZ7E, {"-v", "-M", "-i", dir.file("got")}));
    EXPECT_EQ(run.out, readcalls(calls).stored);
  }
}

}  // namespace
