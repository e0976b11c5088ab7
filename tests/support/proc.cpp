#include "support/proc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

namespace {

using clk = std::chrono::steady_clock;
using ms = std::chrono::milliseconds;

clk::time_point after(int timeout_ms) { return clk::now() + ms(timeout_ms); }

// Pauses between polls, a little longer each time: prompt for a child that
// ends at once, without spinning on one that takes seconds.
class backoff {
 public:
  void sleep() {
    std::this_thread::sleep_for(pause_);
    pause_ = std::min(pause_ * 2, ms(20));
  }

 private:
  ms pause_{1};
};

// The descriptors of a child being started.
struct plumbing {
  int child[3] = {-1, -1, -1};  // become its 0, 1 and 2
  int feed = -1;                // our end of its standard input pipe
  int out = -1, err = -1;       // the captures we read back
};

void closeall(plumbing& p) {
  std::set<int> fds{p.child[0], p.child[1], p.child[2], p.feed, p.out, p.err};
  for (int fd : fds) {
    if (fd >= 0) close(fd);
  }
  p = plumbing{};
}

// An unlinked temporary file that a child's output stream goes to; read
// back with pread, so the child's own file offset is left alone.
int capturefile() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/pktav-capture.XXXXXX";
  const int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd >= 0) unlink(tmpl.c_str());
  return fd;
}

std::string readcapture(int fd) {
  std::string all;
  char buf[65536];
  for (off_t at = 0; fd >= 0;) {
    const ssize_t n = pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    all.append(buf, static_cast<std::size_t>(n));
    at += n;
  }
  return all;
}

// Opens what the child gets as its standard streams, all close-on-exec
// here. On failure the test fails and nothing stays open.
bool plumb(const procspec& job, plumbing& p) {
  std::string what = job.stdinkind == procspec::file ? job.stdinpath : "/dev/null";
  if (job.stdinkind != procspec::pipe) {
    p.child[0] = open(what.c_str(), O_RDONLY | O_CLOEXEC);
  } else {
    what = "a pipe";
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) == 0) {
      p.child[0] = fds[0];
      p.feed = fds[1];
      fcntl(p.feed, F_SETFL, O_NONBLOCK);  // so a child that reads nothing cannot block us
    }
  }
  if (p.child[0] >= 0) {
    what = job.stdoutpath.empty() ? "a capture file" : job.stdoutpath;
    p.child[1] = job.stdoutpath.empty()
                     ? (p.out = capturefile())
                     : open(job.stdoutpath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  if (p.child[1] >= 0) {
    what = "a capture file";
    p.child[2] = p.err = capturefile();
  }
  if (p.child[2] >= 0) return true;
  ADD_FAILURE() << "cannot open " << what << " for " << job.argv[0] << ": " << std::strerror(errno);
  closeall(p);
  return false;
}

std::vector<std::string> buildenv(const procspec& job) {
  auto name = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  std::set<std::string> drop(job.unsetenv.begin(), job.unsetenv.end());
  for (const auto& e : job.env) drop.insert(name(e));
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (drop.count(name(*e)) == 0) env.emplace_back(*e);
  }
  env.insert(env.end(), job.env.begin(), job.env.end());
  return env;
}

std::vector<char*> cstrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// What the child tells through the report pipe when it cannot run the program.
struct startfailure {
  int inchdir;  // 1: chdir failed, 0: exec failed
  int err;
};

// The child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void inchild(const plumbing& p, const char* cwd, char* const* argv, char* const* envp,
                          int report, pid_t parent, int fdlimit) {
  setpgid(0, 0);  // its own group, so that a kill reaches what it starts
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);  // the test process died before prctl
  // Lift everything above 2 first: no dup2 may overwrite a source still needed.
  int high[3];
  for (int i = 0; i < 3; ++i) high[i] = fcntl(p.child[i], F_DUPFD_CLOEXEC, 3);
  report = fcntl(report, F_DUPFD_CLOEXEC, 3);
  for (int i = 0; i < 3; ++i) dup2(high[i], i);
  // Signals are all blocked since before fork, so no handler of the test runs here.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  for (int sig = 1; sig < NSIG; ++sig) sigaction(sig, &dfl, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Descriptors the test process opened without close-on-exec stay out too.
  if (close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
    for (int fd = 3; fd < fdlimit; ++fd) fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  startfailure f{1, 0};
  if (*cwd == '\0' || chdir(cwd) == 0) {
    execve(argv[0], argv, envp);
    f.inchdir = 0;
  }
  f.err = errno;
  (void)!write(report, &f, sizeof f);
  _exit(127);
}

// Forks and runs the program; returns its process id, with `why` set when
// it could not be run.
pid_t launch(const procspec& job, const plumbing& p, std::string& why) {
  std::vector<std::string> args = job.argv;
  std::vector<std::string> envs = buildenv(job);
  std::vector<char*> argv = cstrings(args), envp = cstrings(envs);
  rlimit nofile{};
  getrlimit(RLIMIT_NOFILE, &nofile);
  const int fdlimit = static_cast<int>(std::min<rlim_t>(nofile.rlim_cur, 65536));
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    why = std::string("pipe: ") + std::strerror(errno);
    return -1;
  }
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) inchild(p, job.cwd.c_str(), argv.data(), envp.data(), report[1], parent, fdlimit);
  const int forkerr = errno;
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(report[1]);
  startfailure f{};
  ssize_t n = -1;
  if (pid > 0) {
    do {
      n = read(report[0], &f, sizeof f);  // ends at exec, when the pipe closes
    } while (n < 0 && errno == EINTR);
  }
  close(report[0]);
  if (pid < 0) why = std::string("fork: ") + std::strerror(forkerr);
  if (n == sizeof f) {
    why = (f.inchdir != 0 ? "chdir " + job.cwd : std::string("exec")) + ": " + std::strerror(f.err);
  }
  return pid;
}

enum class fed { all, refused, stuck };

// Writes `data` to a child's standard input pipe until `deadline`. A child
// that closed its input refuses the rest; the SIGPIPE that raises is taken
// here instead of ending the test process.
fed feed(int fd, const std::string& data, clk::time_point deadline) {
  sigset_t pipeset, old;
  sigemptyset(&pipeset);
  sigaddset(&pipeset, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeset, &old);
  fed how = fed::all;
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) {
      how = fed::refused;
      break;
    }
    if (clk::now() >= deadline) {
      how = fed::stuck;
      break;
    }
    pollfd pfd{fd, POLLOUT, 0};
    poll(&pfd, 1, 20);
  }
  const timespec zero{};
  while (sigtimedwait(&pipeset, nullptr, &zero) == SIGPIPE) {
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return how;
}

}  // namespace

std::string inchild(const std::function<std::string()>& work) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << strerror(errno);
    return "";
  }
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    const std::string out = work();
    for (size_t done = 0; done < out.size();) {
      ssize_t n = write(p[1], out.data() + done, out.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) _exit(1);
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(p[1]);
  std::string text;
  char buf[65536];
  for (ssize_t n; pid > 0 && (n = read(p[0], buf, sizeof buf)) != 0;) {
    if (n > 0)
      text.append(buf, static_cast<size_t>(n));
    else if (errno != EINTR)
      break;
  }
  close(p[0]);
  int status = -1;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  EXPECT_TRUE(pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the child (" << pid << ") ended with status " << status;
  return text;
}

int occurrences(const std::string& text, const std::string& needle) {
  int n = 0;
  for (auto at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + std::max<std::size_t>(needle.size(), 1))) {
    ++n;
  }
  return n;
}

std::string describe(const procresult& r) {
  std::ostringstream s;
  if (r.exited) {
    s << "exited with status " << r.code;
  } else if (r.termsig != 0) {
    s << "ended by signal " << r.termsig << " (" << strsignal(r.termsig) << ")";
  } else {
    s << "did not run";
  }
  s << "\n--- stdout ---\n" << r.out << "\n--- stderr ---\n" << r.err << "\n---";
  return s.str();
}

childproc::childproc(const procspec& job) {
  if (job.argv.empty()) {
    ADD_FAILURE() << "childproc: empty command line";
    return;
  }
  name_ = job.argv[0];
  plumbing p;
  if (!plumb(job, p)) return;
  std::string why;
  pid_ = launch(job, p, why);
  close(p.child[0]);
  if (p.child[1] != p.out) close(p.child[1]);
  in_ = p.feed;
  out_ = p.out;
  err_ = p.err;
  if (!why.empty()) {
    ADD_FAILURE() << "cannot run " << name_ << ": " << why;
    if (pid_ > 0) kill_and_reap();
  }
}

childproc::~childproc() {
  closein();
  if (!ended()) kill_and_reap();
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

void childproc::writein(const std::string& data, int timeout_ms) {
  if (in_ < 0) {
    ADD_FAILURE() << name_ << ": standard input is not an open pipe";
  } else if (feed(in_, data, after(timeout_ms)) == fed::stuck) {
    ADD_FAILURE() << name_ << " took no input for " << timeout_ms << " ms";
  }
}

void childproc::closein() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool childproc::drainin(int timeout_ms) {
  const auto deadline = after(timeout_ms);
  for (backoff b;; b.sleep()) {
    int unread = 0;
    if (in_ < 0 || ioctl(in_, FIONREAD, &unread) != 0 || unread == 0) return true;
    if (ended() || clk::now() >= deadline) return false;
  }
}

void childproc::signal(int sig) {
  if (!ended()) ::kill(pid_, sig);
}

bool childproc::waitfor_err(const std::string& needle, int timeout_ms, int times) {
  return waitfor(err_, needle, timeout_ms, times);
}

bool childproc::waitfor_out(const std::string& needle, int timeout_ms, int times) {
  return waitfor(out_, needle, timeout_ms, times);
}

bool childproc::waitfor(int fd, const std::string& needle, int timeout_ms, int times) {
  const auto deadline = after(timeout_ms);
  for (backoff b;; b.sleep()) {
    // Seen ended before the last read, so that read holds all it wrote.
    const bool over = ended() || clk::now() >= deadline;
    if (occurrences(readcapture(fd), needle) >= times) return true;
    if (over) return false;
  }
}

procresult childproc::wait(int timeout_ms) { return waituntil(after(timeout_ms), timeout_ms); }

procresult childproc::waituntil(clk::time_point deadline, int timeout_ms) {
  for (backoff b; !ended(); b.sleep()) {
    if (clk::now() >= deadline) {
      ADD_FAILURE() << name_ << " did not end within " << timeout_ms
                    << " ms and was killed; its standard error so far:\n"
                    << err();
      kill_and_reap();
    }
  }
  procresult r;
  r.pid = pid_;
  r.out = out();
  r.err = err();
  if (status_ != -1) {
    r.exited = WIFEXITED(status_);
    r.code = r.exited ? WEXITSTATUS(status_) : -1;
    r.termsig = WIFSIGNALED(status_) ? WTERMSIG(status_) : 0;
  }
  return r;
}

std::string childproc::out() const { return readcapture(out_); }
std::string childproc::err() const { return readcapture(err_); }

bool childproc::ended() {
  if (reaped_ || pid_ <= 0) return true;
  int status = -1;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == 0 || (r < 0 && errno == EINTR)) return false;
  if (r < 0) ADD_FAILURE() << name_ << ": lost process " << pid_ << ": " << std::strerror(errno);
  reaped_ = true;
  status_ = r < 0 ? -1 : status;
  return true;
}

void childproc::kill_and_reap() {
  ::kill(-pid_, SIGKILL);  // with whatever it started
  ::kill(pid_, SIGKILL);
  int status = -1;
  pid_t r;
  do {
    r = waitpid(pid_, &status, 0);
  } while (r < 0 && errno == EINTR);
  reaped_ = true;
  status_ = r < 0 ? -1 : status;
}

procresult runproc(const procspec& job, const std::string& input, int timeout_ms) {
  const auto deadline = after(timeout_ms);
  childproc child(job);
  if (job.stdinkind == procspec::pipe) {
    child.writein(input, timeout_ms);
    child.closein();
  }
  return child.waituntil(deadline, timeout_ms);
}

std::string findinpath(const std::string& name) {
  std::istringstream path(getenv("PATH") ? getenv("PATH") : "");
  for (std::string folder; std::getline(path, folder, ':');) {
    std::string candidate = folder + "/" + name;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}
