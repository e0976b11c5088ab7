// The link keeper's loop: one program started once, its standard input fed
// from whatever link is up, the link made again whenever it drops, and the
// program's signals and end passed through.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tools/common/backoff.h"
#include "tools/common/pathwatch.h"
#include "tools/common/metricsfile.h"
#include "tools/link/linkmetrics.h"
#include "tools/link/linkopts.h"
#include "tools/link/relay.h"
#include "tools/link/serial.h"

// Exit codes of the link keeper's own; otherwise it ends with the program's
// status, as env(1) and timeout(1) do.
inline constexpr int linkfailed = 125;      // a bad command line, or no listening socket
inline constexpr int cannotrun = 126;       // the program was found but could not be run
inline constexpr int programmissing = 127;  // the program was not found
inline constexpr int checkrefused = 2;      // --check: a run would not start

class keeper {
 public:
  explicit keeper(const linkoptions& o);

  // Runs until the program ends; returns its exit status, or raises the
  // signal that ended it. Returns one of the codes above when it cannot
  // start.
  int run();

 private:
  using clock = std::chrono::steady_clock;

  bool start();
  [[noreturn]] void loop();
  int timeout() const;
  int linktimeout() const;
  void attempt();
  void connected();
  void accept();
  void takeup(int fd, const std::string& name, const sockaddr_storage& addr);
  void readlink();
  void endoffile();
  void passend();
  uint64_t untaken() const;
  void feed();
  void up(int fd, const std::string& peer, const std::string& note);
  void down(dropcause cause, const std::string& reason);
  void retry(const std::string& why);
  void signals();
  void stop(int sig);
  [[noreturn]] void end(int status);

  const linkoptions& o_;
  relay relay_;
  backoff backoff_;
  serialline serial_;
  sigset_t original_{};
  pid_t child_ = -1;
  int feed_ = -1;      // our end of the program's standard input
  int listener_ = -1;  // listen: the listening socket
  int fd_ = -1;        // the link, up or being connected
  // ended: a file read to its end, nothing more to link
  enum { idle, connecting, linked, ended } state_ = idle;
  std::string peer_;
  sockaddr_storage peeraddr_{};
  // listen: the linked exchange calling again, taken up once its old
  // connection is read out.
  struct caller {
    int fd = -1;
    std::string name;
    sockaddr_storage addr{};
    std::string why;  // what the old connection's end is put down to
    dropcause cause = dropcause::replaced;
  } pending_;
  uint64_t carried_ = 0;        // bytes carried by the link now up
  clock::time_point lastbyte_;  // when it carried the latest, or came up
  bool file_ = false;           // the device is a regular file, read once
  pathwatch watch_;             // device: for its coming back
  clock::time_point due_;       // idle: the next attempt; connecting: the deadline
  bool stopping_ = false;
  linkstate stats_;  // what the metrics file tells
  metricsfile metrics_;
};
