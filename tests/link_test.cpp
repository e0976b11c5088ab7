// pktav-link as an operator runs it: in front of a packer build, with real
// sockets on loopback, real signals and programs that end in every way.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "support/e2e.h"
#include "support/linkrun.h"
#include "support/neaxrec.h"
#include "support/tmpdir.h"

namespace {

const std::string deviroz7e = PKTAV_DEVIROZ7E;

void sendall(int fd, const std::string& bytes) {
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// One peer at a time, from the allowed addresses; the same peer calling
// again takes over its dead connection.
TEST(Link, ListensForOnePeerAtATime) {
  childproc link(linkjob({"--allow", "127.0.0.1", "--allow", "127.0.0.3", "listen:127.0.0.1:0",
                          "--", deviroz7e, "-v"}));
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << link.err();

  int first = connectfrom("127.0.0.1", port);
  ASSERT_GE(first, 0);
  ASSERT_TRUE(link.waitfor_err("link up: 127.0.0.1:"));
  sendall(first, neaxcalls(0, 10));

  int stranger = connectfrom("127.0.0.2", port);
  ASSERT_GE(stranger, 0);
  EXPECT_TRUE(link.waitfor_err("refused peer 127.0.0.2:"));
  EXPECT_TRUE(link.waitfor_err(": not allowed\n"));
  char byte;
  EXPECT_EQ(read(stranger, &byte, 1), 0) << "closed at once";

  int other = connectfrom("127.0.0.3", port);
  ASSERT_GE(other, 0);
  EXPECT_TRUE(link.waitfor_err("refused peer 127.0.0.3:"));
  EXPECT_TRUE(link.waitfor_err(": busy with 127.0.0.1:"));

  int again = connectfrom("127.0.0.1", port);
  ASSERT_GE(again, 0);
  EXPECT_TRUE(link.waitfor_err("link down: replaced by a new connection from the same peer, " +
                               std::to_string(neaxcalls(0, 10).size()) + " bytes carried"));
  EXPECT_TRUE(link.waitfor_err("link up: 127.0.0.1:", 10000, 2));
  sendall(again, neaxcalls(10, 30));
  EXPECT_TRUE(link.waitfor_out(neaxlines(0, 17)));
  link.signal(SIGTERM);
  procresult r = link.wait();
  for (int fd : {first, stranger, other, again}) close(fd);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 40));
}

// An exchange that hangs up and calls again at once, while the program is
// slow to take its input: what the old connection still held is read out
// before the new one is taken, so no byte is lost.
TEST(Link, TheSamePeerCallingAgainLosesNothingTheOldLinkHeld) {
  // More than the pipe and the relay hold while the program sleeps; the rest
  // waits in the old connection's socket.
  std::string first(200000, 'a'), second = "second call\n";
  for (size_t i = 99; i < first.size(); i += 100) first[i] = '\n';
  childproc link(linkjob({"listen:127.0.0.1:0", "--", "/bin/sh", "-c", "sleep 2; exec cat"}));
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << link.err();
  int old = connectfrom("127.0.0.1", port);
  ASSERT_GE(old, 0);
  ASSERT_TRUE(link.waitfor_err("link up: 127.0.0.1:"));
  sendall(old, first);
  close(old);
  int again = connectfrom("127.0.0.1", port);
  ASSERT_GE(again, 0);
  sendall(again, second);
  close(again);
  EXPECT_TRUE(link.waitfor_err("link down: closed by the peer, " + std::to_string(first.size()) +
                               " bytes carried"))
      << link.err();
  EXPECT_TRUE(link.waitfor_out(second)) << link.err();
  link.signal(SIGTERM);
  procresult r = link.wait();
  EXPECT_EQ(r.out.size(), first.size() + second.size());
  EXPECT_TRUE(r.out == first + second);
}

// A program slow to take its input, records longer than the pipe and the
// relay hold: the relay fills up to its last byte in the middle of a record,
// and still every record gets through once the program reads.
TEST(Link, AFullRelayGoesOnOnceTheProgramReads) {
  std::string records;
  for (int i = 0; records.size() < 300000; ++i) records += std::string(130, 'a' + i % 26) + "\n";
  records += "the last record\n";
  childproc link(linkjob(
      {"--end-byte", "0a", "listen:127.0.0.1:0", "--", "/bin/sh", "-c", "sleep 2; exec cat"}));
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << link.err();
  int peer = connectfrom("127.0.0.1", port);
  ASSERT_GE(peer, 0);
  // In a thread: the socket holds less than the records until the program
  // reads. A stalled link is shut down, so that the writer ends too.
  std::thread writer([&] {
    for (size_t sent = 0; sent < records.size();) {
      ssize_t n = send(peer, records.data() + sent, records.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  });
  EXPECT_TRUE(link.waitfor_out("the last record\n", 15000)) << link.err();
  shutdown(peer, SHUT_RDWR);
  writer.join();
  close(peer);
  link.signal(SIGTERM);
  procresult r = link.wait();
  EXPECT_TRUE(r.out == records) << r.out.size() << " of " << records.size();
}

// A connection that fails at boot is tried again, waiting longer each time,
// until the exchange answers.
TEST(Link, RetriesUntilTheExchangeAnswers) {
  tmpdir dir;
  int port = freeport();
  childproc link(linkjob({"--retry-min", "0.05", "--retry-max", "0.2",
                          "127.0.0.1:" + std::to_string(port), "--", deviroz7e, "-v", "-M"}));
  ASSERT_TRUE(link.waitfor_err("Connection refused; waiting 0.2 s to retry", 10000, 2))
      << link.err();
  std::string err = link.err();
  size_t a = err.find("waiting 0.05 s"), b = err.find("waiting 0.1 s"),
         c = err.find("waiting 0.2 s");
  EXPECT_TRUE(a < b && b < c) << err;
  EXPECT_EQ(err.find("exited"), std::string::npos) << "the program runs on";

  childproc sim(simjob({"-n", "60", "--start", "2024-02-05T10:00", "--listen",
                        "127.0.0.1:" + std::to_string(port), "--calls", dir.file("calls")}));
  ASSERT_EQ(sim.wait().code, 0);
  calllist list = readcalls(dir.file("calls"));
  // All but the 23 held calls: then the packer has read everything.
  std::string written = list.stored;
  for (int held = 0; held < 23; ++held) written.erase(written.rfind('\n', written.size() - 2) + 1);
  ASSERT_TRUE(link.waitfor_out(written)) << link.err();
  link.signal(SIGINT);
  procresult r = link.wait();
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(r.out, list.stored);
  EXPECT_NE(r.err.find("do_terminate() sig=2"), std::string::npos);
}

// SIGUSR1 and SIGALRM reach the program; SIGTERM makes it write its held
// calls before both end.
TEST(Link, PassesSignalsOn) {
  tmpdir dir;
  procspec job = linkjob({"listen:127.0.0.1:0", "--", deviroz7e, "-v"});
  job.cwd = dir.path();  // where SIGUSR1 opens the raw data log
  childproc link(job);
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0);
  int peer = connectfrom("127.0.0.1", port);
  sendall(peer, neaxcalls(0, 5));
  ASSERT_TRUE(link.waitfor_err("link up"));
  link.signal(SIGUSR1);
  EXPECT_TRUE(link.waitfor_err("do_toglograw() sig=10"));
  link.signal(SIGALRM);
  EXPECT_TRUE(link.waitfor_err("Rec: 5 ")) << link.err();
  EXPECT_EQ(link.out(), "") << "five calls are held";
  link.signal(SIGTERM);
  procresult r = link.wait();
  close(peer);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 5));
  EXPECT_NE(r.err.find("do_terminate() sig=15"), std::string::npos);
  EXPECT_NE(r.err.find("exited with status 0"), std::string::npos);
}

// The keeper ends as its program ends; its own failures have codes of their own.
TEST(Link, EndsAsTheProgramEnds) {
  tmpdir dir;
  writefile(dir.file("notrunnable"), "#!/bin/sh\n");
  struct {
    std::vector<std::string> program;
    int code, termsig;
    std::string err;
  } cases[] = {
      {{"/bin/sh", "-c", "exit 3"}, 3, 0, "/bin/sh exited with status 3"},
      {{"/bin/sh", "-c", "kill -9 $$"}, -1, SIGKILL, "/bin/sh ended by signal 9"},
      {{deviroz7e, "-o", dir.file("missing")}, 2, 0, "exited with status 2"},
      {{"no-such-program-here"}, 127, 0, "cannot run no-such-program-here: No such file"},
      {{dir.file("notrunnable")}, 126, 0, "Permission denied"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"listen:127.0.0.1:0", "--"};
    args.insert(args.end(), c.program.begin(), c.program.end());
    procspec job = linkjob(args);
    // A PATH with a directory this user may not search would make "not
    // found" read as "permission denied".
    job.env.push_back("PATH=/usr/bin:/bin");
    childproc link(job);
    if (c.program[0] == deviroz7e) {
      // The packer learns of the missing store only at its first call.
      int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
      int peer = connectfrom("127.0.0.1", port);
      sendall(peer, neaxcalls(0, 24));
      procresult r = link.wait();
      close(peer);
      EXPECT_EQ(r.code, c.code) << describe(r);
      continue;
    }
    procresult r = link.wait();
    EXPECT_EQ(r.code, c.code) << describe(r);
    EXPECT_EQ(r.termsig, c.termsig) << describe(r);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  }
  procresult usage = runproc(linkjob({"127.0.0.1:1"}));
  EXPECT_EQ(usage.code, 125) << describe(usage);
  EXPECT_NE(usage.err.find("Usage: pktav-link [options] SOURCE -- PROGRAM"), std::string::npos);
  // A listening address is taken as numbers only: this one is refused
  // without a name being looked up (localhost: should it ever be looked
  // up, /etc/hosts answers, not a name server).
  procresult busy = runproc(linkjob({"listen:localhost:1", "--", "true"}));
  EXPECT_EQ(busy.code, 125) << describe(busy);
}

// A drop after 128 bytes of a record: the packer's framing finds the next
// record behind the cut bytes all the same; told the end byte, the keeper
// drops them before they reach the packer.
TEST(Link, EndByteDropsARecordCutShort) {
  struct {
    std::vector<std::string> options;
    std::string stored;
  } cases[] = {
      {{}, neaxline(0) + neaxline(2)},
      {{"--end-byte", "03"}, neaxline(0) + neaxline(2)},
  };
  for (const auto& c : cases) {
    tmpdir dir;
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sin;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&sin), &len);
    std::thread exchange([&] {
      std::string first = neaxcall(0) + neaxcall(1).substr(0, 128);
      for (const std::string& bytes : {first, neaxcall(2)}) {
        int fd = accept(listener, nullptr, nullptr);
        (void)!write(fd, bytes.data(), bytes.size());
        close(fd);
      }
    });
    std::vector<std::string> args = c.options;
    args.insert(args.end(),
                {"--retry-min", "0.05", "127.0.0.1:" + std::to_string(ntohs(sin.sin_port)), "--",
                 deviroz7e, "-v", "-R", dir.file("raw")});
    childproc link(linkjob(args));
    exchange.join();
    EXPECT_TRUE(link.waitfor_err("link down", 10000, 2));
    // The raw log is written before each read: once it holds every byte
    // that reached the packer, the packer has taken them all.
    size_t reached = c.options.empty() ? 3 * 132 - 4 : 2 * 132;
    for (int i = 0; i < 500 && readfile(dir.file("raw")).size() < reached; ++i) usleep(10000);
    EXPECT_EQ(readfile(dir.file("raw")).size(), reached);
    link.signal(SIGTERM);
    procresult r = link.wait();
    close(listener);
    EXPECT_EQ(r.out, c.stored) << testing::PrintToString(c.options) << r.err;
    bool told = !c.options.empty();
    EXPECT_EQ(r.err.find("; 128 bytes of a record cut short dropped") != std::string::npos, told)
        << r.err;
  }
}

// --check reads the settings as a run would and ends: 0 when a run would
// start, 2 with the reason in one line. It starts nothing.
TEST(Link, CheckTellsWhetherARunWouldStart) {
  tmpdir dir;
  std::string marker = dir.file("started");
  writefile(dir.file("program"), "#!/bin/sh\ntouch " + marker + "\n");
  chmod(dir.file("program").c_str(), 0755);
  writefile(dir.file("notrunnable"), "#!/bin/sh\n");
  struct {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"--check", "--allow", "127.0.0.1", "listen:127.0.0.1:0", "--", dir.file("program")}, 0, ""},
      {{"--check", "--speed", "9600", dir.file("no-such-device"), "--", "true"}, 0, ""},
      {{"--retry-max", "5", "--check", "127.0.0.1:2001", "--", "true"}, 0, ""},
      {{"--check", "--allow", "127.1.2", "listen:0.0.0.0:2001", "--", "true"}, 2,
       "pktav-link: bad value: 127.1.2\n"},
      {{"--check", "listen:0.0.0.0:99999", "--", "true"}, 2,
       "pktav-link: no such port: listen:0.0.0.0:99999\n"},
      {{"--check", "--speed", "12345", "/dev/ttyS0", "--", "true"}, 2,
       "pktav-link: bad value: 12345\n"},
      {{"--bogus", "--check", "127.0.0.1:2001", "--", "true"}, 2,
       "pktav-link: unknown option or missing argument: --bogus\n"},
      {{"--check", "127.0.0.1:2001"}, 2,
       "pktav-link: SOURCE, -- and the program to run are needed\n"},
      // Numbers only, as above: a name to listen on is refused, not looked up.
      {{"--check", "listen:localhost:2001", "--", "true"}, 2, "pktav-link: localhost:2001: "},
      {{"--check", "127.0.0.1:no-such-service", "--", "true"}, 2,
       "pktav-link: 127.0.0.1:no-such-service: "},
      {{"--check", "127.0.0.1:2001", "--", "no-such-program-here"}, 2,
       "pktav-link: cannot run no-such-program-here: No such file or directory\n"},
      {{"--check", "127.0.0.1:2001", "--", dir.file("notrunnable")}, 2,
       "pktav-link: cannot run " + dir.file("notrunnable") + ": Permission denied\n"},
      {{"--check", "127.0.0.1:2001", "--", dir.path()}, 2, ": Permission denied\n"},
  };
  const std::string searchpath = "PATH=/usr/bin:/bin";
  for (const auto& c : cases) {
    procspec job = linkjob(c.args);
    job.env.push_back(searchpath);
    procresult r = runproc(job);
    EXPECT_TRUE(r.exited && r.code == c.code) << describe(r);
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "") << testing::PrintToString(c.args);
    } else {
      EXPECT_EQ(r.err.rfind("pktav-link: ", 0), 0u) << r.err;
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
      EXPECT_EQ(linecount(r.err), 1u) << "no usage text: " << r.err;
    }
    EXPECT_EQ(r.out, "");
  }
  EXPECT_NE(access(marker.c_str(), F_OK), 0) << "the program was started";
}

}  // namespace
