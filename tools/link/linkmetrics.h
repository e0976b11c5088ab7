// What pktav-link tells a monitoring system: whether a link is up, the
// bytes it carried and the links it made, its drops by their cause, the
// time of its latest byte; written to a file in the Prometheus text format
// for node_exporter's textfile collector.
#pragma once

#include <cstdint>
#include <string>

// Why a link went down, as its line in the log tells.
enum class dropcause {
  closed,    // "closed by the peer"
  hangup,    // "the device hung up"
  reset,     // the peer reset the connection
  timeout,   // the peer answered nothing (--dead-after)
  error,     // any other failing read
  replaced,  // "replaced by a new connection from the same peer"
  silent,    // "silent for N s, gave way to ..."
};
inline constexpr int dropcauses = 7;

// The cause of a drop that a read found: its errno, 0 for the link's end.
dropcause readdrop(bool device, int err);

struct linkstate {
  bool up = false;
  uint64_t bytes = 0;        // read from every link
  uint64_t connections = 0;  // links made
  uint64_t drops[dropcauses] = {};
  double lastbyte = 0;  // when the latest byte was read, seconds since 1970; 0: none yet
};

// The text of the file; `site` labels every sample unless empty.
std::string linkexposition(const linkstate& s, const std::string& site);
