// The three commands; each returns the program's exit code.
#pragma once

#include "cdr/options.h"
#include "cdr/select.h"
#include "cdr/zone.h"

int runquery(const cdroptions& o);
int runreport(const cdroptions& o);
int runaudit(const cdroptions& o);

// The selection the options ask for, times read in the zone.
selection makeselection(const cdroptions& o, tzone& zone);

// Passes bad lines and unreadable files to standard error and counts them.
class warnsink : public callsink {
 public:
  void bad(const hourfile& f, long line, std::string_view text, const char* why) override;
  void unreadable(const std::string& path, int err) override;
  long problems = 0;
};
