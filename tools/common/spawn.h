// Starting another program: its standard streams, working directory and
// signal mask chosen, every signal at its default disposition.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

struct spawnspec {
  std::vector<std::string> argv;   // argv[0] is looked up in PATH unless it holds a '/'
  int fds[3] = {-1, -1, -1};       // its standard input, output and error; -1: ours
  std::string dir;                 // its working directory; empty: ours
  const sigset_t* mask = nullptr;  // its signal mask; null: ours
  std::vector<std::string> env;    // "NAME=value": put in its environment, over ours
  bool newgroup = false;           // in a process group of its own, to be ended whole
};

// Starts the program; returns its process id, or -1 with the error number
// in `err` (ENOENT: not found, EACCES: not runnable, or the directory's).
pid_t spawn(const spawnspec& s, int* err);

// The file posix_spawnp would run for `name`: the name itself when it
// holds a '/', else the first executable file of that name in PATH. 0, or
// the error number a spawn would get (ENOENT, EACCES).
int findprogram(const std::string& name, std::string* path);

// "exited with status N" or "ended by signal N (name)".
std::string describestatus(int status);
