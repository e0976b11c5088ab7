// The alarms of pktav-cdr watch as it writes them, one a line: as text
//
//   TIME RULE KIND STATE[ station S][ trunk T][ dialled D]: DETAIL[: FILE:LINENO: "LINE"]
//
// or, with --json, one JSON object a line with the members time, rule,
// kind, state, station, trunk, dialled, detail, file, lineno and line
// (null where the alarm has none: file, lineno and line are the CDR line
// of the call an alarm is about). TIME is ISO 8601 with its UTC offset.
#pragma once

#include "cdr/alarms.h"
#include "cdr/outbuf.h"

class alarmwriter : public alarmsink {
 public:
  alarmwriter(outbuf& out, tzone& zone, bool json) : out_(out), zone_(zone), json_(json) {}
  void take(const watchalarm& a) override;

 private:
  void text(const watchalarm& a);
  void json(const watchalarm& a);

  outbuf& out_;
  tzone& zone_;
  bool json_;
};

// "raised" or "cleared".
const char* statename(alarmstate s);
