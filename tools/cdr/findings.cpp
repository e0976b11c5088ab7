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
    // Piece by piece: GCC 12 at -O3 sees false overlaps in long chains of +.
    out_.put("\",\"file\":");
    out_.put(jsonstring(file));
    out_.put(",\"line\":");
    out_.putnum(static_cast<uint64_t>(line));
    out_.put(",\"detail\":");
    out_.put(jsonstring(detail));
    out_.put(",\"text\":");
    out_.put(jsonstring(text));
    out_.put("}\n");
    return;
  }
  out_.put(kind);
  out_.put(' ');
  out_.put(file);
  if (line > 0) {
    out_.put(':');
    out_.putnum(static_cast<uint64_t>(line));
  }
  out_.put(": ");
  out_.put(detail);
  if (!text.empty()) {
    out_.put(": \"");
    out_.put(printable(text));
    out_.put('"');
  }
  out_.put('\n');
}
