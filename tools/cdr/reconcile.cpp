// Reconciliation of the store with a raw data log: the log is replayed
// through a packer build into a scratch store, and the two stores are
// compared hour by hour as multisets of lines, over the period both cover.
// Only lines of one hour are held at a time.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <vector>

#include "cdr/audit.h"
#include "cdr/commands.h"
#include "cdr/diag.h"
#include "cdr/linereader.h"
#include "cdr/select.h"
#include "cdr/storewalk.h"

namespace {

// The packer uses at most this many characters of -i and -o.
constexpr size_t packerpathmax = 127;

// A scratch directory, removed with everything in it.
struct scratchdir {
  std::string path;
  ~scratchdir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
};

bool makescratch(scratchdir* s, std::string* err) {
  const char* tmp = getenv("TMPDIR");
  std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/pktav-cdr.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    *err = "cannot make a scratch directory " + templ + ": " + strerror(errno);
    return false;
  }
  s->path = buf.data();
  if (mkdir((s->path + "/store").c_str(), 0700) != 0) {
    *err = s->path + "/store: " + strerror(errno);
    return false;
  }
  return true;
}

std::string lastline(const std::string& path) {
  linereader in;
  linereader::line l;
  std::string last;
  if (!in.open(path)) return last;
  while (in.next(&l))
    if (!l.text.empty()) last = std::string(l.text);
  return last;
}

// The logs named in messages: "a" or "a, b".
std::string lognames(const cdroptions& o) {
  std::string names;
  for (const std::string& raw : o.raws) names += (names.empty() ? "" : ", ") + raw;
  return names;
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
      for (ssize_t done = 0; done < n;) {
        ssize_t w = write(to, buf.data() + done, static_cast<size_t>(n - done));
        if (w < 0 && errno == EINTR) continue;
        if (w < 0) _exit(1);  // the packer went: its failure is the one told
        done += w;
      }
    }
  }
  _exit(0);
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

// Runs the packer into scratch/store, validation off, with the logs on
// its standard input as it read them, one after another (a rotation's
// logs, oldest first); its standard error goes to scratch/packer.err.
bool replay(const cdroptions& o, const std::string& scratch, std::string* err) {
  std::string store = scratch + "/store", errfile = scratch + "/packer.err";
  if (store.size() > packerpathmax) {
    *err = "the scratch directory's path is longer than the packer takes";
    return false;
  }
  // Every log is opened first, so that one that cannot be read is named
  // before anything runs.
  std::vector<int> logs;
  auto closelogs = [&] {
    for (int fd : logs) close(fd);
  };
  for (const std::string& raw : o.raws) {
    int fd = open(raw.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      *err = raw + ": " + strerror(errno);
      closelogs();
      return false;
    }
    logs.push_back(fd);
  }
  // The packer runs in the scratch directory: a path to it must not be
  // relative to ours. A bare name is looked up in PATH.
  std::string program = o.packer;
  char resolved[PATH_MAX];
  if (program.find('/') != program.npos && realpath(program.c_str(), resolved)) program = resolved;
  std::vector<std::string> args{program};
  args.insert(args.end(), o.packeroptions.begin(), o.packeroptions.end());
  for (const char* a : {"-v", "-o"}) args.push_back(a);
  args.push_back(store);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipefd[2];
  if (pipe2(pipefd, O_CLOEXEC) != 0) {
    *err = std::string("pipe: ") + strerror(errno);
    closelogs();
    return false;
  }
  pid_t feeder = fork();
  if (feeder == 0) {
    close(pipefd[0]);
    feed(logs, o, pipefd[1], scratch);
  }
  closelogs();
  close(pipefd[1]);
  pid_t pid = feeder < 0 ? -1 : fork();
  if (pid == 0) {
    // The packer's own raw log (-r) would land in the working directory.
    int out = open("/dev/null", O_WRONLY);
    int errfd = open(errfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (chdir(scratch.c_str()) != 0 || out < 0 || errfd < 0) _exit(127);
    dup2(pipefd[0], 0);
    dup2(out, 1);
    dup2(errfd, 2);
    execvp(argv[0], argv.data());
    dprintf(2, "cannot run %s: %s\n", argv[0], strerror(errno));
    _exit(127);
  }
  close(pipefd[0]);  // a packer that ends early ends the feeder too
  if (pid < 0) {
    *err = std::string("fork: ") + strerror(errno);
    if (feeder > 0) {
      int ignored;
      waitfor(feeder, &ignored, err);
    }
    return false;
  }
  int status, fed;
  if (!waitfor(pid, &status, err) || !waitfor(feeder, &fed, err)) return false;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    *err = "the replay through " + o.packer + " failed (" + describe(status) +
           "): " + lastline(errfile);
    return false;
  }
  if (!WIFEXITED(fed) || WEXITSTATUS(fed) != 0) {
    std::string why = lastline(scratch + "/feed.err");
    *err = "the replay did not get all of " + lognames(o) + (why.empty() ? "" : ": " + why);
    return false;
  }
  return true;
}

struct storeline {
  std::string text;
  hourkey key;  // of its file
  std::string file;
  long line;
};

// The well-formed lines of a file, with their wall time; others are the
// audit's business, not the comparison's.
template <typename F>
void eachline(const hourfile& f, F fn) {
  linereader in;
  linereader::line l;
  cdrcall c;
  if (!in.open(f.path)) return;
  while (in.next(&l))
    if (!l.torn && !l.toolong && !parsecall(l.text, f.key.year, &c)) fn(l, wallsecs(c.end));
}

// The wall-time span of the calls in a store: the least of its first
// hour's file(s) and the greatest of its last's.
bool span(const std::string& root, const hourkey& lo, const hourkey& hi, int64_t* first,
          int64_t* last) {
  std::vector<hourfile> head, tail;
  walkstore(
      root, lo, hi,
      [&](const hourfile& f) {
        if (head.empty() || head.front().key == f.key) head.push_back(f);
        if (!tail.empty() && tail.front().key != f.key) tail.clear();
        tail.push_back(f);
      },
      [](const std::string&, int) {});
  if (head.empty()) return false;
  *first = INT64_MAX;
  *last = INT64_MIN;
  for (const hourfile& f : head)
    eachline(f, [&](const linereader::line&, int64_t w) { *first = std::min(*first, w); });
  for (const hourfile& f : tail)
    eachline(f, [&](const linereader::line&, int64_t w) { *last = std::max(*last, w); });
  return *first <= *last;
}

hourkey keyofwall(int64_t w) {
  wall x = wallof(w);
  return {x.year, x.month, x.day, x.hour};
}

std::vector<hourfile> filesof(const std::string& root, const hourkey& lo, const hourkey& hi) {
  std::vector<hourfile> v;
  walkstore(
      root, lo, hi, [&](const hourfile& f) { v.push_back(f); }, [](const std::string&, int) {});
  return v;
}

}  // namespace

bool reconcile(const cdroptions& o, findings& found, std::string* err) {
  struct stat st;
  if (stat(o.inputs.front().c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *err = o.inputs.front() + ": reconciliation needs a store directory";
    return false;
  }
  scratchdir scratch;
  if (!makescratch(&scratch, err) || !replay(o, scratch.path, err)) return false;
  std::string root = o.inputs.front(), replayed = scratch.path + "/store";
  while (root.size() > 1 && root.back() == '/') root.pop_back();

  // The period both cover, narrowed to the one asked for. Nothing to
  // compare is said aloud: a replay through the wrong build gives no calls,
  // and a silent pass would hide it.
  int64_t rfirst, rlast, sfirst, slast;
  if (!span(replayed, firsthour, lasthour, &rfirst, &rlast)) {
    warnx("the replay of %s gave no calls: nothing was reconciled", lognames(o).c_str());
    return true;
  }
  if (!span(root, firsthour, lasthour, &sfirst, &slast)) sfirst = 0, slast = -1;
  int64_t lo = std::max(rfirst, sfirst), hi = std::min(rlast, slast);
  tzone zone(o.tz);
  selection sel = makeselection(o, zone);
  if (sel.from) lo = std::max(lo, *sel.from + zone.offset(*sel.from));
  if (sel.to) hi = std::min(hi, *sel.to - 1 + zone.offset(*sel.to - 1));
  if (lo > hi) {
    warnx("the store and the replay of %s share no period: nothing was reconciled",
          lognames(o).c_str());
    return true;
  }

  hourkey klo = keyofwall(lo), khi = keyofwall(hi);
  std::vector<hourfile> ours = filesof(root, klo, khi), theirs = filesof(replayed, klo, khi);
  size_t i = 0, j = 0;
  while (i < ours.size() || j < theirs.size()) {
    hourkey key = j == theirs.size() || (i < ours.size() && ours[i].key < theirs[j].key)
                      ? ours[i].key
                      : theirs[j].key;
    // This hour's lines of the store, matched off by the replay's.
    std::multimap<std::string, std::pair<std::string, long>> lines;
    for (; i < ours.size() && ours[i].key == key; ++i)
      eachline(ours[i], [&](const linereader::line& l, int64_t w) {
        if (w >= lo && w <= hi)
          lines.emplace(std::string(l.text), std::make_pair(ours[i].path, l.number));
      });
    for (; j < theirs.size() && theirs[j].key == key; ++j)
      eachline(theirs[j], [&](const linereader::line& l, int64_t w) {
        if (w < lo || w > hi) return;
        auto it = lines.find(std::string(l.text));
        if (it != lines.end())
          lines.erase(it);
        else
          found.add("missing", root + "/" + hourpath(key), 0,
                    "a call of the raw log that the store lacks", l.text);
      });
    std::vector<std::pair<std::pair<std::string, long>, std::string>> extra;
    for (const auto& [text, where] : lines) extra.push_back({where, text});
    std::sort(extra.begin(), extra.end());
    for (const auto& [where, text] : extra)
      found.add("unlogged", where.first, where.second, "a call the raw log does not hold", text);
  }
  return true;
}
