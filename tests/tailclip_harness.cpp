// tailclip_harness: runs a program under conditions a test cannot set up
// from outside, for the tailclip tests.
//
//   tailclip_harness [-u id] [-l bytes] [-m file] program [argument...]
//
// -u id     runs it with that user and group id and no supplementary groups
//           (the harness must run as root), so that file permissions apply.
// -l bytes  lets it run until it first empties a file (ftruncate to 0, or an
//           open for writing with O_TRUNC), then lowers its file size limit
//           to `bytes`, with SIGXFSZ ignored: from there on, every write past
//           that size fails with EFBIG, as writes fail when a disk fills up
//           under a program. The program is traced with ptrace up to then.
// -m file   writes to `file` the most memory the program held at once, in
//           KiB. It runs as a child of the harness, so the figure is its own:
//           a process forked from a large test process would count the
//           pages it shared with it before exec.
//
// Ends with the program's status, or 128 + the signal that ended it.

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int harness_failed = 125;

[[noreturn]] void die(const char* what) {
  std::perror(what);
  std::exit(harness_failed);
}

int passon(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool truncates(unsigned long long flags) {
  return (flags & O_TRUNC) != 0 && (flags & O_ACCMODE) != O_RDONLY;
}

// Whether the system call about to run empties a file.
bool emptiesfile(const __ptrace_syscall_info& info) {
  const auto& call = info.entry;
  switch (call.nr) {
    case SYS_ftruncate:
    case SYS_truncate:
      return call.args[1] == 0;
    case SYS_openat:
      return truncates(call.args[2]);
#ifdef SYS_open
    case SYS_open:
      return truncates(call.args[1]);
#endif
#ifdef SYS_creat
    case SYS_creat:
      return true;
#endif
    default:
      return false;
  }
}

// Follows the child's system calls until it empties a file, lowers its file
// size limit there and lets it go on alone.
void trace(pid_t child, rlim_t limit) {
  int status;
  if (waitpid(child, &status, 0) < 0) die("waitpid");  // its stop before exec
  if (!WIFSTOPPED(status)) return;
  const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
  if (ptrace(PTRACE_SETOPTIONS, child, nullptr, options) != 0) die("ptrace");
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
    if (info.op == PTRACE_SYSCALL_INFO_ENTRY && emptiesfile(info)) break;
  }
  const rlimit fsize{limit, limit};
  if (prlimit(child, RLIMIT_FSIZE, &fsize, nullptr) != 0) die("prlimit");
  if (ptrace(PTRACE_DETACH, child, nullptr, 0) != 0) die("ptrace");
}

// Waits for the child's end; writes its peak memory to `rssfile` if given.
int reap(pid_t child, const char* rssfile) {
  int status;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) die("wait4");
  }
  if (rssfile != nullptr) {
    std::FILE* out = std::fopen(rssfile, "w");
    if (out == nullptr || std::fprintf(out, "%ld\n", usage.ru_maxrss) < 0 || std::fclose(out) != 0) {
      die(rssfile);
    }
  }
  return status;
}

void becomeuser(const char* id) {
  const auto n = static_cast<uid_t>(std::strtoul(id, nullptr, 10));
  if (setgroups(0, nullptr) != 0 || setgid(n) != 0 || setuid(n) != 0) die("setuid");
}

}  // namespace

int main(int argc, char** argv) {
  const char* user = nullptr;
  const char* limit = nullptr;
  const char* rssfile = nullptr;
  for (int c; (c = getopt(argc, argv, "+u:l:m:")) != -1;) {
    if (c == 'u') {
      user = optarg;
    } else if (c == 'l') {
      limit = optarg;
    } else if (c == 'm') {
      rssfile = optarg;
    } else {
      std::fprintf(stderr, "usage: %s [-u id] [-l bytes] [-m file] program [argument...]\n",
                   argv[0]);
      return harness_failed;
    }
  }
  if (optind >= argc) return harness_failed;
  char** program = argv + optind;
  if (user != nullptr) becomeuser(user);
  if (limit == nullptr && rssfile == nullptr) {
    execv(program[0], program);  // the same process: its id is the program's
    die(program[0]);
  }
  const pid_t child = fork();
  if (child < 0) die("fork");
  if (child == 0) {
    if (limit != nullptr) {
      signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec: EFBIG instead of death
      if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) die("ptrace");
      raise(SIGSTOP);  // lets the parent set its options before exec
    }
    execv(program[0], program);
    die(program[0]);
  }
  if (limit != nullptr) trace(child, static_cast<rlim_t>(std::strtoull(limit, nullptr, 10)));
  return passon(reap(child, rssfile));
}
