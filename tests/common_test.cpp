// The library the tools share: addresses and listeners, the calendar and
// its ISO 8601 texts, messages of any length, writing every byte, starting
// a program, the waits between attempts, metrics and replacing a file.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/tmpdir.h"
#include "tools/common/address.h"
#include "tools/common/backoff.h"
#include "tools/common/civil.h"
#include "tools/common/diag.h"
#include "tools/common/exposition.h"
#include "tools/common/numbers.h"
#include "tools/common/optionname.h"
#include "tools/common/pathwatch.h"
#include "tools/common/replacefile.h"
#include "tools/common/signals.h"
#include "tools/common/spawn.h"
#include "tools/common/writeall.h"

const char* const progname = "common_test";

namespace {

TEST(Address, HostAndPort) {
  struct {
    std::string text;
    bool anyport, names;
    addressfault fault;
    std::string host, port;
  } cases[] = {
      {"pbx.example:2001", false, true, addressfault::none, "pbx.example", "2001"},
      {"127.0.0.1:smdr", false, true, addressfault::none, "127.0.0.1", "smdr"},
      {"127.0.0.1:smdr", false, false, addressfault::port, "", ""},
      {"[::1]:2001", false, false, addressfault::none, "::1", "2001"},
      {"[::]:0", true, false, addressfault::none, "::", "0"},
      {"127.0.0.1:0", false, false, addressfault::port, "", ""},
      {"127.0.0.1:65535", false, false, addressfault::none, "127.0.0.1", "65535"},
      // The resolver would take these modulo 65536 without a word.
      {"127.0.0.1:65536", true, true, addressfault::port, "", ""},
      {"127.0.0.1:99999", true, true, addressfault::port, "", ""},
      {"127.0.0.1:99999999999999999999999", true, true, addressfault::port, "", ""},
      {"pbx:", true, true, addressfault::form, "", ""},
      {":2001", true, true, addressfault::form, "", ""},
      {"2001", true, true, addressfault::form, "", ""},
      {"", true, true, addressfault::form, "", ""},
  };
  for (const auto& c : cases) {
    netaddress a;
    ASSERT_EQ(parseaddress(c.text, c.anyport, c.names, &a), c.fault) << c.text;
    if (c.fault != addressfault::none) continue;
    EXPECT_EQ(a.host, c.host) << c.text;
    EXPECT_EQ(a.port, c.port) << c.text;
    EXPECT_EQ(a.text, c.text);
  }
}

TEST(Address, AListenerOnAnyPortNamesThePortItGotAndItsPeers) {
  netaddress a;
  ASSERT_EQ(parseaddress("127.0.0.1:0", true, false, &a), addressfault::none);
  std::string why;
  int listener = openlistener(a, true, &why);
  ASSERT_GE(listener, 0) << why;
  EXPECT_TRUE(fcntl(listener, F_GETFL) & O_NONBLOCK);
  std::string self = localname(listener);
  ASSERT_EQ(self.rfind("127.0.0.1:", 0), 0u) << self;
  int port = std::atoi(self.c_str() + 10);
  EXPECT_GT(port, 0);

  // Something listens there now: a second listener is refused, and says where.
  netaddress same;
  ASSERT_EQ(parseaddress(self, false, false, &same), addressfault::none);
  EXPECT_LT(openlistener(same, false, &why), 0);
  EXPECT_EQ(why, "listen on " + self + ": Address already in use");
  close(listener);

  // A listening address is numeric: no name is looked up. localhost, which
  // /etc/hosts would give, never a name server, is refused all the same.
  ASSERT_EQ(parseaddress("localhost:2001", false, false, &a), addressfault::none);
  EXPECT_LT(openlistener(a, false, &why), 0);
  EXPECT_EQ(why.rfind("localhost:2001: ", 0), 0u) << why;
}

TEST(Address, PeerNames) {
  struct {
    const char* address;
    const char* name;
    const char* host;
  } cases[] = {
      {"127.1.2.3", "127.1.2.3:4000", "127.1.2.3"},
      {"::1", "[::1]:4000", "::1"},
      {"fd12:3456::7", "[fd12:3456::7]:4000", "fd12:3456::7"},
      // An IPv4 peer reaching an IPv6 socket is shown as IPv4.
      {"::ffff:127.0.0.2", "127.0.0.2:4000", "127.0.0.2"},
  };
  for (const auto& c : cases) {
    sockaddr_storage ss{};
    auto* v4 = reinterpret_cast<sockaddr_in*>(&ss);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&ss);
    if (inet_pton(AF_INET, c.address, &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(4000);
    } else {
      ASSERT_EQ(inet_pton(AF_INET6, c.address, &v6->sin6_addr), 1);
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(4000);
    }
    EXPECT_EQ(peername(reinterpret_cast<sockaddr*>(&ss)), c.name);
    EXPECT_EQ(peername(reinterpret_cast<sockaddr*>(&ss), false), c.host);
  }
  sockaddr none{};
  none.sa_family = AF_UNIX;
  EXPECT_EQ(peername(&none), "?");
}

TEST(Civil, DayNumbersRoundTrip) {
  EXPECT_EQ(daysfromcivil(1970, 1, 1), 0);
  EXPECT_EQ(daysfromcivil(2000, 3, 1), 11017);
  EXPECT_EQ(daysfromcivil(1969, 12, 31), -1);
  for (int64_t d = -800000; d < 800000; d += 997) {
    int y, m, day;
    civilfromdays(d, &y, &m, &day);
    ASSERT_EQ(daysfromcivil(y, m, day), d);
  }
  EXPECT_EQ(daysinmonth(2024, 2), 29);
  EXPECT_EQ(daysinmonth(2100, 2), 28);
  EXPECT_EQ(daysinmonth(2000, 2), 29);
}

TEST(Civil, ValidDatesAndTimes) {
  struct {
    wall w;
    bool valid;
  } cases[] = {
      {{2024, 2, 29, 0, 0, 0}, true},    {{2023, 2, 29, 0, 0, 0}, false},
      {{2026, 2, 30, 10, 0, 0}, false},  {{2026, 13, 1, 10, 0, 0}, false},
      {{2026, 0, 1, 10, 0, 0}, false},   {{2026, 4, 31, 10, 0, 0}, false},
      {{2026, 4, 30, 23, 59, 59}, true}, {{2026, 4, 30, 24, 0, 0}, false},
      {{2026, 4, 30, 10, 60, 0}, false}, {{2026, 4, 30, 10, 0, 99}, false},
      {{2026, 4, 0, 10, 0, 0}, false},   {{2026, 4, 1, -1, 0, 0}, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(validwall(c.w), c.valid) << c.w.year << "-" << c.w.month << "-" << c.w.day << " "
                                       << c.w.hour << ":" << c.w.minute << ":" << c.w.second;
  }
}

TEST(Civil, IsoTimesCarryTheirOffset) {
  char buf[32];
  wall w{2024, 10, 27, 2, 30, 5};
  EXPECT_EQ(std::string(buf, isotime(buf, w, 7200)), "2024-10-27T02:30:05+02:00");
  EXPECT_EQ(std::string(buf, isotime(buf, w, 3600)), "2024-10-27T02:30:05+01:00");
  EXPECT_EQ(std::string(buf, isotime(buf, w, -(9 * 3600 + 1800))), "2024-10-27T02:30:05-09:30");
  EXPECT_EQ(std::string(buf, isotime(buf, w, 0)), "2024-10-27T02:30:05+00:00");
  wall back = wallof(wallsecs(w));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.hour, 2);
  EXPECT_EQ(back.second, 5);
}

// Sets TZ for one test and puts it back.
class zone {
 public:
  explicit zone(const char* tz) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~zone() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(Civil, LocalStampsCarryTheZonesOffset) {
  struct {
    const char* tz;
    time_t t;
    const char* text;
  } cases[] = {
      {"UTC", 0, "1970-01-01T00:00:00+00:00"},
      {"Europe/Berlin", 1720000000, "2024-07-03T11:46:40+02:00"},
      {"Europe/Berlin", 1700000000, "2023-11-14T23:13:20+01:00"},
      {"Asia/Kolkata", 1700000000, "2023-11-15T03:43:20+05:30"},
      {"America/St_Johns", 1700000000, "2023-11-14T18:43:20-03:30"},
  };
  for (const auto& c : cases) {
    zone z(c.tz);
    EXPECT_EQ(isotime(c.t), c.text) << c.tz;
  }
}

// What a message call writes on standard error.
template <typename F>
std::string stderrof(F write) {
  tmpdir dir;
  int file = open(dir.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int saved = dup(STDERR_FILENO);
  dup2(file, STDERR_FILENO);
  write();
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(file);
  return readfile(dir.file("err"));
}

TEST(Diag, MessagesOfAnyLengthKeepTheirReason) {
  std::string path = "/" + std::string(5000, 'd') + "/device";
  EXPECT_EQ(stderrof([] { warnx("plain %d", 7); }), "common_test: plain 7\n");
  EXPECT_EQ(stderrof([&] {
              errno = ENOENT;
              warn("%s", path.c_str());
            }),
            "common_test: " + path + ": No such file or directory\n");
  std::string stamped = stderrof([&] {
    zone z("UTC");
    stampedwarnx("link down: %s, %d bytes carried", path.c_str(), 12);
  });
  ASSERT_EQ(stamped.size(), 26 + std::string("common_test: link down: ").size() + path.size() +
                                std::string(", 12 bytes carried\n").size())
      << stamped.substr(0, 80);
  EXPECT_EQ(stamped.substr(19, 7), "+00:00 ");
  EXPECT_EQ(stamped.substr(stamped.size() - 19), ", 12 bytes carried\n");
  EXPECT_EQ(format("%s|%d", std::string(300, 'x').c_str(), 5), std::string(300, 'x') + "|5");
}

// Label values and help escaped as the format wants, an empty label left
// out, numbers in the shortest digits that read back the same.
TEST(Exposition, EscapesLabelsAndHelpAndWritesNumbersExactly) {
  exposition e({{"site", "a\"b\\c\nd"}, {"unit", ""}});
  e.metric("x_total", "counter", "Back\\slash\nand line.");
  e.sample(uint64_t{18446744073709551615u}, {{"cause", "closed"}});
  EXPECT_EQ(e.text(),
            "# HELP x_total Back\\\\slash\\nand line.\n"
            "# TYPE x_total counter\n"
            "x_total{site=\"a\\\"b\\\\c\\nd\",cause=\"closed\"} 18446744073709551615\n");
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    double value;
    const char* text;
  } cases[] = {{0, "0"},        {0.1, "0.1"}, {1796783149.5669653, "1796783149.5669653"},
               {1e21, "1e+21"}, {NAN, "NaN"}, {inf, "+Inf"},
               {-inf, "-Inf"}};
  for (const auto& c : cases) {
    exposition g;
    g.metric("y", "gauge", "Y.");
    g.sample(c.value);
    EXPECT_EQ(g.text(), std::string("# HELP y Y.\n# TYPE y gauge\ny ") + c.text + "\n");
  }
}

// The file is replaced whole with the mode asked for, whatever the umask;
// a step that fails says where and why and leaves no temporary file.
TEST(ReplaceFile, WholeOrNotAtAll) {
  tmpdir dir;
  std::string path = dir.file("m.prom");
  writefile(path, "old and longer\n");
  std::string missing = dir.file("none/m.prom"), folder = dir.file("folder");
  mkdir(folder.c_str(), 0755);
  struct {
    std::string path;
    bool durable, ok;
    std::string why;
  } cases[] = {
      {path, false, true, ""},
      {path, true, true, ""},
      {missing, false, false, dir.file("none/.m.prom.XXXXXX") + ": No such file or directory"},
      {folder, false, false, folder + ": Is a directory"},
  };
  mode_t old = umask(077);
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(replacefile(c.path, "new\n", 0644, c.durable, &why), c.ok) << c.path;
    EXPECT_EQ(why, c.why);
    if (!c.ok) continue;
    struct stat st {};
    ASSERT_EQ(stat(c.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_EQ(readfile(c.path), "new\n");
  }
  umask(old);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "a temporary file was left";
}

TEST(WriteAll, FillsAFullPipeAsTheReaderTakesIt) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
  std::string big(1 << 20, 'x');
  for (size_t i = 0; i < big.size(); i += 997) big[i] = static_cast<char>('a' + i % 26);
  pid_t reader = fork();
  if (reader == 0) {
    // Slow at first, so that the writer finds the pipe full.
    close(fds[1]);
    usleep(100000);
    std::string got;
    char buf[4096];
    for (ssize_t n;;) {
      n = read(fds[0], buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<size_t>(n));
      if (n == 0) break;
      if (n < 0 && errno == EAGAIN) usleep(1000);
    }
    _exit(got == big ? 0 : 1);
  }
  close(fds[0]);
  EXPECT_TRUE(writeall(fds[1], big));
  close(fds[1]);
  int status = 0;
  waitpid(reader, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the reader got other bytes";
}

TEST(WriteAll, TellsWhyAWriteFailed) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  void (*old)(int) = signal(SIGPIPE, SIG_IGN);
  errno = 0;
  EXPECT_FALSE(writeall(fds[1], std::string("bytes")));
  EXPECT_EQ(errno, EPIPE);
  signal(SIGPIPE, old);
  close(fds[1]);
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_FALSE(writeall(full, std::string("bytes")));
  EXPECT_EQ(errno, ENOSPC);
  close(full);
}

volatile sig_atomic_t stopped = 0;

TEST(WriteAll, StopsAtASignalWhenAsked) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  struct sigaction sa {};
  sa.sa_handler = [](int) { stopped = 1; };
  sigaction(SIGALRM, &sa, nullptr);  // no SA_RESTART: the blocked write is cut short
  // Nobody reads: the write blocks once the pipe is full, until the signal.
  alarm(1);
  EXPECT_FALSE(writeall(fds[1], std::string(1 << 20, 'x'), &stopped));
  EXPECT_EQ(errno, EINTR);
  signal(SIGALRM, SIG_DFL);
  close(fds[0]);
  close(fds[1]);
}

// Runs s with its standard output and error into a file; returns what it
// wrote, "" when it did not end with 0.
std::string spawnoutput(spawnspec s, const tmpdir& dir) {
  int out = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  s.fds[0] = in;
  s.fds[1] = out;
  s.fds[2] = out;
  int err = 0;
  pid_t pid = spawn(s, &err);
  EXPECT_GT(pid, 0) << strerror(err);
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
  close(out);
  close(in);
  return pid > 0 && describestatus(status) == "exited with status 0" ? readfile(dir.file("out"))
                                                                     : "";
}

TEST(Spawn, StreamsDirectoryAndMask) {
  tmpdir dir;
  spawnspec s;
  s.argv = {"sh", "-c", "pwd; cat; echo err >&2"};
  s.dir = dir.path();
  char real[4096];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  EXPECT_EQ(spawnoutput(s, dir), std::string(real) + "\nerr\n");

  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGUSR1);
  s = spawnspec{};
  s.argv = {"grep", "SigBlk", "/proc/self/status"};
  s.mask = &mask;
  // SIGUSR1 is signal 10: bit 9 of the mask.
  EXPECT_EQ(spawnoutput(s, dir), "SigBlk:\t0000000000000200\n");
}

TEST(Spawn, MissingAndUnrunnablePrograms) {
  tmpdir dir;
  writefile(dir.file("script"), "#!/bin/sh\n");
  std::string path;
  struct {
    std::string name;
    int err;
  } cases[] = {
      {"no-such-program-here", ENOENT},
      {dir.file("absent"), ENOENT},
      {dir.file("script"), EACCES},
      {dir.path(), EACCES},
      {"sh", 0},
  };
  // A PATH with a directory this user may not search would make "not
  // found" read as "permission denied".
  const char* oldpath = getenv("PATH");
  std::string saved = oldpath ? oldpath : "";
  setenv("PATH", "/usr/bin:/bin", 1);
  for (const auto& c : cases) {
    EXPECT_EQ(findprogram(c.name, &path), c.err) << c.name;
    spawnspec s;
    s.argv = {c.name, "-c", "exit 3"};
    int err = -1;
    pid_t pid = spawn(s, &err);
    EXPECT_EQ(err, c.err) << c.name << ": the run gets what the lookup told";
    if (pid > 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      EXPECT_EQ(describestatus(status), "exited with status 3");
    }
  }
  EXPECT_EQ(findprogram("sh", &path), 0);
  EXPECT_TRUE(path == "/usr/bin/sh" || path == "/bin/sh") << path;
  if (oldpath) setenv("PATH", saved.c_str(), 1);
}

TEST(Spawn, EndsAreDescribed) {
  spawnspec s;
  s.argv = {"sh", "-c", "kill -TERM $$"};
  int err = 0;
  pid_t pid = spawn(s, &err);
  ASSERT_GT(pid, 0);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_EQ(describestatus(status), "ended by signal 15 (Terminated)");
}

TEST(Backoff, DoublesUpToTheLongestAndStartsOverAfterAGoodLink) {
  backoff b(1, 30);
  std::vector<double> waits;
  for (int i = 0; i < 7; ++i) waits.push_back(b.next());
  EXPECT_EQ(waits, (std::vector<double>{1, 2, 4, 8, 16, 30, 30}));
  b.reset();
  EXPECT_EQ(b.next(), 1);
  EXPECT_EQ(b.next(), 2);
}

TEST(Numbers, PlainDigitsOnly) {
  struct {
    const char* text;
    bool count, decimal;
    double value;
  } cases[] = {
      {"5", true, true, 5},
      {"0", true, true, 0},
      {"0.25", false, true, 0.25},
      {".5", false, true, 0.5},
      {"5.", false, true, 5},
      {"", false, false, 0},
      {".", false, false, 0},
      {" 5", false, false, 0},
      {"5 ", false, false, 0},
      {"+5", false, false, 0},
      {"-5", false, false, 0},
      {"0x10", false, false, 0},
      {"1e3", false, false, 0},
      {"1e-9", false, false, 0},
      {"1.2.3", false, false, 0},
      {"inf", false, false, 0},
      {"nan", false, false, 0},
      {"18446744073709551615", true, true, 18446744073709551615.0},
      {"18446744073709551616", false, true, 18446744073709551616.0},
  };
  for (const auto& c : cases) {
    uint64_t n = 0;
    double d = -1;
    EXPECT_EQ(parsecount(c.text, &n), c.count) << c.text;
    EXPECT_EQ(parsedecimal(c.text, &d), c.decimal) << c.text;
    if (c.decimal) {
      EXPECT_EQ(d, c.value) << c.text;
    }
  }
  uint64_t n = 0;
  EXPECT_FALSE(parsecount("123456", &n, 5));
  EXPECT_TRUE(parsecount("12345", &n, 5));
  EXPECT_EQ(n, 12345u);
  struct {
    const char* text;
    bool ok;
    uint64_t value;
  } hex[] = {{"03", true, 3},   {"0a", true, 10},  {"FF", true, 255}, {"3", true, 3},
             {"003", false, 0}, {"0x3", false, 0}, {" 3", false, 0},  {"3g", false, 0},
             {"", false, 0},    {"-1", false, 0}};
  for (const auto& c : hex) {
    uint64_t v = 0;
    EXPECT_EQ(parsehex(c.text, &v, 2), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

// A pause ends at a noted signal, even one that came before it began, and
// the signal is there to be taken after it.
TEST(Signals, APauseEndsAtANotedSignal) {
  notesignals({SIGUSR2});
  EXPECT_TRUE(pausefor(0.01));
  raise(SIGUSR2);  // before the pause: its wake-up waits in the pipe
  EXPECT_FALSE(pausefor(600));
  EXPECT_TRUE(*signalnoted());
  EXPECT_EQ(takesignal(), SIGUSR2);
  EXPECT_EQ(takesignal(), 0);
  EXPECT_TRUE(pausefor(0.01)) << "taken: it ends the next pause no more";
  signal(SIGUSR2, SIG_DFL);
}

// Waits until fd is readable; false after a generous time.
bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 10000) == 1;
}

// A path whose folders do not exist yet: the watch moves down as they
// appear, and tells when the path itself is there, made directly or by a
// rename, as udev and pabxsim make their links.
TEST(PathWatch, TellsWhenAPathAppears) {
  tmpdir dir;
  std::string top = dir.file("serial"), folder = top + "/by-id", path = folder + "/pbx";
  pathwatch w;
  ASSERT_TRUE(w.watch(path));
  ASSERT_GE(w.fd(), 0);
  ASSERT_EQ(mkdir(top.c_str(), 0755), 0);
  ASSERT_TRUE(readable(w.fd()));
  EXPECT_FALSE(w.changed());
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  ASSERT_TRUE(readable(w.fd()));
  EXPECT_FALSE(w.changed());
  writefile(folder + "/other", "");
  ASSERT_TRUE(readable(w.fd()));
  EXPECT_FALSE(w.changed()) << "another name in the folder";
  writefile(folder + "/pbx.new", "");
  ASSERT_EQ(rename((folder + "/pbx.new").c_str(), path.c_str()), 0);
  ASSERT_TRUE(readable(w.fd()));
  EXPECT_TRUE(w.changed());

  // Gone, and made again in place.
  unlink(path.c_str());
  writefile(path, "");
  ASSERT_TRUE(readable(w.fd()));
  EXPECT_TRUE(w.changed());
  w.stop();
  EXPECT_EQ(w.fd(), -1);
}

TEST(OptionName, FromTheTable) {
  const option table[] = {
      {"output", required_argument, nullptr, 'o'},
      {"end-byte", required_argument, nullptr, 300},
      {nullptr, 0, nullptr, 0},
  };
  EXPECT_EQ(optionname(table, 'o'), "--output");
  EXPECT_EQ(optionname(table, 300), "--end-byte");
  EXPECT_EQ(optionname(table, 'x'), "-x");
  EXPECT_EQ(optionname(table, 301), "?");
}

}  // namespace
