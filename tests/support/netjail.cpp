// netjail: runs a program where the network ends at the loopback interface.
//
//   netjail [-g] [-f] program [argument...]
//
// The program runs in a private network namespace in which only "lo" is
// up: whatever it tries, nothing leaves 127.0.0.0/8 and ::1, and no name
// server can be reached. As root the namespace is made directly; otherwise
// inside a user namespace that maps the caller's own user and group ids to
// themselves, so the program runs with the caller's ids and no privileges.
//
// -g  guard: once the program has ended, fail (status 99, with a message)
//     if anything in the namespace tried to reach an address beyond
//     loopback. The kernel counts every route lookup that found no route.
// -f  fall back: where no namespace can be made, run the program anyway,
//     saying so on standard error.
//
// Ends with the program's status (128 + the signal that ended it), 77 when
// no namespace can be made and -f is not given, 125 when netjail fails.

#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr int exit_nonamespace = 77;
constexpr int exit_escaped = 99;
constexpr int exit_failed = 125;

pid_t child = -1;

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "netjail: %s: %s\n", what, std::strerror(errno));
  std::exit(exit_failed);
}

bool writeproc(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return ok;
}

// A user namespace mapping our ids to themselves, with a network namespace.
bool unshareasuser() {
  const uid_t uid = geteuid();
  const gid_t gid = getegid();
  if (unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) return false;
  if (!writeproc("/proc/self/setgroups", "deny") ||
      !writeproc("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
      !writeproc("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1"))
    die("user namespace id map");
  return true;
}

void loopbackup() {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) die("socket");
  ifreq ifr{};
  std::snprintf(ifr.ifr_name, sizeof ifr.ifr_name, "lo");
  if (ioctl(s, SIOCGIFFLAGS, &ifr) != 0) die("SIOCGIFFLAGS lo");
  ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
  if (ioctl(s, SIOCSIFFLAGS, &ifr) != 0) die("SIOCSIFFLAGS lo");
  close(s);
}

// The value of counter `name` in a /proc/net statistics file: either
// "Name Value" lines, or a header line of names followed by one of values.
long long counter(const char* path, const std::string& name) {
  std::ifstream in(path);
  std::string line, header;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string first, value;
    words >> first >> value;
    if (first == name) return std::atoll(value.c_str());
    if (!header.empty() && header.substr(0, header.find(' ')) == first) {
      std::istringstream names(header), values(line);
      for (std::string n, v; names >> n && values >> v;)
        if (n == name) return std::atoll(v.c_str());
    }
    header = line;
  }
  return 0;
}

long long escapes() {
  return counter("/proc/net/snmp", "OutNoRoutes") + counter("/proc/net/snmp6", "Ip6OutNoRoutes");
}

void forward(int sig) {
  if (child > 0) kill(child, sig);
}

// Runs the program as our child and returns its status as a shell shows it.
int runchild(char** program) {
  child = fork();
  if (child < 0) die("fork");
  if (child == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execvp(program[0], program);
    std::fprintf(stderr, "netjail: %s: %s\n", program[0], std::strerror(errno));
    _exit(127);
  }
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) signal(sig, forward);
  int status;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) die("waitpid");
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int main(int argc, char** argv) {
  bool guard = false, fallback = false;
  int opt;
  while ((opt = getopt(argc, argv, "+gf")) != -1) {
    if (opt == 'g') guard = true;
    if (opt == 'f') fallback = true;
    if (opt == '?') optind = argc + 1;
  }
  if (optind >= argc) {
    std::fprintf(stderr, "usage: netjail [-g] [-f] program [argument...]\n");
    return exit_failed;
  }
  char** program = argv + optind;
  if (unshare(CLONE_NEWNET) != 0 && !unshareasuser()) {
    if (!fallback) {
      std::fprintf(stderr, "netjail: no private network namespace here: %s\n",
                   std::strerror(errno));
      return exit_nonamespace;
    }
    std::fprintf(stderr, "netjail: no private network namespace here (%s); running %s unguarded\n",
                 std::strerror(errno), program[0]);
    execvp(program[0], program);
    die(program[0]);
  }
  loopbackup();
  if (!guard) {
    execvp(program[0], program);
    die(program[0]);
  }
  int status = runchild(program);
  if (long long n = escapes()) {
    std::fprintf(stderr, "netjail: %s tried %lld time(s) to reach beyond loopback\n", program[0],
                 n);
    return exit_escaped;
  }
  return status;
}
