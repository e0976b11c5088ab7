#include "alarmhook.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstring>

#include "cdr/diag.h"
#include "tools/common/civil.h"
#include "tools/common/signals.h"
#include "tools/common/spawn.h"

namespace {

using clock = std::chrono::steady_clock;

int msuntil(clock::time_point t) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(t - clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Writes what it can of `text` to the nonblocking fd until the deadline;
// false when the reader went away or the time ran out first.
bool feed(int fd, std::string_view text, clock::time_point deadline) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n > 0) {
      text.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, std::min(msuntil(deadline), 100)) == 0 && msuntil(deadline) == 0) return false;
    if (*signalnoted()) return false;
  }
  return true;
}

// Waits for the child until the deadline; true with its status, false when
// the time ran out or a signal asks the watch to end.
bool reap(pid_t pid, clock::time_point deadline, int* status) {
  for (;;) {
    pid_t got = waitpid(pid, status, WNOHANG);
    if (got == pid) return true;
    if (got < 0 && errno != EINTR) {
      *status = 0;
      return true;
    }
    if (msuntil(deadline) == 0 || *signalnoted()) return false;
    pollfd p{signalwakefd(), POLLIN, 0};
    poll(&p, 1, std::min(msuntil(deadline), 20));
  }
}

}  // namespace

alarmhook::alarmhook(outbuf& out, tzone& zone, bool json, std::string command, int timeout)
    : out_(out), zone_(zone), writer_(out, zone, json), command_(std::move(command)),
      timeout_(timeout) {
  // A command that leaves without reading its alarm is told as any other
  // failure, not the end of the watch.
  if (!command_.empty()) signal(SIGPIPE, SIG_IGN);
}

void alarmhook::take(const watchalarm& a) {
  if (command_.empty()) return writer_.take(a);
  flush();  // so that the buffer holds this alarm alone
  writer_.take(a);
  job j;
  j.line = std::string(out_.buffered());
  if (!j.line.empty() && j.line.back() == '\n') j.line.pop_back();
  char when[32];
  int off = zone_.offset(a.time);
  *isotime(when, wallof(a.time + off), off) = 0;
  const bool call = a.call != nullptr;
  const std::pair<const char*, std::string> members[] = {
      {"", j.line},
      {"_RULE", a.rule->name},
      {"_KIND", kindname(a.rule->kind)},
      {"_STATE", statename(a.state)},
      {"_TIME", when},
      {"_STATION", std::string(a.station)},
      {"_TRUNK", std::string(a.trunk)},
      {"_DIALLED", std::string(a.dialled)},
      {"_DETAIL", a.detail},
      {"_FILE", call ? a.call->file->path : std::string()},
      {"_LINENO", call ? std::to_string(a.call->line) : std::string()},
      {"_LINE", call ? std::string(a.call->text) : std::string()}};
  for (const auto& [name, value] : members)
    j.env.push_back(std::string("PKTAV_ALARM") + name + "=" + value);
  jobs_.push_back(std::move(j));
}

bool alarmhook::flush() {
  if (out_.flush()) return true;
  stampedwarnx("standard output: %s", strerror(out_.error()));
  return false;
}

void alarmhook::run() {
  if (jobs_.empty()) return;
  flush();  // the alarms are out before their commands run
  std::vector<job> jobs;
  jobs.swap(jobs_);
  for (const job& j : jobs) runone(j);
}

void alarmhook::runone(const job& j) {
  auto said = [&](const char* what, const std::string& why) {
    ++failures;
    stampedwarnx("--exec for \"%s\": %s%s", j.line.c_str(), what, why.c_str());
  };
  int in[2];
  if (pipe2(in, O_CLOEXEC) != 0) return said("cannot make a pipe: ", strerror(errno));
  spawnspec s;
  s.argv = {"/bin/sh", "-c", command_};
  s.fds[0] = in[0];
  s.fds[1] = STDERR_FILENO;
  s.env = j.env;
  s.newgroup = true;
  int err = 0;
  pid_t pid = spawn(s, &err);
  close(in[0]);
  if (pid < 0) {
    close(in[1]);
    return said("cannot start /bin/sh: ", strerror(err));
  }
  auto deadline = clock::now() + std::chrono::seconds(timeout_);
  fcntl(in[1], F_SETFL, O_NONBLOCK);
  feed(in[1], j.line + "\n", deadline);  // a command that reads none of it is no failure
  close(in[1]);
  int status = 0;
  if (!reap(pid, deadline, &status)) {
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    if (*signalnoted()) return said("ended, the watch ending", "");
    return said("still running after ", std::to_string(timeout_) + " s: killed");
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  said("", describestatus(status));
}
