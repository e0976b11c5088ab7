// What pktav-link tells a monitoring system: whether a link is up, the
// bytes it carried and the links it made, its drops by their cause, the
// time of its latest byte; written to a file in the Prometheus text format
// for node_exporter's textfile collector.
#pragma once

#include <chrono>
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

// The file, written at least every 15 seconds and within a second of a
// change, each time replaced whole.
class metricsfile {
 public:
  using clock = std::chrono::steady_clock;

  // An empty path: no file, nothing is ever due.
  metricsfile(std::string path, std::string site);

  // Milliseconds until a write is due, 0 if it is; -1: never.
  int timeout(clock::time_point now) const;
  // Something changed: due within a second of the last write.
  void changed();
  // Writes the file if due, or whatever the time if `now`. A failing
  // write is told once, and so is the first that works again.
  void update(const linkstate& s, bool now = false);

  static constexpr std::chrono::seconds every{15}, soonest{1};

 private:
  std::string path_, site_;
  clock::time_point due_{}, last_{};  // at first due at once
  std::string failing_;               // why the latest write failed; empty: it worked
};
