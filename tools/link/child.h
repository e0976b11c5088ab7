// The program the link keeper runs, reading the link's bytes on its
// standard input.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>
#include <vector>

// Starts argv[0] (looked up in PATH) with its standard input on a pipe and
// the signal mask `mask`, every signal at its default disposition. Returns
// its process id and sets `feed` to our end of the pipe (non-blocking), or
// returns -1 with the error number in `err`.
pid_t startprogram(const std::vector<std::string>& argv, const sigset_t& mask, int* feed, int* err);
