// Helpers for the tests of pabxsim and pktav-link: running them, reading
// pabxsim's list of calls, reaching their sockets on loopback, reading a
// whole CDR store back, and pktav-link's metrics.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "support/proc.h"

// pabxsim with these arguments, in TZ=UTC.
procspec simjob(const std::vector<std::string>& args);

// pktav-link with these arguments, in TZ=UTC.
procspec linkjob(const std::vector<std::string>& args);

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

// A CDR store as hourly file name (DD_MM_YYYY:hh) and content.
using storemap = std::map<std::string, std::string>;

// Every hourly file under a CDR directory.
storemap readstore(const std::string& cdrdir);

// The store that CDR lines make: each line in the file of its end's hour,
// in the order given.
storemap storeof(const std::string& lines);

// Waits until the store holds n lines; false when the time runs out.
bool waitforlines(const std::string& cdrdir, size_t n, int timeout_ms = 30000);

// A TCP connection to 127.0.0.1:port from a given loopback address, or -1.
int connectfrom(const char* address, int port);

// Lines of text, each ended by a line feed.
size_t linecount(const std::string& text);

// The samples of a metrics file in the Prometheus text format: each
// series as written (name and labels) and its value.
std::map<std::string, std::string> readmetrics(const std::string& path);
