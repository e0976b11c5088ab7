// What an operator found pktav-link doing wrong, each a case that used to
// give a plainly wrong or silent result: a file read over and over, a
// silent peer keeping the exchange out, IPv4 peers not matching entries
// written the IPv6 way, bytes counted as carried that the program never
// took, a device that comes back found only at the next retry.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
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

// A regular file is read once; its end is the end of the program's input,
// and the keeper ends as the program does, as if the program had read the
// file itself. The bytes after the last end byte are the file's last
// record, which its end completes.
TEST(LinkFault, ARegularFileIsReadOnceAndItsEndPassedOn) {
  struct {
    std::vector<std::string> options;
    std::string tail;
  } cases[] = {
      {{}, ""},
      {{"--end-byte", "03"}, ""},
      {{"--end-byte", "03"}, "partial record"},
  };
  for (const auto& c : cases) {
    tmpdir dir;
    writefile(dir.file("in.smdr"), neaxcalls(0, 40) + c.tail);
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"./in.smdr", "--", deviroz7e, "-v"});
    procspec job = linkjob(args);
    job.cwd = dir.path();
    procresult r = runproc(job);
    SCOPED_TRACE(testing::PrintToString(c.options) + c.tail);
    EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
    EXPECT_EQ(r.out, neaxlines(0, 40));
    EXPECT_EQ(occurrences(r.err, "link up: ./in.smdr"), 1) << r.err;
    EXPECT_NE(r.err.find("end of ./in.smdr, " + std::to_string(40 * 132 + c.tail.size()) +
                         " bytes carried: the program's input ends there"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("retry"), std::string::npos) << r.err;
  }
}

// A peer that connects and says nothing no longer keeps the exchange out:
// once it has been silent for --give-way-after, the next allowed peer
// takes its place. Until then the next one is turned away.
TEST(LinkFault, ASilentPeerGivesWayToANewOne) {
  childproc link(linkjob({"--give-way-after", "1", "--allow", "127.0.0.2", "--allow", "127.0.0.3",
                          "listen:127.0.0.1:0", "--", deviroz7e, "-v"}));
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << link.err();
  int silent = connectfrom("127.0.0.2", port);
  ASSERT_GE(silent, 0);
  ASSERT_TRUE(link.waitfor_err("link up: 127.0.0.2:"));
  // The exchange calls until the silent peer gives way.
  int exchange = -1;
  for (int tries = 0; tries < 200 && exchange < 0; ++tries) {
    int fd = connectfrom("127.0.0.3", port);
    ASSERT_GE(fd, 0);
    if (link.waitfor_err("link up: 127.0.0.3:", 100)) {
      exchange = fd;
    } else {
      char byte;
      EXPECT_EQ(read(fd, &byte, 1), 0) << "turned away";
      close(fd);
    }
  }
  ASSERT_GE(exchange, 0) << link.err();
  EXPECT_TRUE(link.waitfor_err("link down: silent for ")) << link.err();
  EXPECT_TRUE(link.waitfor_err(" s, gave way to 127.0.0.3:")) << link.err();
  char byte;
  EXPECT_EQ(read(silent, &byte, 1), 0) << "the silent peer's connection is closed";
  sendall(exchange, neaxcalls(0, 30));
  EXPECT_TRUE(link.waitfor_out(neaxlines(0, 7)));
  link.signal(SIGTERM);
  procresult r = link.wait();
  close(silent);
  close(exchange);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 30));
}

// Allow entries written as IPv4-mapped IPv6 addresses, on a socket that
// takes both families.
TEST(LinkFault, MappedAllowEntriesMatchIPv4PeersOnAnIPv6Socket) {
  struct {
    std::string entry;
    const char* from;
    bool allowed;
  } cases[] = {
      {"::ffff:127.0.0.2", "127.0.0.2", true},
      {"::ffff:127.0.0.2", "127.0.0.3", false},
      {"::ffff:0:0/96", "127.0.0.3", true},
      {"127.0.0.2", "127.0.0.2", true},
  };
  for (const auto& c : cases) {
    childproc link(linkjob({"--allow", c.entry, "listen:[::]:0", "--", "cat"}));
    int port = listeningport(link, "pktav-link: listening on [::]:");
    ASSERT_GT(port, 0) << link.err();
    int fd = connectfrom(c.from, port);
    ASSERT_GE(fd, 0);
    std::string told = std::string(c.allowed ? "link up: " : "refused peer ") + c.from + ":";
    EXPECT_TRUE(link.waitfor_err(told)) << c.entry << " " << c.from << "\n" << link.err();
    close(fd);
    link.signal(SIGTERM);
    link.wait();
  }
}

// The number after "process " in the keeper's message about its program.
pid_t programpid(childproc& link) {
  if (!link.waitfor_err("process ")) return -1;
  std::string err = link.err();
  return static_cast<pid_t>(std::atoi(err.c_str() + err.find("process ") + 8));
}

bool stopped(pid_t pid) {
  std::string stat = readfile("/proc/" + std::to_string(pid) + "/stat");
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && stat.compare(paren, 4, ") T ") == 0;
}

// SIGTERM while the program is stopped: what the link brings after it is
// not counted as carried, and what the program never took is told at its
// end.
TEST(LinkFault, BytesTheProgramNeverTookAreNotCountedAsCarried) {
  tmpdir dir;
  std::string taken = dir.file("taken");
  childproc link(linkjob({"listen:127.0.0.1:0", "--", "sh", "-c", "exec cat > " + taken}));
  int port = listeningport(link, "pktav-link: listening on 127.0.0.1:");
  ASSERT_GT(port, 0) << link.err();
  pid_t program = programpid(link);
  ASSERT_GT(program, 0);
  int peer = connectfrom("127.0.0.1", port);
  ASSERT_GE(peer, 0);
  sendall(peer, std::string(1000, 'a'));
  for (int i = 0; i < 1000 && readfile(taken).size() < 1000; ++i) usleep(10000);
  ASSERT_EQ(readfile(taken).size(), 1000u);

  kill(program, SIGSTOP);
  // Stopped before the SIGTERM comes, which then waits for it to go on.
  for (int i = 0; i < 1000 && !stopped(program); ++i) usleep(10000);
  ASSERT_TRUE(stopped(program));
  link.signal(SIGTERM);  // passed on: it waits for the program to run again
  ASSERT_TRUE(link.waitfor_err("Terminated: passed on to the program"));
  sendall(peer, std::string(3000, 'b'));
  close(peer);
  EXPECT_TRUE(link.waitfor_err(
      "link down: closed by the peer, 1000 bytes carried (3000 more read, which the program has "
      "not taken)\n"))
      << link.err();
  kill(program, SIGCONT);  // the SIGTERM waiting for it ends it at once
  procresult r = link.wait();
  EXPECT_EQ(r.termsig, SIGTERM) << describe(r);
  EXPECT_NE(r.err.find("sh ended by signal 15 (Terminated); it never took the last 3000 bytes "
                       "read\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(readfile(taken), std::string(1000, 'a'));
}

// A device that goes away and comes back is opened again as soon as it is
// there, not at the next retry: with retries a minute apart, pabxsim's
// pseudo-terminal, made anew after every drop, is read to its end well
// within that minute. The keeper starts first, before the device exists,
// in a folder that does not exist yet either.
TEST(LinkFault, ADeviceIsOpenedAgainAsSoonAsItComesBack) {
  tmpdir dir;
  std::string folder = dir.file("serial"), port = folder + "/by-id-pbx";
  std::string cdr = dir.file("cdr"), calls = dir.file("calls");
  mkdir(cdr.c_str(), 0755);
  childproc link(linkjob(
      {"--retry-min", "60", "--retry-max", "60", port, "--", deviroz7e, "-v", "-M", "-o", cdr}));
  ASSERT_TRUE(link.waitfor_err("waiting 60 s to retry")) << link.err();
  mkdir(folder.c_str(), 0755);
  childproc sim(simjob({"-n", "300", "-s", "3", "--start", "2024-02-05T10:00", "--drop-every",
                        "100", "--pty=" + port, "--calls", calls}));
  procresult s = sim.wait(40000);
  ASSERT_EQ(s.code, 0) << describe(s) << link.err();
  calllist list = readcalls(calls);
  EXPECT_TRUE(waitforlines(cdr, linecount(list.stored) - 23)) << link.err();
  link.signal(SIGTERM);
  procresult r = link.wait();
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_EQ(readstore(cdr), storeof(list.stored));
  EXPECT_EQ(occurrences(r.err, "pktav-link: link up: "), 3) << r.err;
}

// A message longer than any fixed line keeps its reason: a device path of
// some 1,200 characters still ends in why it cannot be opened.
TEST(LinkFault, ALongMessageKeepsItsReason) {
  tmpdir dir;
  std::string path = dir.path();
  for (int i = 0; i < 6; ++i) path += "/" + std::string(200, 'd');
  path += "/pbx";
  childproc link(linkjob({"--retry-min", "60", path, "--", "cat"}));
  EXPECT_TRUE(link.waitfor_err(path + ": No such file or directory; waiting 60 s to retry\n"))
      << link.err().substr(0, 200);
  link.signal(SIGTERM);
  link.wait();
}

}  // namespace
