// tailclip_harness: runs a program under conditions a test cannot set up
// from outside, for the tailclip tests.
//
//   tailclip_harness [-u id] [-l bytes] [-s signal] [-c file] [-w ms]
//                    [-p file] [-m file] program [argument...]
//
// -u id      runs it with that user and group id and no supplementary
//            groups (the harness must run as root), so permissions apply.
// -l bytes   at the moment it first cuts a file (ftruncate or truncate to
//            any length, or an open for writing with O_TRUNC), lowers its
//            file size limit to `bytes`: from there on its writes past that
//            size fail with EFBIG (if it ignores SIGXFSZ), as writes fail
//            when a disk fills up under a program.
// -s signal  at that same moment, sends it `signal`.
// -c file    at that same moment, writes to `file` the length the file is
//            cut to (0 for an open with O_TRUNC).
// -w ms      at that same moment, holds it for `ms` milliseconds.
// -p file    writes its process id to `file`.
// -m file    writes to `file` the most memory it held at once, in KiB.
//
// With -l, -s, -c or -w the program is traced with ptrace until that
// moment. With any of -l, -s, -c, -w, -p and -m it runs as a child of the
// harness; its memory figure is then its own: a process forked from a large
// test process would count the pages it shared with it before exec.
//
// Ends with the program's status, or 128 + the signal that ended it.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int harness_failed = 125;

struct options {
  const char* user = nullptr;
  const char* limit = nullptr;
  int sig = 0;
  const char* cutfile = nullptr;
  long hold_ms = 0;
  const char* pidfile = nullptr;
  const char* rssfile = nullptr;
  bool traced() const { return limit != nullptr || sig != 0 || cutfile != nullptr || hold_ms > 0; }
  bool forks() const { return traced() || pidfile != nullptr || rssfile != nullptr; }
};

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(harness_failed);
}

void writenumber(const char* path, long n) {
  std::FILE* out = std::fopen(path, "w");
  if (out == nullptr || std::fprintf(out, "%ld\n", n) < 0 || std::fclose(out) != 0) die(path);
}

bool truncates(unsigned long long flags) {
  return (flags & O_TRUNC) != 0 && (flags & O_ACCMODE) != O_RDONLY;
}

// Whether the system call about to run cuts a file.
bool cutsfile(const __ptrace_syscall_info& info) {
  const auto& call = info.entry;
  switch (call.nr) {
    case SYS_ftruncate:
    case SYS_truncate: return true;
    case SYS_openat: return truncates(call.args[2]);
#ifdef SYS_open
    case SYS_open: return truncates(call.args[1]);
#endif
#ifdef SYS_creat
    case SYS_creat: return true;
#endif
    default: return false;
  }
}

// Follows the child's system calls until it is about to cut a file; returns
// the length it cuts it to.
long traceuntilcut(pid_t child) {
  int status;
  if (waitpid(child, &status, 0) < 0) die("waitpid");  // its stop before exec
  if (!WIFSTOPPED(status)) die("traced program ended");
  const long opts = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
  if (ptrace(PTRACE_SETOPTIONS, child, nullptr, opts) != 0) die("ptrace");
  for (int sig = 0;;) {
    if (ptrace(PTRACE_SYSCALL, child, nullptr, sig) != 0) die("ptrace");
    sig = 0;
    if (waitpid(child, &status, 0) < 0) die("waitpid");
    if (!WIFSTOPPED(status)) die("traced program ended");
    if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
      // A signal for the child goes on to it; event stops (exec) carry none.
      if (status >> 16 == 0) sig = WSTOPSIG(status);
      continue;
    }
    __ptrace_syscall_info info{};
    if (ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof info, &info) <= 0) die("ptrace");
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY && cutsfile(info)) {
      const bool truncate = info.entry.nr == SYS_ftruncate || info.entry.nr == SYS_truncate;
      return truncate ? static_cast<long>(info.entry.args[1]) : 0;
    }
  }
}

// Does to the child, stopped as it cuts a file to `length`, what the
// options ask; then lets it go on alone.
void atcut(pid_t child, long length, const options& o) {
  if (o.limit != nullptr) {
    const auto bytes = static_cast<rlim_t>(std::strtoull(o.limit, nullptr, 10));
    const rlimit fsize{bytes, bytes};
    if (prlimit(child, RLIMIT_FSIZE, &fsize, nullptr) != 0) die("prlimit");
  }
  if (o.sig != 0 && kill(child, o.sig) != 0) die("kill");
  if (o.cutfile != nullptr) writenumber(o.cutfile, length);
  if (o.hold_ms > 0) usleep(static_cast<useconds_t>(o.hold_ms * 1000));
  if (ptrace(PTRACE_DETACH, child, nullptr, 0) != 0) die("ptrace");
}

// Waits for the child's end; returns its status the way a shell shows it.
int reap(pid_t child, const options& o) {
  int status;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) die("wait4");
  }
  if (o.rssfile != nullptr) writenumber(o.rssfile, usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void becomeuser(const char* id) {
  const auto n = static_cast<uid_t>(std::strtoul(id, nullptr, 10));
  if (setgroups(0, nullptr) != 0 || setgid(n) != 0 || setuid(n) != 0) die("setuid");
}

[[noreturn]] void run(int image, char** program) {
  fexecve(image, program, environ);
  die(program[0]);
}

bool readoptions(int argc, char** argv, options& o) {
  for (int c; (c = getopt(argc, argv, "+u:l:s:c:w:p:m:")) != -1;) {
    switch (c) {
      case 'u': o.user = optarg; break;
      case 'l': o.limit = optarg; break;
      case 's': o.sig = std::atoi(optarg); break;
      case 'c': o.cutfile = optarg; break;
      case 'w': o.hold_ms = std::atol(optarg); break;
      case 'p': o.pidfile = optarg; break;
      case 'm': o.rssfile = optarg; break;
      default: return false;
    }
  }
  return optind < argc;
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  if (!readoptions(argc, argv, o)) {
    std::fprintf(stderr,
                 "usage: %s [-u id] [-l bytes] [-s signal] [-c file] [-w ms] [-p file] "
                 "[-m file] "
                 "program [argument...]\n",
                 argv[0]);
    return harness_failed;
  }
  char** program = argv + optind;
  // Opened before the user changes: the program may lie where that user
  // cannot reach, such as a build tree under a private folder.
  const int image = open(program[0], O_RDONLY | O_CLOEXEC);
  if (image < 0) die(program[0]);
  if (o.user != nullptr) becomeuser(o.user);
  if (!o.forks()) run(image, program);  // the same process: its id is the program's
  const pid_t child = fork();
  if (child < 0) die("fork");
  if (child == 0) {
    if (o.traced()) {
      if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) die("ptrace");
      raise(SIGSTOP);  // lets the parent set its options before exec
    }
    run(image, program);
  }
  if (o.pidfile != nullptr) writenumber(o.pidfile, child);
  if (o.traced()) {
    atcut(child, traceuntilcut(child), o);
  }
  return reap(child, o);
}
