// The digits are counted eight characters at a time; the count must be
// the plain character loop's, for any bytes and any length.
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
