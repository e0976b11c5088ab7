// pktav-cdr watch --exec COMMAND: a command run once for each alarm, by
// /bin/sh -c, with the alarm as written on standard output (a line of
// text, or of JSON with --json) on its standard input and in its
// environment:
//
//   PKTAV_ALARM          the whole line, without its line feed
//   PKTAV_ALARM_RULE, _KIND, _STATE, _TIME, _STATION, _TRUNK, _DIALLED,
//   _DETAIL, _FILE, _LINENO, _LINE   its members (empty where it has none)
//
// Its standard output and error go to the watch's standard error, never
// among the alarms. A command that fails, cannot be started or runs longer
// than its time-out (killed, with what it started) is told on standard
// error; the watch goes on, and the alarm is on standard output whatever
// the command did.
#pragma once

#include <string>
#include <vector>

#include "cdr/alarmout.h"

// Writes each alarm to standard output as the alarmwriter does, then
// keeps what the command needs of it until run().
class alarmhook : public alarmsink {
 public:
  // An empty command: the alarms are only written.
  alarmhook(outbuf& out, tzone& zone, bool json, std::string command, int timeout);
  void take(const watchalarm& a) override;

  // Writes out the alarms taken; false, told on standard error, when
  // standard output cannot be written.
  bool flush();
  // Runs the command for each alarm taken since, one after the other.
  void run();

  uint64_t failures = 0;  // commands that failed, timed out or could not start

 private:
  struct job {
    std::string line;
    std::vector<std::string> env;
  };
  void runone(const job& j);

  outbuf& out_;
  tzone& zone_;
  alarmwriter writer_;
  std::string command_;
  int timeout_;
  std::vector<job> jobs_;
};
