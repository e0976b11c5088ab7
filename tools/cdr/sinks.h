// What the commands share between their inputs and their outputs: the
// selection their options ask for, the reading of the inputs into a sink,
// warnings of lines that are not calls, the last flush of standard output
// and the exit code.
#pragma once

#include <cstdint>

#include "cdr/options.h"
#include "cdr/outbuf.h"
#include "cdr/reader.h"
#include "cdr/select.h"
#include "cdr/zone.h"

// The selection the options ask for, times read in the zone. Throws
// std::runtime_error for a period that ends before it begins.
selection makeselection(const cdroptions& o, tzone& zone);

// Reads every hour file of the inputs that can hold calls of the
// selection's period, widened by `margin` seconds either side, into the
// sink (see forinputs).
void readinputs(const cdroptions& o, tzone& zone, const selection& sel, callsink& sink,
                int64_t margin = 3600);

// Passes bad lines, unreadable files and strays to standard error and
// counts them.
class warnsink : public callsink {
 public:
  void bad(const hourfile& f, long line, std::string_view text, const char* why) override;
  void unreadable(const std::string& path, int err) override;
  void stray(const std::string& path, const char* what) override;
  long problems = 0;
};

// How a command that read its inputs into `sink` ends when all else went
// well: 2 for an input that could not be read at all, 1 for what was left
// out, else 0.
int exitcode(const callsink& sink, long leftout);

// Hands the calls the selection takes to `take`, a function of a readcall.
template <typename Take>
class selectsink : public warnsink {
 public:
  selectsink(const selection& s, Take take) : sel_(s), take_(take) {}
  void call(const readcall& c) override {
    if (sel_.matches(c)) take_(c);
  }

 private:
  const selection& sel_;
  Take take_;
};

// Writes out what is left in the buffer of standard output; false, with
// the reason on standard error, when it could not be written.
bool flushed(outbuf& out);
