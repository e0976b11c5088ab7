#include "diag.h"

#include <cstdio>

const char* const progname = "pktav-cdr";

std::string printable(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

void warnbadline(const hourfile& f, long line, std::string_view text, const char* why) {
  warnx("%s:%ld: %s: \"%s\"", f.path.c_str(), line, why, printable(text).c_str());
}
