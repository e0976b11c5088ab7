#include "replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cdr/inputs.h"
#include "cdr/linereader.h"
#include "tools/common/spawn.h"
#include "tools/common/writeall.h"

namespace {

// The packer uses at most this many characters of -i and -o.
constexpr size_t packerpathmax = 127;

std::string lastline(const std::string& path) {
  linereader in;
  linereader::line l;
  std::string last;
  if (!in.open(path)) return last;
  while (in.next(&l))
    if (!l.text.empty()) last = std::string(l.text);
  return last;
}

// What the packer said on its way out, from its standard error: the lines
// that are its messages ("ERROR: can't open cdrfile ...", getopt's word on
// an option, the usage line), without its banner, its statistics and its
// help (indented), blank lines and "my_exit: errcode = N", which the exit
// code tells; the last few, joined by "; ".
std::string packersaid(const std::string& path) {
  constexpr size_t most = 4;
  linereader in;
  linereader::line l;
  std::vector<std::string> said;
  if (!in.open(path)) return "";
  while (in.next(&l)) {
    std::string_view t = l.text;
    if (t.empty() || t[0] == ' ' || t[0] == '\t' || t.starts_with("PC-TAV PABX Packer [") ||
        t.starts_with("my_exit: errcode = "))
      continue;
    said.emplace_back(t);
  }
  if (said.size() > most) said.erase(said.begin(), said.end() - most);
  std::string s;
  for (const std::string& line : said) s += (s.empty() ? "" : "; ") + line;
  return s;
}

// Opens every log first, so that one that cannot be read is named before
// anything runs.
bool openlogs(const std::vector<std::string>& raws, std::vector<int>* logs, std::string* err) {
  for (const std::string& raw : raws) {
    int fd = open(raw.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *err = raw + ": " + strerror(errno);
      for (int l : *logs) close(l);
      logs->clear();
      return false;
    }
    logs->push_back(fd);
  }
  return true;
}

// The packer's command line. It runs in the scratch directory: a path to
// it must not be relative to ours. A bare name is looked up in PATH.
std::vector<std::string> packerargs(const cdroptions& o, const std::string& store) {
  std::string program = o.packer;
  char resolved[PATH_MAX];
  if (program.find('/') != program.npos && realpath(program.c_str(), resolved)) program = resolved;
  std::vector<std::string> args{program};
  args.insert(args.end(), o.packeroptions.begin(), o.packeroptions.end());
  for (const char* a : {"-v", "-o"}) args.push_back(a);
  args.push_back(store);
  return args;
}

// Copies the logs, one after another, to `to`; in a child of ours, whose
// exit status says whether every byte went. A log that cannot be read is
// named in scratch/feed.err.
[[noreturn]] void feed(const std::vector<int>& logs, const cdroptions& o, int to,
                       const std::string& scratch) {
  std::vector<char> buf(1 << 16);
  for (size_t i = 0; i < logs.size(); ++i) {
    for (;;) {
      ssize_t n = read(logs[i], buf.data(), buf.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        int fd = open((scratch + "/feed.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) dprintf(fd, "%s: %s\n", o.raws[i].c_str(), strerror(errno));
        _exit(1);
      }
      if (n == 0) break;
      // The packer went: its failure is the one told.
      if (!writeall(to, buf.data(), static_cast<size_t>(n))) _exit(1);
    }
  }
  _exit(0);
}

// Starts the packer reading `in`, in the scratch directory, where its own
// raw log (-r) would land; its standard error goes to scratch/packer.err.
// -1 with `err` set for a packer that cannot be run, as its failure.
pid_t startpacker(const cdroptions& o, const std::vector<std::string>& args, int in,
                  const std::string& scratch, std::string* err) {
  int out = open("/dev/null", O_WRONLY | O_CLOEXEC);
  int errfd =
      open((scratch + "/packer.err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  spawnspec s;
  s.argv = args;
  s.fds[0] = in;
  s.fds[1] = out;
  s.fds[2] = errfd;
  s.dir = scratch;
  int why = errno;
  pid_t pid = out < 0 || errfd < 0 ? -1 : spawn(s, &why);
  if (pid < 0)
    *err = "the replay through " + o.packer + " failed (exit code 127): cannot run " + args[0] +
           ": " + strerror(why);
  if (out >= 0) close(out);
  if (errfd >= 0) close(errfd);
  return pid;
}

// "exit code N" or "signal N".
std::string describe(int status) {
  return WIFEXITED(status) ? "exit code " + std::to_string(WEXITSTATUS(status))
                           : "signal " + std::to_string(WTERMSIG(status));
}

bool waitfor(pid_t pid, int* status, std::string* err) {
  while (waitpid(pid, status, 0) < 0)
    if (errno != EINTR) {
      *err = std::string("waitpid: ") + strerror(errno);
      return false;
    }
  return true;
}

// Whether the packer ended well (`status`) having had every byte (`fed`).
bool verdict(const cdroptions& o, const std::string& scratch, int status, int fed,
             std::string* err) {
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string said = packersaid(scratch + "/packer.err");
    *err = "the replay through " + o.packer + " failed (" + describe(status) + ")" +
           (said.empty() ? "" : ": " + said);
    return false;
  }
  if (!WIFEXITED(fed) || WEXITSTATUS(fed) != 0) {
    std::string why = lastline(scratch + "/feed.err");
    *err = "the replay did not get all of " + joinnames(o.raws) + (why.empty() ? "" : ": " + why);
    return false;
  }
  return true;
}

}  // namespace

scratchdir::~scratchdir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

bool scratchdir::make(std::string* err) {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pktav-cdr.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    *err = "cannot make a scratch directory " + templ + ": " + strerror(errno);
    return false;
  }
  path_ = buf.data();
  if (mkdir(store().c_str(), 0700) != 0) {
    *err = store() + ": " + strerror(errno);
    return false;
  }
  return true;
}

bool replay(const cdroptions& o, const scratchdir& scratch, std::string* err) {
  if (scratch.store().size() > packerpathmax) {
    *err = "the scratch directory's path is longer than the packer takes";
    return false;
  }
  std::vector<int> logs;
  if (!openlogs(o.raws, &logs, err)) return false;
  std::vector<std::string> args = packerargs(o, scratch.store());

  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) {
    *err = std::string("pipe: ") + strerror(errno);
    for (int fd : logs) close(fd);
    return false;
  }
  pid_t feeder = fork();
  if (feeder == 0) {
    close(pipefd[0]);
    feed(logs, o, pipefd[1], scratch.path());
  }
  for (int fd : logs) close(fd);
  close(pipefd[1]);
  if (feeder < 0) *err = std::string("fork: ") + strerror(errno);
  pid_t pid = feeder < 0 ? -1 : startpacker(o, args, pipefd[0], scratch.path(), err);
  close(pipefd[0]);  // a packer that ends early ends the feeder too
  if (pid < 0) {
    if (feeder > 0) {
      int ignored;
      waitfor(feeder, &ignored, err);
    }
    return false;
  }
  int status, fed;
  if (!waitfor(pid, &status, err) || !waitfor(feeder, &fed, err)) return false;
  return verdict(o, scratch.path(), status, fed, err);
}
