#include "tools/common/diag.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "tools/common/civil.h"
#include "tools/common/writeall.h"

std::string vformat(const char* fmt, va_list ap) {
  va_list again;
  va_copy(again, ap);
  char small[256];
  int n = vsnprintf(small, sizeof small, fmt, ap);
  std::string text;
  if (n < 0) {
    text = fmt;  // an encoding error: the format at least tells what happened
  } else if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    text.resize(static_cast<size_t>(n) + 1);
    vsnprintf(text.data(), text.size(), fmt, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string text = vformat(fmt, ap);
  va_end(ap);
  return text;
}

void writeline(std::string line) {
  line += '\n';
  int saved = errno;
  (void)writeall(STDERR_FILENO, line.data(), line.size());
  errno = saved;
}

void warnx(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  writeline(std::string(progname) + ": " + vformat(fmt, ap));
  va_end(ap);
}

void warn(const char* fmt, ...) {
  std::string why = strerror(errno);
  va_list ap;
  va_start(ap, fmt);
  writeline(std::string(progname) + ": " + vformat(fmt, ap) + ": " + why);
  va_end(ap);
}

void stampedwarnx(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  writeline(isotime(time(nullptr)) + " " + progname + ": " + vformat(fmt, ap));
  va_end(ap);
}
