// The digit conversions read eight characters at a time; each must give
// what the plain character loop below gives, for any bytes and any length.
// The texts live in buffers of exactly the length that may be read, so a
// sanitizer build also catches a read past them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "packer/bcd.h"

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

// Bytes that word tricks confuse most easily: the neighbours of '0' and '9'
// in the low and the high half of the byte range, blanks, signs and NULs.
const char nearby[] = {'0',    '1',    '5',    '8',           '9',    ' ',    '/',
                       ':',    '?',    '-',    '\0',          '\x7f', '\x80', '\xb0',
                       '\xb9', '\xba', '\xff', '\x30' + 0x10, '\x20'};

class Texts {
 public:
  explicit Texts(unsigned seed) : gen_(seed) {}

  // A random text of n bytes: any byte, the bytes above, or runs of digits
  // between blanks, as the records carry them.
  std::vector<char> make(size_t n) {
    std::vector<char> text(n);
    int shape = static_cast<int>(gen_() % 4);
    for (char& c : text) {
      if (shape == 0) c = static_cast<char>(gen_());
      if (shape == 1) c = nearby[gen_() % sizeof nearby];
      if (shape == 2) c = static_cast<char>(gen_() % 3 ? '0' + gen_() % 10 : ' ');
      if (shape == 3) c = static_cast<char>('0' + gen_() % 10);
    }
    if (shape == 3 && n > 0) {  // one run of digits, the rest blank
      size_t a = gen_() % n, b = gen_() % n;
      for (size_t i = 0; i < n; ++i)
        if (i < std::min(a, b) || i > std::max(a, b)) text[i] = ' ';
    }
    return text;
  }

  unsigned next() { return static_cast<unsigned>(gen_()); }

 private:
  std::mt19937 gen_;
};

uint32_t refcnvbcd(const char* text, int len) {
  std::string digits;
  for (int i = 0; i < std::min(len, 6); ++i)
    if (digit(text[i])) digits += text[i];
  uint32_t packed = 0;
  for (char c : digits) packed = packed << 4 | static_cast<uint32_t>(c - '0');
  return packed;
}

uint32_t cnvbcdof(const char* text, int len) {
  uint8_t out[3];
  cnvbcd(out, text, len);
  return static_cast<uint32_t>(out[0] << 16 | out[1] << 8 | out[2]);
}

// Every six-character text over the troublesome bytes, and random ones of
// every length with every byte value.
TEST(BcdWordwise, CnvbcdAsTheCharacterLoop) {
  const char alphabet[] = {'0', '9', ' ', '/', ':', '\0', '\xb5'};
  constexpr int k = sizeof alphabet;
  char text[6];
  for (int code = 0; code < k * k * k * k * k * k; ++code) {
    for (int i = 0, c = code; i < 6; ++i, c /= k) text[i] = alphabet[c % k];
    ASSERT_EQ(cnvbcdof(text, 6), refcnvbcd(text, 6)) << std::string(text, 6);
  }
  Texts texts(11);
  for (int round = 0; round < 100000; ++round) {
    int len = static_cast<int>(texts.next() % 12) - 3;
    std::vector<char> t = texts.make(static_cast<size_t>(std::max(len, 0)));
    ASSERT_EQ(cnvbcdof(t.data(), len), refcnvbcd(t.data(), len))
        << std::string(t.begin(), t.end()) << " len " << len;
  }
}

TEST(BcdWordwise, CountdigitsAsTheCharacterLoop) {
  Texts texts(13);
  for (int round = 0; round < 100000; ++round) {
    int n = static_cast<int>(texts.next() % 44) - 3;
    std::vector<char> t = texts.make(static_cast<size_t>(std::max(n, 0)));
    int want = 0;
    for (int i = 0; i < n; ++i) want += digit(t[static_cast<size_t>(i)]);
    ASSERT_EQ(countdigits(t.data(), n), want) << std::string(t.begin(), t.end()) << " n " << n;
  }
}

}  // namespace
