#include "tools/common/numbers.h"

#include <cstdlib>
#include <string>

bool parsecount(std::string_view text, uint64_t* out, size_t maxdigits) {
  if (text.empty() || text.size() > maxdigits) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (n > (UINT64_MAX - digit) / 10) return false;
    n = n * 10 + digit;
  }
  *out = n;
  return true;
}

bool parsedecimal(std::string_view text, double* out) {
  size_t digits = 0, points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9')
      ++digits;
    else if (c == '.')
      ++points;
    else
      return false;
  }
  if (digits == 0 || points > 1) return false;
  *out = std::strtod(std::string(text).c_str(), nullptr);
  return true;
}

bool parsehex(std::string_view text, uint64_t* out, size_t maxdigits) {
  if (text.empty() || text.size() > maxdigits || maxdigits > 16) return false;
  uint64_t n = 0;
  for (char c : text) {
    int v = c >= '0' && c <= '9'   ? c - '0'
            : c >= 'a' && c <= 'f' ? c - 'a' + 10
            : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                   : -1;
    if (v < 0) return false;
    n = n * 16 + static_cast<uint64_t>(v);
  }
  *out = n;
  return true;
}
