// The diziziv7 module: what it does differently from deviroz7e, the
// dialled digits of 'E' records and what a pairing changes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pabx/modules.h"
#include "packer/bcd.h"
#include "support/neaxrec.h"
#include "support/packerfix.h"

namespace {

class Diziziv7 : public packertest {
 protected:
  const pabxmodule& mod = diziziv7_module;

  void feed(const neaxfields& f) {
    placerecord(neaxrecord(f), 131);
    EXPECT_EQ(mod.packrec(&pkcall), 0);
  }
  std::vector<pkrecord> drain() { return ::drain(mod); }
};

TEST_F(Diziziv7, VersionAndFraming) {
  EXPECT_STREQ(mod.pakver, "3.11 Diziziv7 #13  ");
  EXPECT_EQ(mod.frame.etx, 0x03);
  EXPECT_EQ(mod.frame.petx, 130);
  EXPECT_FALSE(mod.tcpinput);
}

TEST_F(Diziziv7, DialledDigitsOfEachKind) {
  struct {
    const char* what;
    char kind;
    const char* dialled;
    const char* number98;
    std::string want;
  } cases[] = {
      {"E: a leading 0 and the digits at 98", 'E', "999", "1234567", right("01234567")},
      {"E: separators skipped", 'E', "", "12-34 5", right("012345")},
      {"E: sixteen digits", 'E', "", "1234567890123456", right("01234567890123456")},
      {"E: no digit at 98 gives none at all", 'E', "5551234", "ABC", right("")},
      {"A: the digits at 62", 'A', "5551234", "777", right("5551234")},
  };
  for (const auto& c : cases) {
    neaxfields f;
    f.kind = c.kind;
    f.dialled = c.dialled;
    f.number98 = c.number98;
    feed(f);
    std::vector<pkrecord> calls = drain();
    ASSERT_EQ(calls.size(), 1u) << c.what;
    EXPECT_EQ(std::string(calls[0].pk_dialled, 24), c.want) << c.what;
  }
}

neaxfields arecord(const char* trunk, const char* station, char cls = '1') {
  neaxfields a;
  a.trunk = trunk;
  a.station = station;
  a.cls = cls;
  a.end = "0305140312";  // 48 ticks
  return a;
}

neaxfields erecord(char flag55 = '0') {
  neaxfields e;
  e.kind = 'E';
  e.cls = '2';
  e.station = "000123";
  e.trunk = "000045";
  e.flag55 = flag55;
  e.end = "0305140300";  // 45 ticks
  return e;
}

TEST_F(Diziziv7, PairingMarksThePartnerAndLeavesTheExaminedRecord) {
  for (char flag55 : {'0', '1'}) {
    feed(arecord("000123", "004711"));
    feed(erecord(flag55));
    std::vector<pkrecord> calls = drain();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_STREQ(bcd2a(calls[0].pk_station), "000045");
    EXPECT_EQ(calls[0].pk_flags, 0x03);
    EXPECT_STREQ(bcd2a(calls[1].pk_station), "000123");
    EXPECT_EQ(calls[1].pk_flags, flag55 == '1' ? 0xc3 : 0x83);
  }
}

TEST_F(Diziziv7, ExaminedRecordMarksANewerPartnerWhenItLeaves) {
  feed(arecord("000123", "004711"));  // older partner, marked on arrival
  feed(erecord());
  feed(arecord("000123", "004712", '0'));  // newer partner, marked when E leaves
  feed(arecord("000999", "004713", '0'));  // not a partner
  std::vector<pkrecord> calls = drain();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[0].pk_flags, 0x03);
  EXPECT_EQ(calls[2].pk_flags, 0x03);
  EXPECT_STREQ(bcd2a(calls[2].pk_station), "000045");
  EXPECT_EQ(calls[3].pk_flags, 0x01);
  EXPECT_STREQ(bcd2a(calls[3].pk_station), "004713");
}

TEST_F(Diziziv7, PartnerMarkedTwiceTakesTheLastTrunk) {
  feed(arecord("000123", "004711"));
  feed(erecord());
  neaxfields e2 = erecord();
  e2.trunk = "000046";
  feed(e2);
  std::vector<pkrecord> calls = drain();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_STREQ(bcd2a(calls[0].pk_station), "000046");
}

}  // namespace
