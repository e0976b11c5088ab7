// The command line of pktav-cdr:
//
//   pktav-cdr COMMAND [options] OPERAND...
//
// The commands, with the options each takes, are the table in commands.cpp;
// this unit knows every option and reads the line by that table.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cdr/select.h"

struct cdrcommand;

// The options a command takes beyond those every one does (--from, --to,
// --tz, --strict-dst, --help, --version), as bits of its row.
enum cdropt : unsigned {
  opt_format = 1u << 0,
  opt_station = 1u << 1,
  opt_trunk = 1u << 2,
  opt_dialled = 1u << 3,
  opt_flags = 1u << 4,
  opt_html = 1u << 5,
  opt_json = 1u << 6,
  opt_raw = 1u << 7,
  opt_packer = 1u << 8,
  opt_tariff = 1u << 9,
  opt_directory = 1u << 10,
  opt_department = 1u << 11,
  opt_eachdepartment = 1u << 12,
  opt_site = 1u << 13,
  opt_follow = 1u << 14,
  opt_db = 1u << 15,
  opt_batch = 1u << 16,
  opt_rules = 1u << 17,
  opt_reprice = 1u << 18,
  opt_state = 1u << 19,
  opt_exec = 1u << 20,
  opt_metrics = 1u << 21,
};
// What a selection of calls takes besides the period.
inline constexpr unsigned opts_select = opt_station | opt_trunk | opt_dialled | opt_flags;
// The files calls are priced and placed by.
inline constexpr unsigned opts_price = opt_tariff | opt_directory;

struct cdroptions {
  const cdrcommand* cmd = nullptr;
  std::vector<std::string> inputs;  // store directories or hour files (load: DATABASE STORE)
  std::string tz;                   // empty: the machine's zone
  bool strictdst = false;
  std::optional<timebound> from, to;
  std::optional<numrange> station, trunk;
  std::string dialled;
  std::string flags;              // as given to --flags
  std::string format;             // one of the command's formats; the first by default
  std::string html;               // report --html
  bool json = false;              // audit, watch --json
  std::vector<std::string> raws;  // audit --raw, in the order the packer read them
  std::string packer;
  std::vector<std::string> packeroptions;  // the words after "--"
  std::string tariff, directory;           // --tariff, --directory
  std::string department;                  // bill --department
  bool eachdepartment = false;             // bill --each-department
  std::string site;               // load, audit --db: the site's name
  bool follow = false;            // load, watch --follow
  bool reprice = false;           // load --reprice
  std::string db;                 // audit --db
  long batch = 50000;             // load --batch: rows a transaction
  std::string rules;              // watch, check --rules
  std::string state;              // watch --state: where a follow goes on after a restart
  std::string exec;               // watch --exec: a command for each alarm
  long exectimeout = 30;          // watch --exec-timeout, in seconds
  std::string metrics;            // watch --metrics
};

enum class parseresult { run, done, usage };

// Reads argv into *o. `done` when --help or --version was answered (on
// standard output), `usage` when the line is wrong (message written).
parseresult parseoptions(int argc, char** argv, cdroptions* o);
