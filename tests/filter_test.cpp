// The call acceptance filter.
#include "packer/filter.h"

#include <gtest/gtest.h>

#include "pabx/pabx.h"
#include "packer/bcd.h"
#include "packer/settings.h"
#include "support/packerfix.h"

namespace {

class Filter : public packertest {};

bool excluded(const char* station) {
  pkrecord pk{};
  cnvbcd(pk.pk_station, station, 6);
  return rejcall(&pk) != 0;
}

void range(const char* low, const char* high) {
  cnvbcd(stnlow, low, 6);
  cnvbcd(stnhigh, high, 6);
}

TEST_F(Filter, CompareOrdersAs24BitNumbers) {
  uint8_t a[3] = {0x00, 0x01, 0x99}, b[3] = {0x00, 0x02, 0x00}, c[3] = {0x00, 0x0A, 0x00};
  EXPECT_EQ(cmpbcd(a, b), -1);
  EXPECT_EQ(cmpbcd(b, a), 1);
  EXPECT_EQ(cmpbcd(a, a), 0);
  EXPECT_EQ(cmpbcd(c, b), 1);  // nibble A ranks above 9
}

TEST_F(Filter, DecisionByCodeAndRange) {
  struct {
    uint8_t code;
    const char* low;
    const char* high;
    const char* station;
    bool excluded;
  } cases[] = {
      {0x00, "000100", "000199", "000150", false},
      {0x0C, "000100", "000199", "000150", false},
      {0x04, "000100", "000199", "000150", false},
      {0x08, "000100", "000199", "000150", false},
      {0x10, "000100", "000199", "000150", false},
      {0x1C, "000100", "000199", "000150", false},
      // Mode 1 excludes the range, ends included.
      {0x14, "000100", "000199", "000100", true},
      {0x14, "000100", "000199", "000199", true},
      {0x14, "000100", "000199", "000099", false},
      {0x14, "000100", "000199", "000200", false},
      {0x15, "000100", "000199", "000150", true},
      {0xF4, "000100", "000199", "000150", true},
      // Mode 2 keeps only the range.
      {0x18, "000100", "000199", "000100", false},
      {0x18, "000100", "000199", "000199", false},
      {0x18, "000100", "000199", "000099", true},
      {0x18, "000100", "000199", "000200", true},
      // Ends in reverse order: nothing is in range.
      {0x14, "000199", "000100", "000150", false},
      {0x18, "000199", "000100", "000150", true},
      // Both ends zero: only station 000000 is in range.
      {0x14, "000000", "000000", "000000", true},
      {0x14, "000000", "000000", "000001", false},
      {0x18, "000000", "000000", "000000", false},
      {0x18, "000000", "000000", "004201", true},
      {0x14, "004201", "004201", "004201", true},
      {0x14, "004201", "004201", "004202", false},
  };
  for (const auto& c : cases) {
    crjcode = c.code;
    range(c.low, c.high);
    EXPECT_EQ(excluded(c.station), c.excluded)
        << std::hex << int(c.code) << " " << c.low << "-" << c.high << " " << c.station;
  }
}

TEST_F(Filter, ChargeCodeTakesNoPart) {
  crjcode = 0x18;
  range("000100", "000199");
  pkrecord pk{};
  cnvbcd(pk.pk_station, "000150", 6);
  EXPECT_EQ(rejcall(&pk), 0);
  cnvbcd(pk.pk_chglo, "123456", 6);
  EXPECT_EQ(rejcall(&pk), 0);
}

}  // namespace
