#include "money.h"

#include "cdr/outbuf.h"

namespace {

bool isdigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

const char* parsemoney(std::string_view s, money* out) {
  if (!s.empty() && s[0] == '-') return "a negative price";
  size_t point = s.find('.');
  std::string_view whole = s.substr(0, point),
                   part = point == s.npos ? std::string_view() : s.substr(point + 1);
  bool digits = !whole.empty() && (point == s.npos || !part.empty());
  for (char c : whole) digits = digits && isdigit(c);
  for (char c : part) digits = digits && isdigit(c);
  if (!digits) return "not a price (digits, with up to four after a point)";
  if (part.size() > 4) return "a price with more than four decimal places";
  size_t lead = whole.find_first_not_of('0');
  if (lead != whole.npos && whole.size() - lead > 6) return "a price over 999999.9999";
  money m = 0;
  for (char c : whole) m = m * 10 + (c - '0');
  for (size_t i = 0; i < 4; ++i) m = m * 10 + (i < part.size() ? part[i] - '0' : 0);
  *out = m;
  return nullptr;
}

char* putmoney(char* p, money m, int places) {
  uint64_t v = m < 0 ? 0 - static_cast<uint64_t>(m) : static_cast<uint64_t>(m);
  if (m < 0) *p++ = '-';
  if (places == 2) v = (v + 50) / 100;
  uint64_t scale = places == 2 ? 100 : 10000;
  p = putdecimal(p, v / scale);
  *p++ = '.';
  auto part = static_cast<unsigned>(v % scale);
  if (places == 4) {
    *p++ = static_cast<char>('0' + part / 1000);
    *p++ = static_cast<char>('0' + part / 100 % 10);
  }
  *p++ = static_cast<char>('0' + part / 10 % 10);
  *p++ = static_cast<char>('0' + part % 10);
  return p;
}

std::string moneytext(money m, int places) {
  char buf[32];
  return std::string(buf, putmoney(buf, m, places));
}
