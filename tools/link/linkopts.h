// The command line of the link keeper:
//
//   pktav-link [options] SOURCE -- PROGRAM [ARGUMENTS...]
#pragma once

#include <termios.h>

#include <string>
#include <vector>

#include "tools/common/address.h"
#include "tools/link/allow.h"

// Where the exchange's bytes come from.
struct linksource {
  enum { connect, listen, device } kind = connect;
  netaddress net;    // connect: the exchange or terminal server; listen: the local address
  std::string path;  // device
  std::string text;  // as given, for messages
};

// SOURCE: HOST:PORT or [IPV6]:PORT to connect to, listen:ADDRESS:PORT to
// accept on, or a path (beginning with '/' or '.') of a device to read.
bool parsesource(const std::string& text, linksource* out, std::string* why);

// Line settings for a serial device. Without them the settings the device
// has when it is first opened are kept and put back on every reopening.
struct lineconfig {
  bool given = false;
  speed_t speed = B9600;
  int bits = 8;
  char parity = 'N';  // N, E or O
  int stopbits = 1;
};

// "9600" and the like; false for a speed termios has no constant for.
bool parsespeed(const std::string& text, speed_t* out);
// "8N1", "7E1" and the like.
bool parseframing(const std::string& text, lineconfig* out);

struct linkoptions {
  linksource source;
  allowlist allow;
  double retrymin = 1, retrymax = 30;  // seconds between attempts
  int deadafter = 120;                 // seconds until a TCP peer that answers nothing is given up
  int giveway = 30;                    // listen: seconds a peer may be silent before a new one wins
  lineconfig line;
  int endbyte = -1;  // the byte ending the exchange's records; -1: bytes pass as they come
  std::vector<std::string> program;
  bool check = false;   // --check: the settings are checked, nothing is run
  std::string metrics;  // the metrics file; empty: none
  std::string site;     // the label site of the metrics; empty: none
};

enum class linkparse { run, help, version, bad };

// Reads the command line; `why` says what is wrong with a bad one. `check`
// is set for --check anywhere before the first "--", even when an earlier
// option is bad.
linkparse parselinkoptions(int argc, char** argv, linkoptions* o, std::string* why);

// Whether --check is among the options.
bool wantscheck(int argc, char** argv);

extern const char* const linkusage;
