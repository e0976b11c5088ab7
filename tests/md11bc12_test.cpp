// The md11bc12 module: MD110 BC12 fields, record kinds, separators, NUL
// repair, trunk compaction, condition codes, durations and time stamps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pabx/modules.h"
#include "packer/bcd.h"
#include "packer/ptime.h"
#include "packer/settings.h"
#include "support/md110rec.h"
#include "support/packerfix.h"

namespace {

class Md11bc12 : public packertest {
 protected:
  const pabxmodule& mod = md11bc12_module;

  int feed(const std::string& rec, int last = 135) {
    placerecord(rec, last);
    return mod.packrec(&pkcall);
  }

  pkrecord decoded(const std::string& rec) {
    EXPECT_EQ(feed(rec), 1);
    return pkcall;
  }
  pkrecord decoded(const md110fields& f) { return decoded(md110record(f)); }
};

void expectparties(const pkrecord& pk, const char* trunk, const char* station, const char* what) {
  EXPECT_STREQ(bcd2a(pk.pk_trunk), trunk) << what;
  EXPECT_STREQ(bcd2a(pk.pk_station), station) << what;
}

// A record whose first trunk field is blank and whose second is trunk 34;
// its station, 777, stands in the first number field.
md110fields secondonly() {
  md110fields f;
  f.trunk1 = "";
  f.trunk2 = "U00-00-34";
  f.first = firststation(" 000777");
  f.second = "0049301234";
  return f;
}

// Field decoding.

TEST_F(Md11bc12, CarriesItsVersionTextAndLineFeedFraming) {
  EXPECT_EQ(std::string(mod.pakver, sizeof mod.pakver), std::string("3.11 VU110RE12  #1 \0", 20));
  EXPECT_EQ(mod.frame.is_stx, 0);
  EXPECT_EQ(mod.frame.etx, 0x0A);
  EXPECT_EQ(mod.frame.petx, 134);
  EXPECT_EQ(mod.frame.stx | mod.frame.nstx | mod.frame.psynb | mod.frame.synb, 0);
  EXPECT_FALSE(mod.tcpinput);
}

TEST_F(Md11bc12, DecodesTheFieldsOfARecordIntoAFreshCall) {
  memset(&pkcall, 0xff, sizeof pkcall);  // nothing of an earlier call stays
  pkrecord pk = decoded(md110fields{});
  EXPECT_EQ(pk.pk_flags, 0x01);
  EXPECT_STREQ(bcd2a(pk.pk_trunk), "000012");
  EXPECT_STREQ(bcd2a(pk.pk_station), "004201");
  EXPECT_EQ(getduration(&pk), 45u);  // 3 minutes
  EXPECT_EQ(maketime(&pk), packedat(2003, 3, 5, 14, 0, 0) - 45);
  EXPECT_EQ(getmeter(&pk), 3);
  EXPECT_EQ(dialled(pk), right("5551234"));
  EXPECT_EQ(pk.pk_dialled[24], '\0');
  EXPECT_EQ(pk.pk_dialled[25], '\0');
  EXPECT_STREQ(bcd2a(pk.pk_chghi), "000000");
  EXPECT_STREQ(bcd2a(pk.pk_chglo), "000000");
  EXPECT_STREQ(bcd2a(pk.pk_spare), "000000");
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Md11bc12, RecordIsFoundFromItsLineFeedWhereverItLies) {
  std::string rec = md110record(md110fields{});
  placerecord(rec, 255);
  memset(rawbuf, '7', 255 - 135);  // noise before the record
  ASSERT_EQ(mod.packrec(&pkcall), 1);
  EXPECT_STREQ(bcd2a(pkcall.pk_station), "004201");
  EXPECT_EQ(dialled(pkcall), right("5551234"));
}

TEST_F(Md11bc12, MeterPulsesAreMaskedTo13Bits) {
  struct {
    const char* meter;
    uint16_t want;
  } cases[] = {
      {"   3", 3},  {"    ", 0},      {"8191", 8191}, {"8192", 0}, {"9999", 9999 & 0x1fff},
      {"12ab", 12}, {" -1 ", 0x1fff},
  };
  for (const auto& c : cases) {
    md110fields f;
    f.meter = c.meter;
    pkrecord pk = decoded(f);
    EXPECT_EQ(getmeter(&pk), c.want) << c.meter;
  }
}

TEST_F(Md11bc12, ChargeCodeHasTwelveCharacters) {
  md110fields f;
  f.charge = "123456789012";
  pkrecord pk = decoded(f);
  EXPECT_STREQ(bcd2a(pk.pk_chghi), "123456");
  EXPECT_STREQ(bcd2a(pk.pk_chglo), "789012");
  cap = 0;
  pk = decoded(f);
  EXPECT_STREQ(bcd2a(pk.pk_chghi), "000000");
  EXPECT_STREQ(bcd2a(pk.pk_chglo), "123456");
}

TEST_F(Md11bc12, DialledDigitsComeFromTheFieldTheKindNames) {
  struct {
    const char* what;
    md110fields f;
    const char* want;
  } cases[] = {
      {"first field, non-digits skipped", {.first = "0-123 45"}, "012345"},
      {"first field, all twenty", {.first = "12345678901234567890"}, "12345678901234567890"},
      {"first field empty", {.first = ""}, ""},
      {"trunk first: second field", secondonly(), "0049301234"},
  };
  for (const auto& c : cases) EXPECT_EQ(dialled(decoded(c.f)), right(c.want)) << c.what;
}

// Record kinds and flags.

TEST_F(Md11bc12, TrunkFieldsDecideKindTrunkAndStation) {
  md110fields both;
  both.trunk2 = "U00-47-11";
  md110fields neither = secondonly();
  neither.trunk2 = "";
  neither.second = "4201";
  struct {
    const char* what;
    md110fields f;
    uint8_t flags;
    const char* trunk;
    const char* station;
    const char* dialled;
  } cases[] = {
      {"first trunk only", md110fields{}, 0x01, "000012", "004201", "5551234"},
      {"both trunks", both, 0x03, "000012", "004711", "5551234"},
      {"second trunk only", secondonly(), 0x81, "000034", "000777", "0049301234"},
      {"neither", neither, 0x89, "004201", "000777", "4201"},
  };
  sector0[maskparity] = 4;
  for (const auto& c : cases) {
    pkrecord pk = decoded(c.f);
    EXPECT_EQ(pk.pk_flags, c.flags) << c.what;
    expectparties(pk, c.trunk, c.station, c.what);
    EXPECT_EQ(dialled(pk), right(c.dialled)) << c.what;
  }
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Md11bc12, BothTrunksBlankNeedsTheMaskParityFlag) {
  md110fields f = secondonly();
  f.trunk2 = "";
  struct {
    uint8_t sector;
    int want;
  } cases[] = {{0, 0}, {2, 0}, {6, 0}, {4, 1}, {0x0c, 1}};
  for (const auto& c : cases) {
    sector0[maskparity] = c.sector;
    EXPECT_EQ(feed(md110record(f)), c.want) << int(c.sector);
  }
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Md11bc12, EveryCallIsOutputAtOnceAndNothingIsHeld) {
  pkrecord pk;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(feed(md110record(md110fields{})), 1);
    EXPECT_EQ(mod.dequeue(&pk), 0);
  }
}

// Separators and short frames.

const int separators[] = {0, 1, 2, 11, 17, 22, 26, 37, 58, 77, 93, 100, 104, 107, 110, 120, 130};

TEST_F(Md11bc12, NonBlankSeparatorRejectsAndCounts) {
  uint32_t rejects = 0;
  for (int col : separators) {
    for (char c : {'x', '0', '\0', '\t'}) {
      if (col == 110 && c == '\0') continue;  // repaired into a blank
      std::string rec = md110record(md110fields{});
      rec[col] = c;
      EXPECT_EQ(feed(rec), 0) << "column " << col << " char " << int(c);
      EXPECT_EQ(pakrop.rejcnt, ++rejects) << "column " << col;
    }
  }
}

TEST_F(Md11bc12, ColumnsBetweenTheFieldsAreNotChecked) {
  std::string rec = md110record(md110fields{});
  for (int col : {16, 27, 36, 69, 90, 94, 101, 105, 108, 131, 134}) rec[col] = 'x';
  EXPECT_EQ(feed(rec), 1);
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Md11bc12, LineFeedAtIndex134IsOneByteShort) {
  std::string rec = md110record(md110fields{});
  rec.replace(111, 6, 6, '\0');  // would be repaired if the frame were read
  placerecord(rec, 134);
  std::string before(reinterpret_cast<char*>(rawbuf), sizeof rawbuf);
  EXPECT_EQ(mod.packrec(&pkcall), 0);
  EXPECT_EQ(pakrop.rejcnt, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rawbuf), sizeof rawbuf), before);
  EXPECT_EQ(feed(rec, 135), 1);  // the same record one byte later is whole
}

// NUL repair and trunk compaction.

TEST_F(Md11bc12, NulsInTheTrunkColumnsAreRepaired) {
  struct {
    const char* what;
    const char* trunk1;
    std::initializer_list<int> nuls;
    uint8_t flags;
    const char* trunk;
  } cases[] = {
      {"separator 110", "T00-00-12", {110}, 0x03, "000012"},
      {"digits read as 0", "T12-34-56", {112, 113, 115}, 0x03, "000456"},
      {"lead character makes the field present", " 12-34-56", {111}, 0x03, "123456"},
      {"117 is dropped by the compaction", "T12-34-56", {117}, 0x03, "123456"},
      {"118 stays a NUL and is skipped", "T12-34-56", {118}, 0x03, "012346"},
  };
  for (const auto& c : cases) {
    md110fields f;
    f.trunk1 = c.trunk1;
    f.trunk2 = "U00-00-34";
    std::string rec = md110record(f);
    for (int off : c.nuls) rec[off] = '\0';
    pkrecord pk = decoded(rec);
    EXPECT_EQ(pk.pk_flags, c.flags) << c.what;
    EXPECT_STREQ(bcd2a(pk.pk_trunk), c.trunk) << c.what;
  }
  EXPECT_EQ(pakrop.rejcnt, 0u);
}

TEST_F(Md11bc12, TrunkFieldsKeepTheirThreeDigitPairs) {
  struct {
    const char* what;
    const char* trunk1;
    const char* trunk2;
    uint8_t flags;
    const char* trunk;
    const char* station;
  } cases[] = {
      {"pairs 01 02 03", "T01-02-03", "", 0x01, "010203", "004201"},
      {"any character between pairs", "T01 02x03", "", 0x01, "010203", "004201"},
      {"second field too", "T00-00-12", "U12-34-56", 0x03, "000012", "123456"},
      {"lead then blank counts as blank", "X 1-02-03", "U00-00-34", 0x81, "000034", "000777"},
  };
  for (const auto& c : cases) {
    md110fields f;
    f.first = firststation(" 000777");
    f.trunk1 = c.trunk1;
    f.trunk2 = c.trunk2;
    pkrecord pk = decoded(f);
    EXPECT_EQ(pk.pk_flags, c.flags) << c.what;
    expectparties(pk, c.trunk, c.station, c.what);
  }
  md110fields f;
  f.trunk1 = "T01-02-03";
  decoded(f);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rawbuf) + 111, 9), "010203   ");
}

// Overflow markers.

TEST_F(Md11bc12, OverflowMarkerStoresNines) {
  md110fields longstation;
  longstation.second = "1234567";
  md110fields longsecond = secondonly();
  longsecond.first = firststation("1234567");
  md110fields longtrunk = secondonly();
  longtrunk.trunk2 = "";
  longtrunk.second = "004201X";
  struct {
    const char* what;
    md110fields f;
    const char* trunk;
    const char* station;
  } cases[] = {
      {"station, marker at 65", longstation, "000012", "999999"},
      {"station, marker at 51", longsecond, "000034", "999999"},
      {"third kind trunk, marker at 65", longtrunk, "999999", "000777"},
  };
  sector0[maskparity] = 4;
  for (const auto& c : cases) {
    pkrecord pk = decoded(c.f);
    expectparties(pk, c.trunk, c.station, c.what);
  }
}

// Condition codes and the alternative station.

TEST_F(Md11bc12, ConditionCodeAddsFlags) {
  struct {
    const char* cond;
    uint8_t add;
  } cases[] = {
      {"A  ", 0x40}, {"I  ", 0x40}, {"NA ", 0x40}, {"DA ", 0x40}, {"VI ", 0x40}, {" A ", 0x40},
      {"N A", 0x40}, {"NXA", 0x40}, {"XA ", 0},    {"AN ", 0},    {"ND ", 0},    {"XNA", 0},
      {"D  ", 0x10}, {"G  ", 0x10}, {"V  ", 0x10}, {"X  ", 0x10}, {" D ", 0x10}, {"  D", 0x10},
      {"DX ", 0},    {"B  ", 0},    {"   ", 0},
  };
  for (const auto& c : cases) {
    md110fields f;
    f.cond = c.cond;
    EXPECT_EQ(decoded(f).pk_flags, 0x01 | c.add) << '"' << c.cond << '"';
  }
  md110fields f = secondonly();
  f.cond = "A  ";
  EXPECT_EQ(decoded(f).pk_flags, 0xc1);
}

TEST_F(Md11bc12, FirstTrunkFieldMayNameAnotherStation) {
  struct {
    const char* what;
    const char* cond;
    const char* trunk1;
    bool third;
    const char* station;
  } cases[] = {
      {"digits zero", "NX ", "   000000", false, "000777"},
      {"digits 4711", "NX ", "   004711", false, "004711"},
      {"marker at 113", "NX ", "  X004711", false, "999999"},
      {"cc2 not N", "XN ", "   004711", false, "000777"},
      {"no code", "   ", "   004711", false, "000777"},
      {"three characters", "NXA", "   004711", false, "004711"},
      {"third kind", "NX ", "   004711", true, "004711"},
  };
  sector0[maskparity] = 4;
  for (const auto& c : cases) {
    md110fields f = secondonly();
    f.cond = c.cond;
    f.trunk1 = c.trunk1;
    if (c.third) f.trunk2 = "";
    EXPECT_STREQ(bcd2a(decoded(f).pk_station), c.station) << c.what;
  }
  md110fields f;  // a present first trunk field is the trunk, not a station
  f.cond = "NX ";
  EXPECT_STREQ(bcd2a(decoded(f).pk_station), "004201");
}

// Duration and time stamp.

TEST_F(Md11bc12, DurationInTicksIsCappedAt8998) {
  struct {
    const char* field;  // hours, minutes, tenths of a minute
    uint32_t ticks;
  } cases[] = {
      {"1234", 1251}, {"0000", 0},    {"0020", 30},   {"0001", 1},    {"0003", 4},
      {"9595", 8992}, {"9598", 8997}, {"9599", 8998}, {"9999", 8998}, {"  7 ", 105},
      {"x12y", 180},  {"0+50", 75},   {"-000", 0},    {"0-50", 8998}, {"9-90", 8998},
  };
  dtvalidate = 0;
  for (const auto& c : cases) {
    md110fields f;
    f.duration = c.field;
    pkrecord pk = decoded(f);
    EXPECT_EQ(getduration(&pk), c.ticks) << c.field;
    EXPECT_EQ(maketime(&pk), packedat(2003, 3, 5, 14, 0, 0) - c.ticks) << c.field;
  }
}

TEST_F(Md11bc12, StartIsTheStampLessTheDuration) {
  md110fields f;
  f.stamp = "03050930";
  f.duration = "0020";
  pkrecord pk = decoded(f);
  EXPECT_EQ(maketime(&pk), packedat(2003, 3, 5, 9, 30, 0) - 30);
}

TEST_F(Md11bc12, StampTakesTheYearOfTheClockWithoutRangeTests) {
  dtvalidate = 0;
  struct {
    const char* stamp;
    int nowyear, nowmonth;
    uint32_t end;
  } cases[] = {
      {"12312300", 2004, 1, packedat(2004, 12, 31, 23, 0, 0)},  // no roll-back
      {"01051000", 2003, 12, packedat(2003, 1, 5, 10, 0, 0)},
      {"02300900", 2003, 3, packedat(2003, 3, 2, 9, 0, 0)},  // 30 February
      {"03052430", 2003, 3, packedat(2003, 3, 6, 0, 30, 0)},
  };
  for (const auto& c : cases) {
    setnow(c.nowyear, c.nowmonth, 10, 12, 34, 56);  // its time of day is not used
    md110fields f;
    f.stamp = c.stamp;
    pkrecord pk = decoded(f);
    EXPECT_EQ(maketime(&pk), c.end - 45) << c.stamp;
  }
}

TEST_F(Md11bc12, CallTimeIsValidatedAgainstTheClock) {
  md110fields f;
  f.stamp = "03052300";  // eight hours after the clock's 15:00
  pkrecord pk = decoded(f);
  EXPECT_EQ(pabxerr, '>');
  EXPECT_EQ(maketime(&pk), packedat(2003, 3, 5, 15, 0, 0) - 45);
}

}  // namespace
