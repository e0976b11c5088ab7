// The deviroz7e program's input sources: a file, standard input, a serial
// line (a pseudo-terminal here) and a TCP connection to a listener of the
// test's own on 127.0.0.1.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "support/e2e.h"
#include "support/tmpdir.h"

namespace {

const std::string bin = PKTAV_DEVIROZ7E;
constexpr int netjail_nonamespace = 77;

TEST(Deviroz7eInput, FromAFile) {
  tmpdir dir;
  writefile(dir.file("in"), neaxcalls(0, 30));
  procresult r = runproc(packer(bin, {"-v", "-i", dir.file("in")}));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 30));
  EXPECT_NE(r.err.find("Rec: 30         Rej: 0 "), std::string::npos) << r.err;
}

TEST(Deviroz7eInput, MissingFile) {
  procresult r = runproc(packer(bin, {"-i", "/no/such/file"}));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("Can't open input /no/such/file   errno=2\n " + std::string(18, ' ') +
                       "  Rec: 0          Rej: 0 "),
            std::string::npos)
      << r.err;
}

TEST(Deviroz7eInput, FromStandardInputWithRejectsAndNoise) {
  std::string stream =
      "noise\x03" + neaxcall(0) + "garbage" + std::string(140, 'x') + "\x03" + neaxcalls(1, 2);
  procspec job = packer(bin, {"-v"});
  job.stdinkind = procspec::pipe;
  procresult r = runproc(job, stream);
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 3));
  EXPECT_NE(r.err.find("Rec: 4          Rej: 1 "), std::string::npos) << r.err;
}

// A pseudo-terminal in raw mode stands in for the serial line; the
// packer reads it with the settings it finds.
TEST(Deviroz7eInput, FromASerialLine) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  std::string slave = ptsname(master);
  int s = open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(s, 0);
  termios t;
  tcgetattr(s, &t);
  cfmakeraw(&t);
  tcsetattr(s, TCSANOW, &t);

  childproc p(packer(bin, {"-v", "-x", "-i", slave}));
  ASSERT_TRUE(p.waitfor_err("DUMMY pabxdep_init()"));
  std::string data = neaxcalls(0, 25);
  ASSERT_EQ(write(master, data.data(), data.size()), static_cast<ssize_t>(data.size()));
  ASSERT_TRUE(p.waitfor_out(neaxlines(0, 2)));
  p.signal(SIGTERM);
  procresult r = p.wait();
  close(s);
  close(master);
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 25));
}

// A listener on 127.0.0.1 with an ephemeral port (or the given one).
class listener {
 public:
  explicit listener(int port = 0, int backlog = 1) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok_ =
        bind(fd_, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && listen(fd_, backlog) == 0;
    socklen_t len = sizeof sin;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&sin), &len);
    port_ = ntohs(sin.sin_port);
  }
  ~listener() { close(fd_); }
  bool ok() const { return ok_; }
  int port() const { return port_; }
  // A connection from the test itself, or -1.
  int connectto() const {
    int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(static_cast<uint16_t>(port_));
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(c, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0) return c;
    close(c);
    return -1;
  }
  // Accepts one connection; its descriptor, or -1.
  int acceptone() const { return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }
  // Accepts one connection, sends data, then closes it.
  void serve(const std::string& data) {
    int c = acceptone();
    if (c < 0) return;
    (void)!write(c, data.data(), data.size());
    close(c);
  }

 private:
  int fd_ = -1, port_ = 0;
  bool ok_ = false;
};

TEST(Deviroz7eInput, FromATcpConnectionUntilThePeerCloses) {
  listener l;
  ASSERT_TRUE(l.ok());
  std::thread server([&] { l.serve(neaxcalls(0, 26)); });
  procresult r = runproc(packer(bin, {"-v", "-i", "127.0.0.1:" + std::to_string(l.port())}));
  server.join();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxlines(0, 26));
  EXPECT_NE(r.err.find("TCP Trying connection 127.0.0.1 127.0.0.1 port " +
                       std::to_string(l.port()) + " ...\n"),
            std::string::npos)
      << r.err;
}

TEST(Deviroz7eInput, TcpHostNameAndTrailingPortText) {
  listener l;
  ASSERT_TRUE(l.ok());
  std::thread server([&] { l.serve(neaxcall(0)); });
  procresult r = runproc(
      packer(bin, {"-v", "-x", "-i", "localhost:" + std::to_string(l.port()) + "xyz:more"}));
  server.join();
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxline(0));
  EXPECT_NE(r.err.find("TCP mark1\nTCP mark2\nTCP mark3\nTCP mark4\nTCP Trying connection "
                       "localhost 127.0.0.1 port " +
                       std::to_string(l.port()) + " ...\nTCP mark4a\nTCP mark5\n"),
            std::string::npos)
      << r.err;
}

TEST(Deviroz7eInput, TcpConnectionRefused) {
  int port;
  {
    listener l;  // a port that was free a moment ago and is closed now
    port = l.port();
  }
  procresult r = runproc(packer(bin, {"-i", "127.0.0.1:" + std::to_string(port)}));
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("TCP - Can't connect 111 - Connection refused.\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("my_exit: errcode = 1\n"), std::string::npos);
}

TEST(Deviroz7eInput, TcpBadPort) {
  struct {
    std::string arg, message;
  } cases[] = {
      {"127.0.0.1:0", "TCP 0: bad port number\n"},
      {"127.0.0.1:", "TCP : bad port number\n"},
      {"127.0.0.1:no-such-service", "TCP no-such-service: bad port number\n"},
  };
  for (const auto& c : cases) {
    procresult r = runproc(packer(bin, {"-i", c.arg}));
    EXPECT_EQ(r.code, 1) << c.arg << describe(r);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.arg << r.err;
  }
}

// The name is looked up where no name server can be reached: in a private
// network namespace that has only a loopback interface.
TEST(Deviroz7eInput, TcpUnknownHost) {
  procspec job = packer(NETJAIL, {bin, "-i", "no-such-host.invalid:4000"});
  procresult r = runproc(job);
  if (r.exited && r.code == netjail_nonamespace)
    GTEST_SKIP() << "no private network namespace can be made here: " << r.err;
  EXPECT_EQ(r.code, 1) << describe(r);
  EXPECT_NE(r.err.find("TCP Host error no-such-host.invalid\n"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("TCP Trying connection"), std::string::npos) << r.err;
}

TEST(Deviroz7eInput, TcpPortByServiceName) {
  servent* se = getservbyname("discard", "tcp");
  ASSERT_NE(se, nullptr) << "the services database lacks discard";
  int port = ntohs(static_cast<uint16_t>(se->s_port));
  listener l(port);
  std::thread server;
  if (l.ok()) server = std::thread([&] { l.serve(neaxcall(0)); });
  procresult r = runproc(packer(bin, {"-v", "-i", "127.0.0.1:discard"}));
  if (server.joinable()) server.join();
  EXPECT_NE(r.err.find("TCP Trying connection 127.0.0.1 127.0.0.1 port " + std::to_string(port) +
                       " ...\n"),
            std::string::npos)
      << r.err;
  if (l.ok()) {
    EXPECT_EQ(r.code, 0) << describe(r);
    EXPECT_EQ(r.out, neaxline(0));
  } else {
    EXPECT_EQ(r.code, 1) << describe(r);  // nothing of ours may listen there
  }
}

TEST(Deviroz7eInput, LeadingColonMeansStandardInput) {
  procspec job = packer(bin, {"-v", "-i", ":4000"});
  job.stdinkind = procspec::pipe;
  procresult r = runproc(job, neaxcall(0));
  EXPECT_EQ(r.code, 0) << describe(r);
  EXPECT_EQ(r.out, neaxline(0));
}

// The descriptor of the first socket a process holds, duplicated into this
// one (the process must be a child of ours); -1 if it cannot be had.
int socketof(pid_t pid) {
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return -1;
  int got = -1;
  for (int fd = 3; fd < 64 && got < 0; ++fd) {
    char link[64] = "";
    std::string path = "/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd);
    if (readlink(path.c_str(), link, sizeof link - 1) > 0 && strncmp(link, "socket:", 7) == 0)
      got = static_cast<int>(syscall(SYS_pidfd_getfd, pidfd, fd, 0));
  }
  close(pidfd);
  return got;
}

// A peer that vanishes (powered off, cable pulled) sends nothing more, not
// even a reset: the link is probed after a minute without traffic, every
// ten seconds, six times, so that such a peer ends the input like a read
// error two minutes after the last byte. (tests/stress runs the whole wait.)
TEST(Deviroz7eInput, TcpLinkIsProbedWhenIdle) {
  listener l;
  ASSERT_TRUE(l.ok());
  int peer = -1;
  std::thread server([&] { peer = l.acceptone(); });
  childproc p(packer(bin, {"-v", "-i", "127.0.0.1:" + std::to_string(l.port())}));
  server.join();
  ASSERT_TRUE(p.waitfor_err("Rec: 0 "));
  int s = socketof(p.pid());
  if (s < 0) GTEST_SKIP() << "cannot take the packer's socket here: " << strerror(errno);
  const struct {
    int level, name, value;
  } options[] = {
      {SOL_SOCKET, SO_KEEPALIVE, 1},
      {IPPROTO_TCP, TCP_KEEPIDLE, 60},
      {IPPROTO_TCP, TCP_KEEPINTVL, 10},
      {IPPROTO_TCP, TCP_KEEPCNT, 6},
  };
  for (const auto& o : options) {
    int value = -1;
    socklen_t len = sizeof value;
    EXPECT_EQ(getsockopt(s, o.level, o.name, &value, &len), 0);
    EXPECT_EQ(value, o.value) << "option " << o.name;
  }
  close(s);
  close(peer);  // the packer ends at the end of the input
  procresult r = p.wait();
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
}

// A connection that stays pending on loopback: the listener accepts
// nothing and the one place of its accept queue is taken, so the SYNs of
// the packer are dropped and its connect waits for SIGTERM.
TEST(Deviroz7eInput, TerminateWhileConnecting) {
  listener l(0, 0);
  ASSERT_TRUE(l.ok());
  int filler = l.connectto();
  ASSERT_GE(filler, 0);
  childproc p(packer(bin, {"-i", "127.0.0.1:" + std::to_string(l.port())}));
  ASSERT_TRUE(p.waitfor_err("TCP Trying connection"));
  p.signal(SIGTERM);
  procresult r = p.wait(3000);
  close(filler);
  EXPECT_TRUE(r.exited && r.code == 0) << describe(r);
  EXPECT_NE(r.err.find("do_terminate() sig=15"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("Can't connect"), std::string::npos) << r.err;
}

}  // namespace
