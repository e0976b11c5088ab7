// manopts: checks that a man page describes every option of a program.
//
//   manopts page program [argument...]
//
// Runs the program with the arguments (a bad option, so that it prints its
// usage text), reads the options out of what it writes on standard output
// and standard error, and looks for each in the tags of the page's tagged
// paragraphs. The arguments themselves are left out. Ends with 0 when every
// option is described, 1 when one is not or the usage text names none, 2
// when the page or the program cannot be read or run.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "manopts.h"

namespace {

constexpr int exit_ok = 0;
constexpr int exit_missing = 1;
constexpr int exit_error = 2;

// What the program writes on standard output and standard error together.
bool runoutput(char** argv, std::string* out) {
  int fds[2];
  if (pipe(fds) != 0) return false;
  pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    dup2(fds[1], STDOUT_FILENO);
    dup2(fds[1], STDERR_FILENO);
    close(fds[0]);
    close(fds[1]);
    execv(argv[0], argv);
    _exit(127);
  }
  close(fds[1]);
  char buf[4096];
  for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) out->append(buf, n);
  close(fds[0]);
  int status;
  waitpid(pid, &status, 0);
  return !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "Usage: manopts page program [argument...]\n";
    return exit_error;
  }
  std::ifstream file(argv[1]);
  std::stringstream page;
  page << file.rdbuf();
  if (!file || page.str().empty()) {
    std::cerr << "manopts: cannot read " << argv[1] << "\n";
    return exit_error;
  }
  std::string usage;
  if (!runoutput(argv + 2, &usage)) {
    std::cerr << "manopts: cannot run " << argv[2] << "\n";
    return exit_error;
  }
  std::set<std::string> options = usageoptions(usage);
  for (int i = 3; i < argc; ++i)
    for (const std::string& given : usageoptions(argv[i])) options.erase(given);
  if (options.empty()) {
    std::cerr << "manopts: " << argv[2] << " named no option in:\n" << usage;
    return exit_missing;
  }
  std::set<std::string> described = documentedoptions(page.str());
  int status = exit_ok;
  for (const std::string& option : options) {
    if (!described.count(option)) {
      std::cerr << argv[2] << ": " << option << " is not described in " << argv[1] << "\n";
      status = exit_missing;
    }
  }
  if (status == exit_ok) std::cout << argv[2] << ": " << options.size() << " options described\n";
  return status;
}
