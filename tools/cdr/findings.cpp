#include "findings.h"

#include <cstdio>

#include "cdr/diag.h"

std::string jsonstring(std::string_view s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      // Store lines are ASCII; anything else is shown byte by byte.
      char hex[8];
      snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

void findings::add(const char* kind, const std::string& file, long line, const std::string& detail,
                   std::string_view text) {
  ++count_;
  if (json_) {
    out_.put("{\"kind\":\"");
    out_.put(kind);
    out_.put("\",\"file\":" + jsonstring(file) + ",\"line\":" + std::to_string(line) +
             ",\"detail\":" + jsonstring(detail) + ",\"text\":" + jsonstring(text) + "}\n");
    return;
  }
  out_.put(kind);
  out_.put(' ');
  out_.put(file);
  if (line > 0) out_.put(":" + std::to_string(line));
  out_.put(": " + detail);
  if (!text.empty()) out_.put(": \"" + printable(text) + "\"");
  out_.put('\n');
}
