// The commands of pktav-cdr: one row each in the table of commands.cpp,
// which the option parser, --help, the usage messages and main() read.
#pragma once

#include <span>
#include <string_view>

#include "cdr/options.h"

struct cdrcommand {
  const char* name;
  int (*run)(const cdroptions& o);  // returns the program's exit code
  const char* synopsis;             // what follows "pktav-cdr NAME " in the usage
  const char* help;                 // --help between the usage line and the common options
  unsigned options = 0;             // cdropt bits: what it takes beyond the common options
  const char* formats = nullptr;    // --format's words, "a|b", the first the default
  // The rules of its line that no single option knows: the message of the
  // first one broken, or nullptr.
  const char* (*check)(const cdroptions& o) = nullptr;
  bool nostore = false;  // takes no STORE or FILE operand
};

// The table, in the order of the usage message.
std::span<const cdrcommand> commands();
// The row of that name, or nullptr.
const cdrcommand* findcommand(std::string_view name);

int runquery(const cdroptions& o);
int runreport(const cdroptions& o);
int runaudit(const cdroptions& o);
int runbill(const cdroptions& o);
int runcheck(const cdroptions& o);
int runload(const cdroptions& o);
int runwatch(const cdroptions& o);
