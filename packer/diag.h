// Diagnostics: everything goes to standard error and is flushed at once.
#pragma once

#include <cstdarg>

// Writes one formatted text to standard error as a single write and
// flushes it, so that no other output can split it.
[[gnu::format(printf, 1, 2)]] void errf(const char* fmt, ...);
[[gnu::format(printf, 1, 0)]] void verrf(const char* fmt, va_list ap);

// Ends the line that earlier output left open, so that a message written at
// an arbitrary moment (a signal's work) starts a line of its own.
void endline();

#include <string>

// Appends formatted text to s.
[[gnu::format(printf, 2, 3)]] void appendf(std::string& s, const char* fmt, ...);
