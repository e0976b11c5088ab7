#include "bcd.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace {

const char nibbles[] = "0123456789ABCDEF";
char bcdtext[7];
char substrbuf[256];

bool isdigitc(char c) { return c >= '0' && c <= '9'; }
bool isblankc(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Digits are counted eight characters at a time: a 64-bit word holds them
// with the first in its low byte, which a plain copy gives only on a
// little-endian machine; others take the character loop, which gives the
// same count.
constexpr bool wordwise = std::endian::native == std::endian::little;
constexpr uint64_t ones = 0x0101010101010101;
constexpr uint64_t blanks = ones * ' ';  // a charge or dialled field is mostly these

// 0x80 in each byte of w that holds anything but a character '0' to '9', 0
// in the others. x = w ^ '0' turns the digits, and only them, into bytes 0
// to 9; a byte of x is more than 9 when its top bit is set or its low seven
// bits plus 0x76 reach it. No sum carries into the next byte.
uint64_t nondigits(uint64_t w) {
  uint64_t x = w ^ ones * '0';
  return (((x & ones * 0x7f) + ones * 0x76) | x) & ones * 0x80;
}

// How many bytes of w are digits.
int digitsin(uint64_t w) { return static_cast<int>((((~nondigits(w) >> 7) & ones) * ones) >> 56); }

uint64_t load8(const char* text) {
  uint64_t w;
  memcpy(&w, text, 8);
  return w;
}

// The bytes of len characters of text in the low bytes of a word, zeros (not
// digits) above them; 0 <= len <= 8. Only the len bytes are read: two loads
// that overlap, or for fewer than four bytes the first, middle and last.
uint64_t loadpart(const char* text, int len) {
  if (len == 8) return load8(text);
  if (len >= 4) {
    uint32_t lo, hi;
    memcpy(&lo, text, 4);
    memcpy(&hi, text + len - 4, 4);
    return lo | uint64_t{hi} << (8 * (len - 4));
  }
  if (len == 0) return 0;
  auto byte = [text](int i) { return uint64_t{static_cast<uint8_t>(text[i])} << (8 * i); };
  return byte(0) | byte(len / 2) | byte(len - 1);
}

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

int countdigits(const char* text, int n) {
  if (!wordwise) {
    int count = 0;
    for (int i = 0; i < n; ++i) count += isdigitc(text[i]);
    return count;
  }
  int count = 0;
  int i = 0;
  for (; i + 8 <= n; i += 8)
    if (uint64_t w = load8(text + i); w != blanks) count += digitsin(w);
  // The last few, zeros above them: from the last eight characters where
  // there are eight, which costs less than loading the few.
  if (int few = n - i; few > 0) {
    uint64_t w = i > 0 ? load8(text + n - 8) >> (8 * (8 - few)) : loadpart(text, few);
    if (w != blanks >> (8 * (8 - few))) count += digitsin(w);
  }
  return count;
}

void c_dto8(const char* src, char* dst) { memcpy(dst, src, 25); }

void c_8tod(char* dst, const char* src) { memcpy(dst, src, 25); }
