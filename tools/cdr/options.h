// The command line of pktav-cdr:
//
//   pktav-cdr query  [options] STORE|FILE...
//   pktav-cdr report [options] STORE|FILE...
//   pktav-cdr audit  [options] STORE|FILE... [--raw LOG --packer PROGRAM [-- OPTION...]]
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cdr/select.h"

struct cdroptions {
  enum class command { query, report, audit } cmd = command::query;
  std::vector<std::string> inputs;  // store directories or hour files
  std::string tz;                   // empty: the machine's zone
  bool strictdst = false;
  std::optional<timebound> from, to;
  std::optional<numrange> station, trunk;
  std::string dialled;
  std::string flags;              // as given to --flags
  std::string format;             // query: csv, json; report: text, csv
  std::string html;               // report --html
  bool json = false;              // audit --json
  std::vector<std::string> raws;  // audit --raw, in the order the packer read them
  std::string packer;
  std::vector<std::string> packeroptions;
};

enum class parseresult { run, done, usage };

// Reads argv into *o. `done` when --help or --version was answered (on
// standard output), `usage` when the line is wrong (message written).
parseresult parseoptions(int argc, char** argv, cdroptions* o);
