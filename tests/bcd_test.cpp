// Digit conversions: BCD numbers, number fields and dialled digits.
#include "packer/bcd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "pabx/rawrec.h"

namespace {

std::string bytes(const uint8_t* b) {
  char s[7];
  snprintf(s, sizeof s, "%02x%02x%02x", b[0], b[1], b[2]);
  return s;
}

TEST(Bcd, NibblesShowAsDigitsAndCapitalLetters) {
  struct {
    uint8_t in[3];
    const char* a;
    const char* asc;
  } cases[] = {
      {{0x1A, 0xFF, 0x00}, "1AFF00", "1AFF00"}, {{0x00, 0x00, 0x05}, "000005", "5"},
      {{0x00, 0x00, 0x00}, "000000", "0"},      {{0x00, 0x01, 0x20}, "000120", "120"},
      {{0x00, 0x0A, 0x00}, "000A00", "A00"},    {{0x10, 0x02, 0x00}, "100200", "100200"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(bcd2a(c.in), c.a);
    EXPECT_STREQ(bcd2asc(c.in), c.asc);
  }
}

TEST(Bcd, CnvbcdTakesTheDigitsOfTheFirstSixCharactersRightAligned) {
  struct {
    const char* text;
    int len;
    const char* want;
  } cases[] = {
      {"1234", 4, "001234"},       {"12-34", 5, "001234"},   {"1234567", 7, "123456"},
      {"9", 1, "000009"},          {"      ", 6, "000000"},  {"123", 0, "000000"},
      {"123", -3, "000000"},       {"000199", 6, "000199"},  {" 4 2 0", 6, "000420"},
      {"12345678", 8, "123456"},   {"ab", 2, "000000"},      {"a1b2c3", 6, "000123"},
      {"98765\x004", 6, "098765"}, {"9876543", 6, "987654"},
      // Neighbours of the digits and bytes above 127 are skipped too.
      {"/0:9/", 5, "000009"},      {"\xb5\xff" "12\x80" "3", 6, "000123"},
  };
  for (const auto& c : cases) {
    uint8_t out[3] = {0xff, 0xff, 0xff};
    cnvbcd(out, c.text, c.len);
    EXPECT_EQ(bytes(out), c.want) << c.text << " len " << c.len;
  }
}

TEST(Bcd, CnvbinReadsLikeAtoiCutTo16Bits) {
  struct {
    const char* text;
    uint16_t len;
    uint16_t want;
  } cases[] = {
      {"08", 2, 8},
      {"  ", 2, 0},
      {" 7", 2, 7},
      {"1x", 2, 1},
      {"0003", 4, 3},
      {"123456", 3, 123},
      {"-1", 2, 65535},
      {"+5", 2, 5},
      {"65537", 5, 1},  // Far beyond int: the true value modulo 2^16, never undefined.
      {"99999999999999999999", 20, 65535},
  };
  for (const auto& c : cases) EXPECT_EQ(cnvbin(c.text, c.len), c.want) << c.text;
}

// cnvbin reads the characters where they stand; it must read them as
// atoimod reads a copy of them (NULs included, at most 255).
TEST(Bcd, CnvbinReadsAsAtoimodOfACopy) {
  const char alphabet[] = "0123456789        \t\n\v\f\r+-x\0";
  std::mt19937 gen(7);
  for (int round = 0; round < 20000; ++round) {
    std::string text(1 + gen() % 300, ' ');
    for (char& c : text) c = alphabet[gen() % (sizeof alphabet)];
    auto len = static_cast<uint16_t>(gen() % (text.size() + 1));
    uint16_t want = static_cast<uint16_t>(atoimod(substr(text.data(), 0, len)));
    ASSERT_EQ(cnvbin(text.data(), len), want) << "round " << round;
  }
}

// A number field of a raw record is read as cnvbin reads it, digits alone
// or not.
TEST(Bcd, NumberFieldsReadAsCnvbin) {
  const char alphabet[] = "0123456789 -+a";
  std::mt19937 gen(8);
  inpptr = 255;
  rawrec rec(255);
  for (int round = 0; round < 20000; ++round) {
    for (uint8_t& b : rawbuf) b = static_cast<uint8_t>(alphabet[gen() % (sizeof alphabet - 1)]);
    if (gen() % 2) memset(rawbuf, '7', 12);  // digits alone, and long
    int len = static_cast<int>(gen() % 13);
    ASSERT_EQ(rec.number(0, len), cnvbin(rec.text(0), static_cast<uint16_t>(len)))
        << std::string(rec.text(0), static_cast<size_t>(len));
  }
}

TEST(Bcd, AtoimodTellsZeroFromNonZero) {
  bool nonzero = true;
  EXPECT_EQ(atoimod("0", &nonzero), 0u);
  EXPECT_FALSE(nonzero);
  EXPECT_EQ(atoimod("", &nonzero), 0u);
  EXPECT_FALSE(nonzero);
  EXPECT_EQ(atoimod("65536", &nonzero), 65536u);
  EXPECT_TRUE(nonzero);
  EXPECT_EQ(atoimod(" 4000abc", &nonzero), 4000u);
  EXPECT_TRUE(nonzero);
}

TEST(Bcd, SubstrCopiesNulsAndStopsAt255) {
  const char text[] = {'a', '\0', 'b', 'c'};
  char* s = substr(text, 0, 4);
  EXPECT_EQ(memcmp(s, text, 4), 0);
  EXPECT_EQ(s[4], '\0');
  std::string big(300, 'x');
  EXPECT_EQ(strlen(substr(big.c_str(), 0, 300)), 255u);
}

TEST(Bcd, DdltorRightJustifiesTheDigits) {
  struct {
    std::string field;
    int len;
    std::string want;
  } cases[] = {
      {"12 34#", 6, std::string(20, ' ') + "1234"},
      {"", 0, std::string(24, ' ')},
      {"0-123 45", 8, std::string(18, ' ') + "012345"},
      // Only the last 24 characters of a longer field are examined.
      {"9999991" + std::string(21, ' ') + "23", 30, std::string(21, ' ') + "123"},
      {std::string("123456789012345678901234567890"), 24, "123456789012345678901234"},
      {std::string("123456789012345678901234567890"), 30, "789012345678901234567890"},
  };
  for (const auto& c : cases) {
    ddltor(c.field.data(), c.len);
    EXPECT_EQ(std::string(ddigits), c.want) << c.field;
    EXPECT_EQ(ddigits[24], '\0');
  }
}

TEST(Bcd, DialledCopiesGoBothWays) {
  ddltor("5551234", 7);
  char a[25], b[25];
  c_dto8(ddigits, a);
  EXPECT_EQ(memcmp(a, ddigits, 25), 0);
  c_8tod(b, a);
  EXPECT_EQ(memcmp(b, ddigits, 25), 0);
}

}  // namespace
