// tailclip_window: measures what a program appending to a file loses while
// tailclip trims it, over many trims. Not run by ctest: it takes a while.
//
//   tailclip_window [-t trims] [-r lines_per_second] [-n #_lines]
//                   [-i ms_between_trims] [-d dir] [-v] [tailclip]
//
// A file in `dir` (default: a fresh directory under $TMPDIR or /tmp) is
// filled with #_lines + one interval's worth of numbered lines; then a
// thread appends further numbered lines to it at the given rate with
// O_APPEND, one write each, and every interval tailclip -n #_lines trims it.
// After each trim the file is read back and its whole lines checked:
//
//   lost       numbers missing between the first and the last line
//   reordered  lines whose number is below the one of the line before
//   torn       lines that are not a whole numbered line (cut, or run
//              together with another)
//
// Each is counted once however many trims it survives; -v tells each as it
// is first seen. Defaults: 100
// trims, 2000 lines/s, 1000 lines, 100 ms, build/bin/tailclip as built.
// Lines lost in the instant before each cut are to be expected; a line
// reordered or torn is not. Ends with 0 when none was reordered or torn,
// 1 when one was, 2 when the measurement itself failed.

#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "support/numbered.h"
#include "support/tmpdir.h"

extern char** environ;

namespace {

constexpr int exit_clean = 0;
constexpr int exit_damage = 1;
constexpr int exit_failed = 2;

struct settings {
  long trims = 100;
  long rate = 2000;
  long lines = 1000;
  long interval_ms = 100;
  std::string dir;
  bool verbose = false;
  std::string tailclip = TAILCLIP;
};

// Every defect seen so far, each counted once.
struct tally {
  std::set<long> lost;
  std::set<std::pair<long, long>> reordered;  // (number before, number)
  std::set<std::pair<long, long>> torn;       // (number before, how many torn since)
  long damagedtrims = 0;                      // trims that added a defect
  std::size_t total() const { return lost.size() + reordered.size() + torn.size(); }
};

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "tailclip_window: %s\n", what.c_str());
  std::exit(exit_failed);
}

settings readargs(int argc, char** argv) {
  settings s;
  for (int c; (c = getopt(argc, argv, "t:r:n:i:d:v")) != -1;) {
    switch (c) {
      case 't': s.trims = std::atol(optarg); break;
      case 'r': s.rate = std::atol(optarg); break;
      case 'n': s.lines = std::atol(optarg); break;
      case 'i': s.interval_ms = std::atol(optarg); break;
      case 'd': s.dir = optarg; break;
      case 'v': s.verbose = true; break;
      default:
        std::fprintf(stderr,
                     "usage: %s [-t trims] [-r lines_per_second] [-n #_lines] "
                     "[-i ms_between_trims] [-d dir] [-v] [tailclip]\n",
                     argv[0]);
        std::exit(exit_failed);
    }
  }
  if (optind < argc) s.tailclip = argv[optind];
  if (s.trims < 1 || s.rate < 1 || s.lines < 1 || s.interval_ms < 1) fail("values must be > 0");
  return s;
}

// Writes lines 1 to `count` at once; returns the next number.
long prefill(const std::string& path, long count) {
  std::FILE* out = std::fopen(path.c_str(), "w");
  for (long n = 1; out != nullptr && n <= count; ++n) std::fputs(numberedline(n).c_str(), out);
  if (out == nullptr || std::fclose(out) != 0) fail("cannot write " + path);
  return count + 1;
}

void trim(const settings& s, const std::string& path) {
  const std::string count = std::to_string(s.lines);
  const char* argv[] = {s.tailclip.c_str(), "-n", count.c_str(), "-f", path.c_str(), nullptr};
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    fail("cannot run " + s.tailclip);
  }
  int status;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    fail(s.tailclip + " failed");
  }
}

// Tells of a defect first seen after trim `trim`, with -v.
void report(const settings& s, long trim, const std::string& what) {
  if (s.verbose) std::printf("trim %ld: %s\n", trim + 1, what.c_str());
}

// Adds the defects the file shows after trim `trim` to `t`; true if there
// were new ones. The writer has written no line above `last` + 1 (the one
// it may be writing): a line that reads so is torn lines run together.
bool audit(const settings& s, long trim, const std::string& content, long last, tally& t) {
  const std::size_t before = t.total();
  std::set<long> present;
  long previous = 0, tornsince = 0;
  std::size_t start = 0;
  for (const numbered& line : readnumbered(content)) {
    const std::string text = content.substr(start, std::min<std::size_t>(line.end - start, 80));
    start = line.end;
    if (line.number < 0 || line.number > last + 1) {
      if (t.torn.insert({previous, ++tornsince}).second) report(s, trim, "torn: " + text);
      continue;
    }
    tornsince = 0;
    if (line.number < previous && t.reordered.insert({previous, line.number}).second) {
      report(s, trim, std::to_string(line.number) + " after " + std::to_string(previous));
    }
    present.insert(line.number);
    previous = line.number;
  }
  for (auto it = present.begin(); it != present.end() && std::next(it) != present.end(); ++it) {
    const long from = *it + 1, to = *std::next(it) - 1;
    if (from > to || !t.lost.insert(from).second) continue;
    for (long n = from + 1; n <= to; ++n) t.lost.insert(n);
    report(s, trim, "lost " + std::to_string(from) + " to " + std::to_string(to));
  }
  return t.total() > before;
}

}  // namespace

int main(int argc, char** argv) {
  const settings s = readargs(argc, argv);
  std::unique_ptr<tmpdir> own;
  std::string dir = s.dir;
  if (dir.empty()) {
    own = std::make_unique<tmpdir>();
    dir = own->path();
  }
  const std::string path = dir + "/window.log";
  std::filesystem::remove(path);
  const long first = prefill(path, s.lines + s.rate * s.interval_ms / 1000);

  tally t;
  appender writer(path, first, 1000000 / s.rate);
  const auto start = std::chrono::steady_clock::now();
  for (long i = 0; i < s.trims; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(s.interval_ms));
    if (writer.error() != 0) fail(std::string("writer: ") + std::strerror(writer.error()));
    trim(s, path);
    const std::string content = readfile(path);
    if (audit(s, i, content, writer.last(), t)) ++t.damagedtrims;  // it shows no later line
  }
  writer.stop();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::printf(
      "%ld trims of -n %ld, %ld ms apart, writer at %ld lines/s (%ld lines in %.1f s), in %s\n"
      "lost %zu, reordered %zu, torn %zu; trims with new damage: %ld\n",
      s.trims, s.lines, s.interval_ms, s.rate, writer.last() - first + 1, seconds, dir.c_str(),
      t.lost.size(), t.reordered.size(), t.torn.size(), t.damagedtrims);
  return t.reordered.empty() && t.torn.empty() ? exit_clean : exit_damage;
}
