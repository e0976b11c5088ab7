// Helpers for the tests of pabxsim and pktav-link: running them, reading
// pabxsim's list of calls, reaching their sockets on loopback, and reading
// a whole CDR store back.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "support/proc.h"

// pabxsim with these arguments, in TZ=UTC.
procspec simjob(const std::vector<std::string>& args);

// pabxsim's list of the records it sent.
struct calllist {
  std::string stored;  // the lines of the records sent whole, in order, each ended by a line feed
  size_t rows = 0, sent = 0, replayed = 0, cut = 0, damaged = 0;
  std::vector<std::string> cutseqs;  // numbers of the records cut
};
calllist readcalls(const std::string& path);

// The port of "listening on 127.0.0.1:PORT" in a program's standard error,
// waited for; 0 when it does not come.
int listeningport(childproc& p, const std::string& marker = "listening on 127.0.0.1:");

// A TCP connection to 127.0.0.1:port, or -1.
int connectloopback(int port);

// A port on 127.0.0.1 that was free a moment ago.
int freeport();

// Every line of every hourly file under a CDR directory, files in the order
// of their names (the hours in order within a month), and the count of
// files.
std::string readstore(const std::string& cdrdir, int* files = nullptr);

// Lines of text, each ended by a line feed.
size_t linecount(const std::string& text);
