// A metrics file for node_exporter's textfile collector: written at least
// every 15 seconds and within a second of a change, each time replaced
// whole, so that the collector never reads half of one.
#pragma once

#include <chrono>
#include <string>

class metricsfile {
 public:
  using clock = std::chrono::steady_clock;

  // An empty path: no file, nothing is ever due.
  explicit metricsfile(std::string path);

  // Milliseconds until a write is due, 0 if it is; -1: never.
  int timeout(clock::time_point now) const;
  // Something changed: due within a second of the last write.
  void changed();
  // Writes the text `make()` gives if due, or whatever the time if `now`.
  // A failing write is told once, and so is the first that works again.
  template <typename Make>
  void update(Make make, bool now = false) {
    if (due(now)) write(make());
  }

  static constexpr std::chrono::seconds every{15}, soonest{1};

 private:
  bool due(bool now);  // true: the write is done now, the next one due later
  void write(const std::string& text);

  std::string path_;
  clock::time_point due_{}, last_{};  // at first due at once
  std::string failing_;               // why the latest write failed; empty: it worked
};
