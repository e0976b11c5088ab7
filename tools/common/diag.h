// Messages on standard error: "NAME: TEXT" with the program's name, each
// line in one write so that the lines of several programs sharing one log
// never run into each other. No length limit: a long path never costs a
// message its reason.
#pragma once

#include <cstdarg>
#include <string>

// The program's name, defined once by each program (its library, so that
// its tests say the same).
extern const char* const progname;

// "NAME: TEXT".
[[gnu::format(printf, 1, 2)]] void warnx(const char* fmt, ...);
// "NAME: TEXT: <the text of errno>".
[[gnu::format(printf, 1, 2)]] void warn(const char* fmt, ...);
// "<local time, ISO 8601> NAME: TEXT", for the log of a long-running program.
[[gnu::format(printf, 1, 2)]] void stampedwarnx(const char* fmt, ...);

// printf into a string of whatever length it takes.
[[gnu::format(printf, 1, 0)]] std::string vformat(const char* fmt, va_list ap);
[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...);

// Writes one line (a line feed is added) to standard error in one write.
void writeline(std::string line);
