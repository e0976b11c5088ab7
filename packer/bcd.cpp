#include "bcd.h"

#include <cstring>

namespace {

const char nibbles[] = "0123456789ABCDEF";
char bcdtext[7];
char substrbuf[256];

bool isdigitc(char c) { return c >= '0' && c <= '9'; }
bool isblankc(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

char ddigits[25];

const char* bcd2a(const uint8_t* bcd) {
  for (int i = 0; i < 3; ++i) {
    bcdtext[2 * i] = nibbles[bcd[i] >> 4];
    bcdtext[2 * i + 1] = nibbles[bcd[i] & 0x0f];
  }
  bcdtext[6] = '\0';
  return bcdtext;
}

const char* bcd2asc(const uint8_t* bcd) {
  const char* p = bcd2a(bcd);
  for (int skipped = 0; skipped < 5 && *p == '0'; ++skipped) ++p;
  return p;
}

void cnvbcd(uint8_t* dst, const char* text, int len) {
  dst[0] = dst[1] = dst[2] = 0;
  int nibble = 0;  // 0 is the low nibble of dst[2], 5 the high nibble of dst[0]
  for (int i = (len > 6 ? 6 : len) - 1; i >= 0 && nibble < 6; --i) {
    if (!isdigitc(text[i])) continue;
    uint8_t digit = static_cast<uint8_t>(text[i] - '0');
    uint8_t& byte = dst[2 - nibble / 2];
    byte |= (nibble % 2) ? static_cast<uint8_t>(digit << 4) : digit;
    ++nibble;
  }
}

char* substr(const char* text, uint16_t off, uint16_t len) {
  if (len > 255) len = 255;
  memcpy(substrbuf, text + off, len);
  substrbuf[len] = '\0';
  return substrbuf;
}

uint32_t atoimod(const char* text, bool* nonzero) {
  const char* p = text;
  while (isblankc(*p)) ++p;
  bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint32_t value = 0;
  bool any = false;
  for (; isdigitc(*p); ++p) {
    value = value * 10 + static_cast<uint32_t>(*p - '0');
    any = any || *p != '0';
  }
  if (nonzero) *nonzero = any;
  return negative ? 0u - value : value;
}

uint16_t cnvbin(const char* text, uint16_t len) {
  return static_cast<uint16_t>(atoimod(substr(text, 0, len)));
}

void ddltor(const char* field, int len) {
  int n = len > 24 ? 24 : (len < 0 ? 0 : len);
  int pos = 23;
  for (int i = len - 1; i >= len - n; --i)
    if (isdigitc(field[i])) ddigits[pos--] = field[i];
  while (pos >= 0) ddigits[pos--] = ' ';
  ddigits[24] = '\0';
}

void c_dto8(const char* src, char* dst) { memcpy(dst, src, 25); }

void c_8tod(char* dst, const char* src) { memcpy(dst, src, 25); }
