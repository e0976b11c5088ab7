// The packed call record: charge-code packing and the start-time split.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "pabx/pabx.h"
#include "packer/bcd.h"
#include "packer/settings.h"
#include "support/packerfix.h"

namespace {

class PackedCall : public packertest {};

TEST_F(PackedCall, ChargeCodeSplitsIntoHighAndLowSixDigits) {
  struct {
    uint8_t cap;
    const char* text;
    int n;
    const char* hi;
    const char* lo;
  } cases[] = {
      {0, "123456789012", 12, "000000", "123456"},
      {1, "123456789012", 12, "123456", "789012"},
      {1, "12345678  ", 10, "000012", "345678"},
      // Blanks ahead of the digits shift the cut: counted, not skipped.
      {1, "  12345678", 10, "000000", "123456"},
      {1, "          ", 10, "000000", "000000"},
      {1, "9999999999", 10, "009999", "999999"},
      {0, "9999999999", 10, "000000", "999999"},
      {1, "1234567890123456", 16, "123456", "789012"},
  };
  for (const auto& c : cases) {
    cap = c.cap;
    pkrecord pk{};
    dochg(&pk, c.text, c.n);
    EXPECT_STREQ(bcd2a(pk.pk_chghi), c.hi) << c.text << " cap " << int(c.cap);
    EXPECT_STREQ(bcd2a(pk.pk_chglo), c.lo) << c.text << " cap " << int(c.cap);
  }
}

// The charge code counts the digits a word at a time; any text packs as
// when they were counted one by one, up to 12.
TEST_F(PackedCall, ChargeCodeOfAnyTextAsCountedByCharacter) {
  const char alphabet[] = "0123456789 -/:\xb5";
  std::mt19937 gen(21);
  for (int round = 0; round < 20000; ++round) {
    cap = static_cast<uint8_t>(gen() % 2);
    int n = static_cast<int>(gen() % 20) - 2;
    std::string text(static_cast<size_t>(std::max(n, 0)), ' ');
    for (char& c : text) c = gen() % 4 ? alphabet[gen() % (sizeof alphabet - 1)] : ' ';
    int m = !cap && n > 6 ? 6 : n, digits = 0;
    for (int i = 0; i < m && digits < 12; ++i)
      digits += text[static_cast<size_t>(i)] >= '0' && text[static_cast<size_t>(i)] <= '9';
    int high = digits > 6 ? digits - 6 : 0;
    pkrecord want{}, got{};
    cnvbcd(want.pk_chghi, text.data(), high);
    cnvbcd(want.pk_chglo, text.data() + high, std::min(digits, 6));
    dochg(&got, text.data(), n);
    ASSERT_EQ(memcmp(&got, &want, sizeof got), 0) << text << " cap " << int(cap);
  }
}

TEST_F(PackedCall, StartTimeIsSplitAcrossBytesZeroAndEightToTen) {
  pkrecord pk{};
  pk.pk_timelo[0] = 1;
  pk.pk_timelo[1] = 2;
  pk.pk_timelo[2] = 3;
  pk.pk_timehi = 4;
  EXPECT_EQ(maketime(&pk), 67305985u);
  settime(&pk, 0xA1B2C3D4);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&pk);
  EXPECT_EQ(b[0], 0xA1);
  EXPECT_EQ(b[8], 0xD4);
  EXPECT_EQ(b[9], 0xC3);
  EXPECT_EQ(b[10], 0xB2);
}

TEST_F(PackedCall, NumbersAreLittleEndianAtTheirOffsets) {
  pkrecord pk{};
  setmeter(&pk, 0x1234);
  setduration(&pk, 0x01020304);
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&pk);
  EXPECT_EQ(b[2], 0x34);
  EXPECT_EQ(b[3], 0x12);
  EXPECT_EQ(b[4], 0x04);
  EXPECT_EQ(b[7], 0x01);
  EXPECT_EQ(getmeter(&pk), 0x1234);
  EXPECT_EQ(getduration(&pk), 0x01020304u);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(pk.pk_dialled) - b, 26);
  EXPECT_EQ(pk.pk_station - b, 17);
}

TEST_F(PackedCall, ThirdKindNeedsTheMaskParityFlag) {
  EXPECT_FALSE(thirdkind());
  sector0[maskparity] = 4;
  EXPECT_TRUE(thirdkind());
  sector0[maskparity] = 6;
  EXPECT_FALSE(thirdkind());
}

}  // namespace
