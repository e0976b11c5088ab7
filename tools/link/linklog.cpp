#include "tools/link/linklog.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

std::string isotime(time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[40];
  size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  long off = tm.tm_gmtoff / 60;
  snprintf(text + n, sizeof text - n, "%c%02ld:%02ld", off < 0 ? '-' : '+', labs(off) / 60,
           labs(off) % 60);
  return text;
}

void report(const char* format, ...) {
  char line[1024];
  int n = snprintf(line, sizeof line, "%s pktav-link: ", isotime(time(nullptr)).c_str());
  va_list ap;
  va_start(ap, format);
  n += vsnprintf(line + n, sizeof line - static_cast<size_t>(n), format, ap);
  va_end(ap);
  if (n > static_cast<int>(sizeof line) - 2) n = static_cast<int>(sizeof line) - 2;
  line[n++] = '\n';
  (void)!write(STDERR_FILENO, line, static_cast<size_t>(n));
}
