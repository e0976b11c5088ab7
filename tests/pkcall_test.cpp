// The packed call record: charge-code packing and the start-time split.
#include <gtest/gtest.h>

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
      // Other characters count as positions, not digits; the walk ends at
      // the twelfth digit.
      {1, "1-2-3-4-5-6-7-8", 15, "000001", "000234"},
      {1, "\xb5" "12345678901234", 15, "012345", "678901"},
      {0, "9/8:7\xff" "6", 7, "000000", "000098"},
  };
  for (const auto& c : cases) {
    cap = c.cap;
    pkrecord pk{};
    dochg(&pk, c.text, c.n);
    EXPECT_STREQ(bcd2a(pk.pk_chghi), c.hi) << c.text << " cap " << int(c.cap);
    EXPECT_STREQ(bcd2a(pk.pk_chglo), c.lo) << c.text << " cap " << int(c.cap);
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
