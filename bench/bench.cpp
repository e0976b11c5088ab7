// pktav-bench: the packer's throughput against the least a collector must
// do. For each build it has pabxsim write a stream of records, then times
//   P  the build storing them: -v -M -i FILE -o DIR (and -R LOG with -r),
//   W  the floor storing the same CDR lines into the same tree (and
//      logging each record's bytes with -r),
//   R  reading the stream to nothing,
// taking the fastest of a few runs of each (processor time, user and
// system, and the user part alone; the wall clock too), and counts system
// calls per record with strace and the peak memory of P. P-W a record is
// what the packer costs beyond the floor: unlike P/W it does not move with
// the price of a write, which varies with the machine and its neighbours.
//
//   pktav-bench BINDIR WORKDIR [RECORDS [RUNS]]
//
// The floor is the program beside pktav-bench.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct outcome {
  double seconds =
      0;  // processor time, user and system: steadier than the clock on a shared machine
  double wall = 0;
  double user = 0, sys = 0;  // the two parts of seconds
  long maxrss_kib = 0;
};

// VmHWM of a running process in KiB; 0 once it has gone, and before it has
// run its program (until then it is a copy of this one).
long highwater(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Name:", 0) == 0 && line.find("pktav-bench") != std::string::npos) return 0;
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

// Runs a program with its output thrown away; exits the benchmark if it fails.
outcome run(const std::vector<std::string>& argv, const std::string& outfile = "/dev/null") {
  auto began = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int out = open(outfile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int null = open("/dev/null", O_WRONLY);
    dup2(out, 1);
    dup2(null, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    setenv("TZ", "UTC", 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  // The peak is the program's high-water mark, read while it runs: the
  // rusage of a forked child also counts what it held before exec, a copy
  // of this process.
  int status = 0;
  rusage ru{};
  long hwm = 0;
  while (wait4(pid, &status, WNOHANG, &ru) == 0) {
    hwm = std::max(hwm, highwater(pid));
    usleep(2000);
  }
  outcome o;
  o.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  o.user = static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) / 1e6;
  o.sys = static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) / 1e6;
  o.seconds = o.user + o.sys;
  o.maxrss_kib = hwm;
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0)) {
    fprintf(stderr, "pktav-bench: %s failed (status %d)\n", argv[0].c_str(), status);
    exit(1);
  }
  return o;
}

// A new, empty store for each run, and the disk idle: the pages the last
// run left dirty are written out first, so that no run pays for the one
// before. A store is never made again where one was just removed: ext4
// then searches past the freshly freed inodes for every file it makes,
// which added a third to the cost of a run, more than any site pays.
std::string fresh(const std::string& work) {
  static int made = 0;
  std::string dir = work + "/stores/" + std::to_string(++made);
  fs::create_directories(dir);
  sync();
  return dir;
}

// The system calls strace counts for a run.
long syscalls(const std::vector<std::string>& argv, const std::string& work) {
  std::vector<std::string> traced = {"strace", "-f", "-c", "-o", work + "/strace.out"};
  traced.insert(traced.end(), argv.begin(), argv.end());
  run(traced);
  std::ifstream in(work + "/strace.out");
  long total = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find(" total") == std::string::npos) continue;
    std::istringstream words(line);
    std::string w;
    std::vector<std::string> cols;
    while (words >> w) cols.push_back(w);
    // % time, seconds, usecs/call, calls, [errors], total
    if (cols.size() >= 4) total = std::atol(cols[3].c_str());
  }
  return total;
}

std::string treecontent(const std::string& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::string all;
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    all += fs::relative(f, dir).string() + "\n";
    all.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return all;
}

struct build {
  const char* name;
  const char* format;
  const char* endbyte;
};

const build builds[] = {
    {"deviroz7e", "neax", "03"},
    {"diziziv7", "neax98", "03"},
    {"md11bc12", "md110", "0a"},
};

// The stream of `records` records and the CDR lines they become.
void generate(const std::string& bin, const std::string& work, const build& b, long records,
              std::string* stream, std::string* lines) {
  std::string base = work + "/" + b.format + "-" + std::to_string(records);
  *stream = base + ".smdr";
  *lines = base + ".lines";
  if (fs::exists(*lines)) return;
  // Flat traffic: the figures stay comparable with those of earlier streams.
  run({bin + "/pabxsim", "-f", b.format, "-n", std::to_string(records), "-s", "1", "--flat", "-o",
       *stream, "--calls", base + ".calls"});
  std::ifstream in(base + ".calls");
  std::ofstream out(*lines);
  for (std::string row; std::getline(in, row);) {
    size_t t1 = row.find('\t'), t2 = row.find('\t', t1 + 1), t3 = row.find('\t', t2 + 1);
    std::string status = row.substr(t1 + 1, t2 - t1 - 1), line = row.substr(t3 + 1);
    if ((status == "sent" || status == "replayed") && line != "-") out << line << '\n';
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: pktav-bench BINDIR WORKDIR [RECORDS [RUNS]]\n");
    return 2;
  }
  std::string bin = argv[1], work = argv[2];
  long records = argc > 3 ? std::atol(argv[3]) : 1000000;
  int runs = argc > 4 ? std::atoi(argv[4]) : 3;
  fs::create_directories(work);
  // Every run's store is kept till the end (a few GB for a million
  // records): see fresh().
  fs::remove_all(work + "/stores");
  std::string floor = (fs::path(argv[0]).parent_path() / "floor").string();

  printf("%-10s %-3s %10s %7s %7s %7s %7s %6s %8s %7s %7s %7s %9s %6s %8s %8s\n", "build", "-r",
         "records/s", "P cpu", "P usr", "W cpu", "W usr", "P/W", "P-W ns", "P wall", "W wall",
         "R cpu", "calls/rec", "floor", "peak MiB", "at 100k");
  for (const build& b : builds) {
    std::string stream, lines, small, smalllines;
    generate(bin, work, b, records, &stream, &lines);
    generate(bin, work, b, 100000, &small, &smalllines);
    std::string program = bin + "/pktav-" + b.name;
    for (bool raw : {false, true}) {
      // The command lines of P and W storing into `store`.
      auto packer = [&](const std::string& input, const std::string& store) {
        std::vector<std::string> p = {program, "-v", "-M", "-i", input, "-o", store};
        if (raw) p.insert(p.end(), {"-R", store + ".raw"});
        return p;
      };
      auto floorof = [&](const std::string& store) {
        if (!raw) return std::vector<std::string>{floor, lines, store};
        return std::vector<std::string>{floor, "-r",      stream, store + ".raw",
                                        "-e",  b.endbyte, lines,  store};
      };
      outcome bestp{1e9}, bestw{1e9}, bestr{1e9};
      for (int i = 0; i < runs; ++i) {
        std::string pdir = fresh(work);
        outcome o = run(packer(stream, pdir));
        if (o.seconds < bestp.seconds) bestp = o;
        std::string wdir = fresh(work);
        o = run(floorof(wdir));
        if (o.seconds < bestw.seconds) bestw = o;
        if (i == 0 && treecontent(wdir) != treecontent(pdir)) {
          fprintf(stderr, "pktav-bench: %s and the floor stored different trees\n", b.name);
          return 1;
        }
        o = run({"cat", stream});
        if (o.seconds < bestr.seconds) bestr = o;
      }
      long pcalls = syscalls(packer(stream, fresh(work)), work);
      long wcalls = syscalls(floorof(fresh(work)), work);
      outcome smallrun = run(packer(small, fresh(work)));
      printf(
          "%-10s %-3s %10.0f %7.3f %7.3f %7.3f %7.3f %6.2f %8.0f "
          "%7.3f %7.3f %7.3f %9.3f %6.3f %8.2f %8.2f\n",
          b.name, raw ? "yes" : "no", records / bestp.seconds, bestp.seconds, bestp.user,
          bestw.seconds, bestw.user, bestp.seconds / bestw.seconds,
          (bestp.seconds - bestw.seconds) / static_cast<double>(records) * 1e9, bestp.wall,
          bestw.wall, bestr.seconds, double(pcalls) / records, double(wcalls) / records,
          bestp.maxrss_kib / 1024.0, smallrun.maxrss_kib / 1024.0);
      fflush(stdout);
    }
  }
  fs::remove_all(work + "/stores");
  return 0;
}
