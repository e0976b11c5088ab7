#include "diag.h"

#include <cstdarg>
#include <cstdio>

namespace {

bool midline = false;  // the last text written to standard error left a line open

void vappend(std::string& s, const char* fmt, va_list ap) {
  char buf[512];
  va_list again;
  va_copy(again, ap);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  if (n > 0 && static_cast<size_t>(n) < sizeof buf) {
    s.append(buf, static_cast<size_t>(n));
  } else if (n > 0) {
    size_t at = s.size();
    s.resize(at + static_cast<size_t>(n) + 1);
    vsnprintf(&s[at], static_cast<size_t>(n) + 1, fmt, again);
    s.resize(at + static_cast<size_t>(n));
  }
  va_end(again);
}

}  // namespace

void errf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  verrf(fmt, ap);
  va_end(ap);
}

void verrf(const char* fmt, va_list ap) {
  std::string text;
  vappend(text, fmt, ap);
  if (text.empty()) return;
  // Standard error is unbuffered: one fwrite is one write(2).
  fwrite(text.data(), 1, text.size(), stderr);
  fflush(stderr);
  midline = text.back() != '\n';
}

void endline() {
  if (midline) errf("\n");
}

void appendf(std::string& s, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vappend(s, fmt, ap);
  va_end(ap);
}
