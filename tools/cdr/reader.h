// Reads the calls of hour files: each line parsed strictly, its end time
// placed in the zone. A line that is not a well-formed CDR line is passed
// on as such, with its file and number, and never guessed at.
//
// When clocks go back, one wall-clock hour happens twice and both land in
// the same hour file. The file's lines are in the order they were written;
// if the lines of the repeated hour step back in time exactly once, those
// before the step are taken as the first pass of the hour and those from
// it on as the second. That holds when the exchange printed the calls of
// that hour in the order they ended. In every other case (no step, more
// than one, the times in another hour's file, or `strictdst`), each such
// call is marked ambiguous and placed in the first pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cdr/callline.h"
#include "cdr/linereader.h"
#include "cdr/storewalk.h"
#include "cdr/zone.h"

struct readcall {
  cdrcall call;
  const hourfile* file = nullptr;
  long line = 0;
  std::string_view text;  // the line, without its line feed
  int64_t end = 0;        // the end as an instant, seconds since the epoch
  int endoffset = 0;      // the UTC offset of the end's wall time
  bool ambiguous = false;
  bool skipped = false;  // a wall time the zone never shows

  int64_t start() const { return end - int64_t{call.ticks} * tick_seconds; }
};

class callsink {
 public:
  virtual ~callsink() = default;
  // A file begins: its lines follow.
  virtual void beginfile(const hourfile&) {}
  virtual void call(const readcall& c) = 0;
  // A line that is not a CDR line: torn, too long, or malformed for `why`.
  virtual void bad(const hourfile& f, long line, std::string_view text, const char* why) = 0;
  // A file or directory of a store that cannot be read, with its errno.
  virtual void unreadable(const std::string& path, int err) = 0;
  // An entry of a store that is no part of its tree, or a file in it that
  // is not a regular file, with what it is: not read.
  virtual void stray(const std::string& path, const char* what) = 0;

  // An operand that cannot be read at all (a store that does not exist, a
  // FIFO named as a file), with why: said on standard error by every
  // command, and the run ends with code 2.
  void badoperand(const std::string& path, const char* why);
  long operanderrors = 0;
};

class callreader {
 public:
  callreader(tzone& zone, bool strictdst) : zone_(zone), strictdst_(strictdst) {}

  // Tells the sink of the file, then passes it every line.
  void readfile(const hourfile& f, callsink& sink);

  // The same in steps, for a reader that goes on where it stopped: the
  // file opened with input().open(), then prepare() finds where the lines
  // of a repeated hour step back over the whole file (the line number of
  // the second pass, 0 when none is proven), and readfrom() passes the
  // lines from byte `offset` on, numbered after `before` earlier ones, to
  // the sink. Only the file's whole content tells the step; a file read
  // in parts takes the step of its latest content.
  long prepare(const hourfile& f);
  void readfrom(const hourfile& f, callsink& sink, int64_t offset, long before);
  linereader& input() { return in_; }
  // The line being passed to the sink: its offsets, whether it is torn.
  const linereader::line& current() const { return line_; }

 private:
  // Where the repeated hour's lines of this file step back in time: the
  // number of the first line of the second pass, or 0 if none is proven.
  long secondpass(const hourfile& f, int64_t lo, int64_t hi);
  // Tells the sink why the file could not be opened.
  void cannotopen(const hourfile& f, callsink& sink);

  tzone& zone_;
  bool strictdst_;
  linereader in_;
  linereader::line line_;
  int64_t lo_ = 0, hi_ = 0;  // the repeated wall times of the file's hour, if any
  long split_ = 0;
};
