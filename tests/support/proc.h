// Running programs under test as a user would: a command line, an
// environment, a working directory and standard streams, with time limits
// so that a program that hangs fails its test instead of hanging the run.
//
// Every child starts in its own process group with default signal
// dispositions, an empty signal mask and no descriptors but 0, 1 and 2; it
// is killed if the test process dies. Standard output and standard error
// go to unlinked temporary files, so a child never blocks on a full pipe.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Runs `work` in a child process of this one and returns the text it
// made: for tests of process-wide state (the time zone, the C library's
// memory, caches) that must start from the parent's and leave it alone. A
// child that does not end with 0 fails the test.
std::string inchild(const std::function<std::string()>& work);

// How many times needle occurs in text, not overlapping.
int occurrences(const std::string& text, const std::string& needle);

// The path of a program found in PATH; empty when there is none.
std::string findinpath(const std::string& name);

// How a program ended and what it wrote.
struct procresult {
  bool exited = false;  // ended by exit; `code` is its status
  int code = -1;
  int termsig = 0;       // the signal that ended it, when !exited
  std::string out, err;  // standard output (unless redirected) and error
  pid_t pid = -1;        // its process id, for names it derives from it
};

// How it ended and what it wrote, for assertion messages.
std::string describe(const procresult& r);

struct procspec {
  // Every member has an initializer, so designated initializers may name
  // only the members they set.
  std::vector<std::string> argv{};      // argv[0] is the program's path
  std::vector<std::string> env{};       // "NAME=value" entries added or replaced
  std::vector<std::string> unsetenv{};  // names removed from the environment
  std::string cwd{};                    // empty: the test's own
  enum { devnull, pipe, file } stdinkind = devnull;
  std::string stdinpath{};   // with stdinkind == file
  std::string stdoutpath{};  // empty: captured; else redirected to this path
};

// Runs a program to its end. With stdinkind == pipe, `input` is written to
// it and its standard input closed. A program still running after
// `timeout_ms` fails the test and is killed.
procresult runproc(const procspec& job, const std::string& input = "", int timeout_ms = 20000);

// A program started in the background. Construction returns once it runs
// the program (a program that cannot be started fails the test).
class childproc {
 public:
  explicit childproc(const procspec& job);
  ~childproc();  // kills it (SIGKILL, its whole process group) if still running
  childproc(const childproc&) = delete;
  childproc& operator=(const childproc&) = delete;

  pid_t pid() const { return pid_; }

  // Standard input, with stdinkind == pipe. Writing fails the test if the
  // program takes nothing for `timeout_ms`; writing to a program that has
  // closed its input is not an error of the test and is dropped.
  void writein(const std::string& data, int timeout_ms = 10000);
  void closein();
  // Waits until the program has read everything written to its input so
  // far; false if it has not within `timeout_ms`.
  bool drainin(int timeout_ms = 10000);

  // Sends `sig` to the program itself, if it has not ended.
  void signal(int sig);

  // Waits until what it wrote so far holds `needle` at least `times` times
  // (not overlapping); false if it ends or the time runs out first. What it
  // wrote before counts too: to wait for a second message like the first,
  // ask for 2.
  bool waitfor_err(const std::string& needle, int timeout_ms = 10000, int times = 1);
  bool waitfor_out(const std::string& needle, int timeout_ms = 10000, int times = 1);

  // Waits for its end. Standard input stays open: close it first if the
  // program reads to its end. On time-out: test failure and SIGKILL.
  procresult wait(int timeout_ms = 20000);

  // What it wrote so far.
  std::string out() const;
  std::string err() const;

 private:
  friend procresult runproc(const procspec&, const std::string&, int);
  bool ended();  // reaps it if it has ended, without waiting
  // wait() up to `deadline`; `timeout_ms` is the time limit to report.
  procresult waituntil(std::chrono::steady_clock::time_point deadline, int timeout_ms);
  void kill_and_reap();
  bool waitfor(int fd, const std::string& needle, int timeout_ms, int times);

  std::string name_;  // argv[0], for messages
  pid_t pid_ = -1;
  int in_ = -1, out_ = -1, err_ = -1;
  bool reaped_ = false;
  int status_ = -1;  // wait status once reaped; -1 while unknown
};
