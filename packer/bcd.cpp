#include "bcd.h"

#include <cstdint>
#include <cstring>

namespace {

const char nibbles[] = "0123456789ABCDEF";
char bcdtext[7];
char substrbuf[256];

bool isdigitc(char c) { return c >= '0' && c <= '9'; }
bool isblankc(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// atoi's reading of at most len characters of text; a NUL ends it earlier,
// as it is neither blank, sign nor digit.
uint32_t readdecimal(const char* text, size_t len, bool* nonzero) {
  size_t i = 0;
  while (i < len && isblankc(text[i])) ++i;
  bool negative = i < len && text[i] == '-';
  if (i < len && (text[i] == '-' || text[i] == '+')) ++i;
  uint32_t value = 0;
  bool any = false;
  for (; i < len && isdigitc(text[i]); ++i) {
    value = value * 10 + static_cast<uint32_t>(text[i] - '0');
    any = any || text[i] != '0';
  }
  if (nonzero) *nonzero = any;
  return negative ? 0u - value : value;
}

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
  // Each digit found moves those before it one nibble up.
  uint32_t packed = 0;
  for (int i = 0; i < len && i < 6; ++i)
    if (isdigitc(text[i])) packed = packed << 4 | static_cast<uint32_t>(text[i] - '0');
  dst[0] = static_cast<uint8_t>(packed >> 16);
  dst[1] = static_cast<uint8_t>(packed >> 8);
  dst[2] = static_cast<uint8_t>(packed);
}

char* substr(const char* text, uint16_t off, uint16_t len) {
  if (len > 255) len = 255;
  memcpy(substrbuf, text + off, len);
  substrbuf[len] = '\0';
  return substrbuf;
}

uint32_t atoimod(const char* text, bool* nonzero) { return readdecimal(text, SIZE_MAX, nonzero); }

// Read in place: a copy of the characters (substr) was the dearer part.
uint16_t cnvbin(const char* text, uint16_t len) {
  return static_cast<uint16_t>(readdecimal(text, len > 255 ? 255 : len, nullptr));
}

void ddltor(const char* field, int len) {
  int n = len > 24 ? 24 : (len < 0 ? 0 : len);
  memset(ddigits, ' ', 24);
  ddigits[24] = '\0';
  char* out = ddigits + 24;
  for (const char* p = field + len; p != field + len - n;)
    if (char c = *--p; isdigitc(c)) *--out = c;
}

void c_dto8(const char* src, char* dst) { memcpy(dst, src, 25); }

void c_8tod(char* dst, const char* src) { memcpy(dst, src, 25); }
