// The parts of the link keeper that need no link: the relay's hold-back of
// a record cut short, the allow-list, the command line and the socket and
// line settings.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tools/link/allow.h"
#include "tools/link/linkopts.h"
#include "tools/link/relay.h"
#include "tools/link/serial.h"
#include "tools/link/tcp.h"

namespace {

// Feeds chunks into a relay and reads back what a program would get.
class relayprobe {
 public:
  explicit relayprobe(int endbyte) : r_(endbyte, 4096) {
    int fds[2];
    EXPECT_EQ(pipe2(fds, O_NONBLOCK), 0);
    in_ = fds[0];
    out_ = fds[1];
  }
  ~relayprobe() {
    close(in_);
    close(out_);
  }
  void take(const std::string& bytes) {
    ASSERT_LE(bytes.size(), r_.room());
    bytes.copy(r_.space(), bytes.size());
    r_.commit(bytes.size());
    EXPECT_TRUE(r_.giveto(out_));
  }
  std::string given() {
    std::string got;
    char buf[8192];
    for (ssize_t n; (n = read(in_, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    return got;
  }
  relay& get() { return r_; }

 private:
  relay r_;
  int in_ = -1, out_ = -1;
};

TEST(Relay, WithoutAnEndBytePassesEverythingAtOnce) {
  relayprobe p(-1);
  p.take(
      "abc\x03"
      "de");
  EXPECT_EQ(p.given(),
            "abc\x03"
            "de");
  EXPECT_EQ(p.get().cutshort(), 0u);
}

TEST(Relay, HoldsBackTheBytesAfterTheLastEndByte) {
  relayprobe p(0x03);
  p.take("rec1\x03rec2 be");
  EXPECT_EQ(p.given(), "rec1\x03");
  p.take("gun\x03rec3");
  EXPECT_EQ(p.given(), "rec2 begun\x03");
  // The link drops: the start of rec3 never reaches the program.
  EXPECT_EQ(p.get().cutshort(), 4u);
  p.take("rec4\x03");
  EXPECT_EQ(p.given(), "rec4\x03");
}

TEST(Relay, PassesNoiseLongerThanAnyRecord) {
  relayprobe p('\n');
  std::string noise(relay::holdmax + 1, '#');
  p.take(noise);
  EXPECT_EQ(p.given(), noise);
  EXPECT_EQ(p.get().cutshort(), 0u);
}

TEST(Relay, KeepsWhatAFullPipeDidNotTake) {
  relay r(-1, 1 << 20);
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::string big(200000, 'x');
  big.copy(r.space(), big.size());
  r.commit(big.size());
  EXPECT_TRUE(r.giveto(fds[1]));
  EXPECT_TRUE(r.ready());  // the pipe is full, the rest waits
  size_t got = 0;
  char buf[65536];
  while (r.ready() || got < big.size()) {
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n > 0) got += static_cast<size_t>(n);
    EXPECT_TRUE(r.giveto(fds[1]));
  }
  EXPECT_EQ(got, big.size());
  close(fds[1]);
  EXPECT_FALSE(r.ready());
  close(fds[0]);
}

sockaddr_storage address(const char* text, int port = 4000) {
  sockaddr_storage ss{};
  auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
  if (inet_pton(AF_INET, text, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
  } else {
    EXPECT_EQ(inet_pton(AF_INET6, text, &v6->sin6_addr), 1) << text;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
  }
  return ss;
}

TEST(AllowList, AddressesAndNetworks) {
  allowlist a;
  sockaddr_storage anyone = address("127.9.9.9");
  EXPECT_TRUE(a.allows(reinterpret_cast<sockaddr*>(&anyone))) << "empty: everyone";
  for (const char* e : {"127.168.7.7", "127.1.0.0/16", "fd12:3456::/32", "127.0.0.1"})
    ASSERT_TRUE(a.add(e)) << e;
  struct {
    const char* peer;
    bool allowed;
  } cases[] = {
      {"127.168.7.7", true},     {"127.168.7.8", false},     {"127.1.200.3", true},
      {"127.2.0.1", false},       {"fd12:3456:5::1", true},   {"fd12:3457::1", false},
      {"::ffff:127.1.2.3", true}, {"::ffff:127.3.2.3", false}, {"127.0.0.1", true},
      {"127.0.0.2", false},
  };
  for (const auto& c : cases) {
    sockaddr_storage ss = address(c.peer);
    EXPECT_EQ(a.allows(reinterpret_cast<sockaddr*>(&ss)), c.allowed) << c.peer;
  }
  for (const char* bad : {"", "127.1.0.0/33", "127.1.0.0/", "127.1.0.0/x", "example.org", "::/129",
                          "127.1.2", "127.0.0.0/ 8", "127.0.0.0/08x"})
    EXPECT_FALSE(a.add(bad)) << bad;
}

// An IPv4 address has two spellings; an entry in either matches a peer in
// either, on an IPv4 socket or an IPv6 one.
TEST(AllowList, IPv4MappedEntriesMatchIPv4Peers) {
  struct {
    const char* entry;
    const char* peer;
    bool allowed;
  } cases[] = {
      {"::ffff:127.0.0.2", "127.0.0.2", true},
      {"::ffff:127.0.0.2", "::ffff:127.0.0.2", true},
      {"::ffff:127.0.0.2", "127.0.0.3", false},
      {"::ffff:127.0.0.2", "::ffff:127.0.0.3", false},
      {"::ffff:0:0/96", "127.0.0.9", true},
      {"::ffff:0:0/96", "::ffff:127.1.2.3", true},
      {"::ffff:0:0/96", "::1", false},
      {"::ffff:127.0.0.0/104", "127.200.0.1", true},
      {"::ffff:127.0.0.0/104", "128.0.0.1", false},
      {"127.0.0.2", "::ffff:127.0.0.2", true},
      {"127.0.0.2", "::127.0.0.2", false},  // IPv4-compatible, not mapped
      {"::/0", "127.0.0.1", true},
      {"0.0.0.0/0", "::1", false},
  };
  for (const auto& c : cases) {
    allowlist a;
    ASSERT_TRUE(a.add(c.entry)) << c.entry;
    sockaddr_storage ss = address(c.peer);
    EXPECT_EQ(a.allows(reinterpret_cast<sockaddr*>(&ss)), c.allowed) << c.entry << " " << c.peer;
  }
}

TEST(LinkOptions, Sources) {
  struct {
    std::string text;
    bool ok;
    int kind;
    std::string host, port, path;
  } cases[] = {
      {"pbx.example:2001", true, linksource::connect, "pbx.example", "2001", ""},
      {"127.0.0.1:smdr", true, linksource::connect, "127.0.0.1", "smdr", ""},
      {"[::1]:2001", true, linksource::connect, "::1", "2001", ""},
      {"listen:0.0.0.0:2001", true, linksource::listen, "0.0.0.0", "2001", ""},
      {"listen:[::]:2001", true, linksource::listen, "::", "2001", ""},
      {"/dev/ttyUSB0", true, linksource::device, "", "", "/dev/ttyUSB0"},
      {"./pbx-port", true, linksource::device, "", "", "./pbx-port"},
      {"ttyS0", false, 0, "", "", ""},
      {"pbx:", false, 0, "", "", ""},
      {":2001", false, 0, "", "", ""},
      {"listen:2001", false, 0, "", "", ""},
      // Ports the resolver would wrap or that no server listens on.
      {"127.0.0.1:65535", true, linksource::connect, "127.0.0.1", "65535", ""},
      {"127.0.0.1:65536", false, 0, "", "", ""},
      {"127.0.0.1:99999", false, 0, "", "", ""},
      {"127.0.0.1:99999999999999999999999", false, 0, "", "", ""},
      {"127.0.0.1:0", false, 0, "", "", ""},
      {"listen:127.0.0.1:0", true, linksource::listen, "127.0.0.1", "0", ""},
      {"listen:127.0.0.1:70000", false, 0, "", "", ""},
  };
  for (const auto& c : cases) {
    linksource s;
    std::string why;
    ASSERT_EQ(parsesource(c.text, &s, &why), c.ok) << c.text;
    if (!c.ok) {
      EXPECT_NE(why.find(c.text), std::string::npos) << why;
      continue;
    }
    EXPECT_EQ(static_cast<int>(s.kind), c.kind) << c.text;
    EXPECT_EQ(s.net.host, c.host) << c.text;
    EXPECT_EQ(s.net.port, c.port) << c.text;
    EXPECT_EQ(s.path, c.path) << c.text;
  }
}

linkparse parse(std::vector<std::string> args, linkoptions* o, std::string* why) {
  args.insert(args.begin(), "pktav-link");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return parselinkoptions(static_cast<int>(args.size()), argv.data(), o, why);
}

TEST(LinkOptions, CommandLine) {
  linkoptions o;
  std::string why;
  ASSERT_EQ(parse({"--retry-min", "0.5", "--retry-max", "10", "--end-byte", "03", "--allow",
                   "127.0.0.0/8", "--metrics", "pktav.prom", "--site", "north \"A\"",
                   "listen:0.0.0.0:2001", "--", "pktav-deviroz7e", "-o", "/var/cdr", "-x"},
                  &o, &why),
            linkparse::run)
      << why;
  EXPECT_EQ(o.retrymin, 0.5);
  EXPECT_EQ(o.retrymax, 10);
  EXPECT_EQ(o.endbyte, 3);
  EXPECT_EQ(o.metrics, "pktav.prom");
  EXPECT_EQ(o.site, "north \"A\"");
  EXPECT_EQ(o.program, (std::vector<std::string>{"pktav-deviroz7e", "-o", "/var/cdr", "-x"}));

  struct {
    std::vector<std::string> args;
    std::string why;
  } bad[] = {
      {{"pbx:2001"}, "SOURCE, -- and the program to run are needed"},
      {{"pbx:2001", "pktav-deviroz7e"}, "SOURCE, -- and the program"},
      {{"pbx:2001", "--"}, "SOURCE, -- and the program"},
      {{"--end-byte", "3g", "pbx:2001", "--", "p"}, "bad value: 3g"},
      {{"--end-byte", "100", "pbx:2001", "--", "p"}, "bad value: 100"},
      {{"--retry-min", "0", "pbx:2001", "--", "p"}, "bad value: 0"},
      {{"--speed", "9601", "/dev/ttyS0", "--", "p"}, "bad value: 9601"},
      {{"--line", "9N1", "/dev/ttyS0", "--", "p"}, "bad value: 9N1"},
      {{"--allow", "127.0.0.2", "pbx:2001", "--", "p"}, "--allow is for a listen: source"},
      {{"--bogus", "pbx:2001", "--", "p"}, "unknown option"},
      // Numbers are plain digits: no blank, sign, base or exponent, and no
      // wait too short to be one.
      {{"--retry-min", "1e-9", "pbx:2001", "--", "p"}, "bad value: 1e-9"},
      {{"--retry-min", "0.0001", "pbx:2001", "--", "p"}, "bad value: 0.0001"},
      {{"--retry-min", " 5", "pbx:2001", "--", "p"}, "bad value:  5"},
      {{"--retry-max", "0x10", "pbx:2001", "--", "p"}, "bad value: 0x10"},
      {{"--retry-max", "1e3", "pbx:2001", "--", "p"}, "bad value: 1e3"},
      {{"--retry-max", "+5", "pbx:2001", "--", "p"}, "bad value: +5"},
      {{"--retry-max", "86400.5", "pbx:2001", "--", "p"}, "bad value: 86400.5"},
      {{"--dead-after", "1.5", "pbx:2001", "--", "p"}, "bad value: 1.5"},
      {{"--dead-after", "0", "pbx:2001", "--", "p"}, "bad value: 0"},
      {{"--end-byte", "0x3", "pbx:2001", "--", "p"}, "bad value: 0x3"},
      {{"--end-byte", " 3", "pbx:2001", "--", "p"}, "bad value:  3"},
      {{"--end-byte", "003", "pbx:2001", "--", "p"}, "bad value: 003"},
      {{"--give-way-after", "0", "listen:[::]:0", "--", "p"}, "bad value: 0"},
      {{"--allow", "127.0.0.0/+8", "listen:[::]:0", "--", "p"}, "bad value: 127.0.0.0/+8"},
      {{"--metrics", "/var/lib/node/", "pbx:2001", "--", "p"}, "bad value: /var/lib/node/"},
      {{"--metrics", "..", "pbx:2001", "--", "p"}, "bad value: .."},
      {{"--site", "", "pbx:2001", "--", "p"}, "bad value: "},
      {{"--site", "hq\n", "pbx:2001", "--", "p"}, "bad value: hq\n"},
      // Settings that contradict each other, or are given twice.
      {{"--retry-min", "100", "--retry-max", "5", "pbx:2001", "--", "p"},
       "--retry-max is shorter than --retry-min"},
      {{"--end-byte", "03", "--end-byte", "0a", "pbx:2001", "--", "p"}, "--end-byte given twice"},
      {{"--end-byte=03", "--end-byte=03", "pbx:2001", "--", "p"}, "--end-byte given twice"},
      {{"--speed", "9600", "--speed", "9600", "/dev/ttyS0", "--", "p"}, "--speed given twice"},
      {{"--site", "a", "--site", "b", "pbx:2001", "--", "p"}, "--site given twice"},
      {{"--speed", "9600", "pbx:2001", "--", "p"}, "--speed and --line are for a device"},
      {{"--line", "7E1", "listen:[::]:0", "--", "p"}, "--speed and --line are for a device"},
      {{"--give-way-after", "5", "pbx:2001", "--", "p"},
       "--give-way-after is for a listen: source"},
  };
  for (const auto& c : bad) {
    linkoptions other;
    EXPECT_EQ(parse(c.args, &other, &why), linkparse::bad) << testing::PrintToString(c.args);
    EXPECT_NE(why.find(c.why), std::string::npos) << why;
  }
}

// One of the retry waits given alone: the other makes way for it.
TEST(LinkOptions, ARetryWaitGivenAloneMovesTheOther) {
  struct {
    std::vector<std::string> options;
    double min, max;
  } cases[] = {
      {{}, 1, 30},
      {{"--retry-min", "100"}, 100, 100},
      {{"--retry-max", "0.5"}, 0.5, 0.5},
      {{"--retry-min", "2", "--retry-max", "2"}, 2, 2},
      {{"--retry-min", ".25", "--retry-max", "7."}, 0.25, 7},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"pbx:2001", "--", "p"});
    linkoptions o;
    std::string why;
    ASSERT_EQ(parse(args, &o, &why), linkparse::run) << why;
    EXPECT_EQ(o.retrymin, c.min) << testing::PrintToString(c.options);
    EXPECT_EQ(o.retrymax, c.max) << testing::PrintToString(c.options);
  }
}

TEST(LinkOptions, LineSettings) {
  lineconfig c;
  ASSERT_TRUE(parseframing("7e2", &c));
  ASSERT_TRUE(parsespeed("19200", &c.speed));
  termios t = rawline(termios{}, c);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS7));
  EXPECT_TRUE(t.c_cflag & PARENB);
  EXPECT_FALSE(t.c_cflag & PARODD);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CLOCAL);
  EXPECT_FALSE(t.c_lflag & ICANON);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B19200));
  ASSERT_TRUE(parseframing("8O1", &c));
  t = rawline(termios{}, c);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB),
            static_cast<tcflag_t>(CS8 | PARENB | PARODD));
}

TEST(Tcp, KeepaliveGivesUpASilentPeerWithinTheTimeGiven) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  keepalive(fd, 120);
  auto get = [fd](int level, int name) {
    int v = 0;
    socklen_t len = sizeof v;
    getsockopt(fd, level, name, &v, &len);
    return v;
  };
  EXPECT_EQ(get(SOL_SOCKET, SO_KEEPALIVE), 1);
  int idle = get(IPPROTO_TCP, TCP_KEEPIDLE), interval = get(IPPROTO_TCP, TCP_KEEPINTVL);
  int count = get(IPPROTO_TCP, TCP_KEEPCNT);
  EXPECT_EQ(idle, 60);
  EXPECT_LE(idle + interval * count, 120);
  EXPECT_GE(idle + interval * count, 100);
  EXPECT_EQ(get(IPPROTO_TCP, TCP_USER_TIMEOUT), 120000);
  close(fd);
}

}  // namespace
