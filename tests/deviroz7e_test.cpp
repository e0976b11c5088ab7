// The deviroz7e module: NEAX fields, rejections, the queue and pairing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pabx/modules.h"
#include "packer/bcd.h"
#include "packer/settings.h"
#include "support/neaxrec.h"
#include "support/packerfix.h"

namespace {

class Deviroz7e : public packertest {
 protected:
  const pabxmodule& mod = deviroz7e_module;

  // Decodes one record with an empty queue; the call comes back out of the
  // queue at once. False when the record left nothing in the queue.
  bool decodeone(const neaxfields& f, pkrecord* out, int last = 131) {
    placerecord(neaxrecord(f), last);
    EXPECT_EQ(mod.packrec(&pkcall), 0);
    return mod.dequeue(out) == 1;
  }

  pkrecord decoded(const neaxfields& f) {
    pkrecord pk{};
    EXPECT_TRUE(decodeone(f, &pk));
    return pk;
  }

  int feed(const neaxfields& f) {
    placerecord(neaxrecord(f), 131);
    return mod.packrec(&pkcall);
  }
};

TEST_F(Deviroz7e, DecodesTheFieldsOfAnARecord) {
  neaxfields f;
  f.start = "0305140436";
  f.end = "0305140736";
  pkrecord pk = decoded(f);
  EXPECT_EQ(pk.pk_flags, 0x02);
  EXPECT_STREQ(bcd2a(pk.pk_station), "004201");
  EXPECT_STREQ(bcd2a(pk.pk_trunk), "000012");
  EXPECT_EQ(maketime(&pk), packedat(2003, 3, 5, 14, 4, 36));
  EXPECT_EQ(getduration(&pk), 45u);
  EXPECT_EQ(getmeter(&pk), 3);
  EXPECT_EQ(dialled(pk), right("5551234"));
  EXPECT_EQ(pk.pk_dialled[24], '\0');
  EXPECT_EQ(pk.pk_dialled[25], '\0');
  EXPECT_STREQ(bcd2a(pk.pk_chglo), "000000");
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Deviroz7e, RecordIsFoundFromItsEtxWhereverItLies) {
  // ETX at index 130: the record starts one byte before the buffer.
  pkrecord pk;
  ASSERT_TRUE(decodeone(neaxfields{}, &pk, 130));
  EXPECT_STREQ(bcd2a(pk.pk_station), "004201");
  // Noise before the record is ignored.
  ASSERT_TRUE(decodeone(neaxfields{}, &pk, 255));
  EXPECT_STREQ(bcd2a(pk.pk_trunk), "000012");
}

TEST_F(Deviroz7e, BadRecordsAreCountedAndLeaveTheQueueAlone) {
  struct {
    const char* what;
    void (*spoil)(neaxfields&);
  } cases[] = {
      {"marker", [](neaxfields& f) { f.marker = 'X'; }},
      {"kind C", [](neaxfields& f) { f.kind = 'C'; }},
      {"class 3", [](neaxfields& f) { f.cls = '3'; }},
      {"start date 00", [](neaxfields& f) { f.start = "0300140000"; }},
      {"start date 32", [](neaxfields& f) { f.start = "0332140000"; }},
      {"start month 00", [](neaxfields& f) { f.start = "0005140000"; }},
      {"start month 13", [](neaxfields& f) { f.start = "1305140000"; }},
  };
  ASSERT_EQ(feed(neaxfields{}), 0);  // one call held
  uint32_t rejects = 0;
  for (const auto& c : cases) {
    neaxfields f;
    c.spoil(f);
    EXPECT_EQ(feed(f), 0) << c.what;
    EXPECT_EQ(pakrop.rejcnt, ++rejects) << c.what;
  }
  pkrecord pk;
  EXPECT_EQ(mod.dequeue(&pk), 1);
  EXPECT_EQ(mod.dequeue(&pk), 0);
}

TEST_F(Deviroz7e, MissingEndTimeGivesZeroDurationAndChargeOfNines) {
  neaxfields f;
  f.end = "0300140300";
  f.charge = "12        ";
  pkrecord pk = decoded(f);
  EXPECT_EQ(getduration(&pk), 0u);
  EXPECT_STREQ(bcd2a(pk.pk_chghi), "009999");
  EXPECT_STREQ(bcd2a(pk.pk_chglo), "999999");
  cap = 0;
  f.end = "1305140300";
  pk = decoded(f);
  EXPECT_STREQ(bcd2a(pk.pk_chghi), "000000");
  EXPECT_STREQ(bcd2a(pk.pk_chglo), "999999");
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Deviroz7e, DurationMarkers) {
  struct {
    const char* start;
    const char* end;
    uint32_t want;
  } cases[] = {
      {"0305140001", "0305140000", 0},  // one second back, same tick
      {"0305140004", "0305140003", endbeforestart},
      {"0101000000", "0216070628", 999997},
      {"0101000000", "0216070632", toolong},
  };
  dtvalidate = 0;
  for (const auto& c : cases) {
    neaxfields f;
    f.start = c.start;
    f.end = c.end;
    pkrecord pk = decoded(f);
    EXPECT_EQ(getduration(&pk), c.want) << c.start << " " << c.end;
  }
}

TEST_F(Deviroz7e, YearComesFromTheClockAndGoesBackForALateMonth) {
  dtvalidate = 0;
  neaxfields f;
  f.start = "1231230000";
  f.end = "1231230100";
  setnow(2004, 1, 10, 12, 0, 0);
  pkrecord pk = decoded(f);
  EXPECT_EQ(maketime(&pk), packedat(2003, 12, 31, 23, 0, 0));
  f.start = "0105100000";
  f.end = "0105100100";
  setnow(2003, 12, 10, 12, 0, 0);
  pk = decoded(f);
  EXPECT_EQ(maketime(&pk), packedat(2003, 1, 5, 10, 0, 0));
}

TEST_F(Deviroz7e, DialledDigitsSkipEverythingButDigits) {
  neaxfields f;
  f.dialled = "0-123 45";
  EXPECT_EQ(dialled(decoded(f)), right("012345"));
  f.dialled = "";
  EXPECT_EQ(dialled(decoded(f)), right(""));
  f.kind = 'E';
  f.dialled = "0049 30 1234";
  EXPECT_EQ(dialled(decoded(f)), right("0049301234"));
}

TEST_F(Deviroz7e, FlagsOfTheKindsAndChecks) {
  struct {
    const char* what;
    char kind, cls, flag55;
    const char* check1;
    const char* check2;
    uint8_t want;
  } cases[] = {
      {"A class 0", 'A', '0', '0', "000", "000", 0x01},
      {"A class 2", 'A', '2', '0', "000", "000", 0x03},
      {"odd flag byte", 'A', '1', '1', "000", "000", 0x42},
      {"check numbers differ", 'A', '1', '2', "123", "124", 0x12},
      {"check numbers equal", 'A', '1', '2', "123", "123", 0x02},
      {"blank in the second number", 'A', '1', '2', "123", "1 4", 0x02},
      {"odd byte and differing numbers", 'A', '1', '3', "123", "124", 0x52},
      {"E class 1", 'E', '1', '0', "000", "000", 0x82},
      {"E with odd flag byte", 'E', '2', '1', "123", "124", 0xc3},
  };
  for (const auto& c : cases) {
    neaxfields f;
    f.kind = c.kind;
    f.cls = c.cls;
    f.flag55 = c.flag55;
    f.check1 = c.check1;
    f.check2 = c.check2;
    EXPECT_EQ(decoded(f).pk_flags, c.want) << c.what;
  }
  // A flag byte of the value 0x01 takes no part in the check test.
  neaxfields f;
  f.flag55 = '\x01';
  f.check1 = "123";
  f.check2 = "124";
  EXPECT_EQ(decoded(f).pk_flags, 0x42);
}

TEST_F(Deviroz7e, ThirdKindOnlyWithTheMaskParityFlag) {
  neaxfields f;
  f.kind = 'B';
  f.cls = '0';
  f.bstation = "000777";
  EXPECT_EQ(feed(f), 0);
  pkrecord pk;
  EXPECT_EQ(mod.dequeue(&pk), 0);
  EXPECT_EQ(pakrop.rejcnt, 0u);

  sector0[maskparity] = 4;
  pk = decoded(f);
  EXPECT_EQ(pk.pk_flags, 0x89);
  EXPECT_STREQ(bcd2a(pk.pk_station), "000777");
  EXPECT_STREQ(bcd2a(pk.pk_trunk), "004201");
  EXPECT_EQ(dialled(pk), right(""));
  f.cls = '1';
  EXPECT_EQ(decoded(f).pk_flags, 0x8b);
}

TEST_F(Deviroz7e, EachCallWaitsFor23NewerOnes) {
  dtvalidate = 0;
  std::vector<std::string> out;
  for (int i = 0; i < 30; ++i) {
    neaxfields f;
    char station[32];
    snprintf(station, sizeof station, "%06d", 100 + i);
    f.station = station;
    if (feed(f)) out.push_back(bcd2a(pkcall.pk_station));
    if (i == 22) {
      EXPECT_TRUE(out.empty());
    }
    if (i == 23) {
      EXPECT_EQ(out.size(), 1u);
    }
    feed(neaxfields{.marker = 'X'});  // rejects do not move the queue
  }
  pkrecord pk;
  while (mod.dequeue(&pk)) out.push_back(bcd2a(pk.pk_station));
  ASSERT_EQ(out.size(), 30u);
  for (int i = 0; i < 30; ++i) {
    char want[32];
    snprintf(want, sizeof want, "%06d", 100 + i);
    EXPECT_EQ(out[i], want) << "call " << i;
  }
}

// An 'A' record for trunk 000123 and an 'E' record of class 2 whose station
// field is 000123, with durations `adur` and `edur` ticks.
neaxfields arecord(int adur, char cls = '1') {
  neaxfields a;
  a.trunk = "000123";
  a.station = "004711";
  a.cls = cls;
  a.start = "0305140000";
  char end[32];
  snprintf(end, sizeof end, "030514%02d%02d", adur * 4 / 60, adur * 4 % 60);
  a.end = end;
  return a;
}

neaxfields erecord(int edur) {
  neaxfields e = arecord(edur, '2');
  e.kind = 'E';
  e.trunk = "000045";
  e.station = "000123";
  return e;
}

TEST_F(Deviroz7e, PairedRecordTakesThePartnersStation) {
  struct {
    const char* what;
    bool efirst;
    int adur, edur;
    char acls;
    bool paired;
    uint8_t eflags;
  } cases[] = {
      {"older partner, 3 ticks longer", false, 48, 45, '1', true, 0x83},
      {"older partner of class 0", false, 48, 45, '0', true, 0x81},
      {"newer partner, 4 ticks shorter", true, 41, 45, '1', true, 0x83},
      {"5 ticks apart", false, 50, 45, '1', false, 0x83},
      {"5 ticks apart, newer", true, 40, 45, '1', false, 0x83},
  };
  for (const auto& c : cases) {
    if (c.efirst) feed(erecord(c.edur));
    feed(arecord(c.adur, c.acls));
    if (!c.efirst) feed(erecord(c.edur));
    std::vector<pkrecord> calls = drain(mod);
    ASSERT_EQ(calls.size(), 2u) << c.what;
    const pkrecord& e = calls[c.efirst ? 0 : 1];
    const pkrecord& a = calls[c.efirst ? 1 : 0];
    EXPECT_EQ(e.pk_flags, c.eflags) << c.what;
    EXPECT_STREQ(bcd2a(e.pk_station), c.paired ? "004711" : "000123") << c.what;
    EXPECT_STREQ(bcd2a(a.pk_station), "004711") << c.what;
    EXPECT_EQ(a.pk_flags, c.acls - '0' + 1) << c.what;
  }
}

TEST_F(Deviroz7e, OnlyEOfClassTwoAndThirdKindArePaired) {
  feed(arecord(45));
  neaxfields e = erecord(45);
  e.cls = '1';
  feed(e);
  std::vector<pkrecord> calls = drain(mod);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_STREQ(bcd2a(calls[1].pk_station), "000123");

  sector0[maskparity] = 4;
  feed(arecord(45));
  neaxfields b = erecord(45);
  b.kind = 'B';
  b.cls = '1';
  b.station = "000045";   // the trunk of a 'B' record
  b.bstation = "000123";  // its station
  feed(b);
  calls = drain(mod);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].pk_flags, 0x83);
  EXPECT_STREQ(bcd2a(calls[1].pk_station), "004711");
}

}  // namespace
