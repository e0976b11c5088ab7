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

// Eight characters at a time: a 64-bit word holds them with the first in its
// low byte, which a plain copy gives only on a little-endian machine; others
// take the character loops, which give the same results.
constexpr bool wordwise = std::endian::native == std::endian::little;
constexpr uint64_t ones = 0x0101010101010101;

// 0xff in each byte of w that holds a character '0' to '9', 0 in the others.
// x = w ^ '0' turns the digits, and only them, into bytes 0 to 9; a byte of x
// is more than 9 when its top bit is set or its low seven bits plus 0x76
// reach it. No sum carries into the next byte.
uint64_t digitbytes(uint64_t w) {
  uint64_t x = w ^ ones * '0';
  uint64_t over = (((x & ones * 0x7f) + ones * 0x76) | x) & ones * 0x80;
  return ~((over >> 7) * 0xff);
}

// The bytes from len characters of text in the low bytes of a word, zeros
// (not digits) above them; len <= 8. Only the len bytes are read.
uint64_t loadpart(const char* text, int len) {
  uint64_t w = 0;
  if (len == 8) {
    memcpy(&w, text, 8);
    return w;
  }
  for (int i = 0; i < len; ++i) w |= uint64_t{static_cast<uint8_t>(text[i])} << (8 * i);
  return w;
}

// cnvbcd's digits of len characters, one at a time, the last digit in the
// low nibble.
uint32_t packloop(const char* text, int len) {
  uint32_t packed = 0;
  int shift = 0;
  for (int i = len - 1; i >= 0; --i) {
    if (!isdigitc(text[i])) continue;
    packed |= static_cast<uint32_t>(text[i] - '0') << shift;
    shift += 4;
  }
  return packed;
}

// packloop of six characters. Numbers are digits alone, or one run of digits
// with blanks or a sign around it: the run is moved flush right in the word
// and its nibbles are paired by shifts. Other shapes take the loop.
uint32_t packsix(const char* text) {
  if (!wordwise) return packloop(text, 6);
  uint64_t w = 0;
  memcpy(&w, text, 6);
  uint64_t d = digitbytes(w) & 0xffffffffffff;
  if (d == 0) return 0;
  if ((d & (d + (d & (0 - d)))) != 0) return packloop(text, 6);  // more than one run
  // The run's last character goes to byte 5, the number's last digit.
  uint64_t v = (w & d & ones * 0x0f) << (std::countl_zero(d) - 16);
  // Byte 2k of t pairs the nibbles of bytes 2k and 2k+1 of v.
  uint64_t t = (v << 4) | (v >> 8);
  return static_cast<uint32_t>((t & 0xff) << 16 | (t >> 16 & 0xff) << 8 | (t >> 32 & 0xff));
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
  // The digits found, the last one in the low nibble.
  uint32_t packed = len >= 6 ? packsix(text) : packloop(text, len);
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
  if (!wordwise) {
    memset(ddigits, ' ', 24);
    ddigits[24] = '\0';
    char* out = ddigits + 24;
    for (const char* p = field + len; p != field + len - n;)
      if (char c = *--p; isdigitc(c)) *--out = c;
    return;
  }
  // Runs of digits, from the last, each stored as a whole word ending where
  // the digits so far begin, blanks in the bytes ahead of the run; the next
  // run overwrites those. Eight spare bytes lie ahead of the 24, as at most
  // 24 digits are placed.
  char buf[32];
  memset(buf, ' ', sizeof buf);
  int out = 32;
  constexpr uint64_t blanks = ones * ' ';
  for (int end = n; end > 0; end -= 8) {
    int k = end < 8 ? end : 8;
    uint64_t w = loadpart(field + (len - n) + (end - k), k);
    if (w == blanks) continue;  // most of a dialled field
    uint64_t d = digitbytes(w);
    if (d == ~uint64_t{0}) {  // eight digits
      out -= 8;
      memcpy(buf + out, &w, 8);
      continue;
    }
    while (d != 0) {
      unsigned s = static_cast<unsigned>(std::countl_zero(d));  // the run's last byte to the top
      unsigned r = static_cast<unsigned>(std::countl_one(d << s));  // its length in bits
      uint64_t keep = ~uint64_t{0} << (64 - r);                     // the run, at the top
      uint64_t run = ((w << s) & keep) | (blanks & ~keep);
      memcpy(buf + out - 8, &run, 8);
      out -= static_cast<int>(r / 8);
      d &= ~(keep >> s);
    }
  }
  memcpy(ddigits, buf + 8, 24);
  ddigits[24] = '\0';
}

int countdigits(const char* text, int n) {
  int count = 0;
  int i = 0;
  if (wordwise) {
    // Each digit byte of the mask adds one to the top byte of the product.
    for (; i + 8 <= n; i += 8)
      count += static_cast<int>(((digitbytes(loadpart(text + i, 8)) & ones) * ones) >> 56);
    if (i < n)
      return count +
             static_cast<int>(((digitbytes(loadpart(text + i, n - i)) & ones) * ones) >> 56);
  }
  for (; i < n; ++i) count += isdigitc(text[i]);
  return count;
}

void c_dto8(const char* src, char* dst) { memcpy(dst, src, 25); }

void c_8tod(char* dst, const char* src) { memcpy(dst, src, 25); }
