// The CDR line, and the packed-call listing of -X.
#include "packer/cdrline.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "pabx/modules.h"
#include "packer/bcd.h"
#include "packer/listing.h"
#include "packer/settings.h"
#include "support/neaxrec.h"
#include "support/packerfix.h"

extern pabxmodule testmodule;

namespace {

class CdrLine : public packertest {
 protected:
  void TearDown() override {
    memcpy(testmodule.pakver, deviroz7e_module.pakver, sizeof testmodule.pakver);
    isfuj9600l = 0;
  }
};

void setbcd(uint8_t* dst, const char* digits) { cnvbcd(dst, digits, 6); }

void setdialled(pkrecord* pk, const char* digits) {
  ddltor(digits, static_cast<int>(strlen(digits)));
  c_dto8(ddigits, pk->pk_dialled);
}

std::string line(const pkrecord& pk) {
  char buf[cdrlinemax];
  formcall(buf, &pk);
  return buf;
}

// The first worked example: station first, no charge code.
pkrecord example1() {
  pkrecord pk{};
  pk.pk_flags = 0x02;
  setbcd(pk.pk_station, "004201");
  setbcd(pk.pk_trunk, "000012");
  setdialled(&pk, "5551234");
  settime(&pk, packedat(2003, 3, 5, 14, 7, 36) - 45);
  setduration(&pk, 45);
  setmeter(&pk, 3);
  return pk;
}

// The second: trunk first, a CAP charge code, meter bits above 13.
pkrecord example2() {
  pkrecord pk{};
  pk.pk_flags = 0x81;
  setbcd(pk.pk_trunk, "000007");
  setbcd(pk.pk_station, "012345");
  setdialled(&pk, "81234567");
  settime(&pk, packedat(1999, 12, 31, 23, 59, 56));
  setmeter(&pk, 0x2000);
  setbcd(pk.pk_chghi, "000098");
  setbcd(pk.pk_chglo, "765432");
  return pk;
}

TEST_F(CdrLine, WorkedExamplesBuiltDirectly) {
  EXPECT_EQ(line(example1()), ":4201|12|5551234|050303140736|45|3||02\n");
  EXPECT_EQ(line(example2()), ":7|12345|81234567|311299235956|||765432|81\n");
  EXPECT_EQ(gmpct.year, 15);
  EXPECT_EQ(gmpct.hour, 23);
}

TEST_F(CdrLine, WorkedExampleDecodedFromARecord) {
  neaxfields f;
  f.start = "0305140436";
  f.end = "0305140736";
  placerecord(neaxrecord(f), 131);
  deviroz7e_module.packrec(&pkcall);
  pkrecord pk;
  ASSERT_EQ(deviroz7e_module.dequeue(&pk), 1);
  EXPECT_EQ(line(pk), ":4201|12|5551234|050303140736|45|3||02\n");
}

TEST_F(CdrLine, SecondWorkedExampleDecodedFromAnERecord) {
  neaxfields f;
  f.kind = 'E';
  f.cls = '0';
  f.trunk = "000007";
  f.station = "012345";
  f.start = f.end = "1231235956";
  f.charge = "98765432  ";
  f.dialled = "8123-4567";
  f.meter = "8192";              // only the low 13 bits are kept
  setnow(2000, 1, 1, 0, 30, 0);  // a December record read in January
  placerecord(neaxrecord(f), 131);
  deviroz7e_module.packrec(&pkcall);
  pkrecord pk;
  ASSERT_EQ(deviroz7e_module.dequeue(&pk), 1);
  EXPECT_EQ(line(pk), ":7|12345|81234567|311299235956|||765432|81\n");
  EXPECT_STREQ(mkchg(&pk), "98765432");
}

TEST_F(CdrLine, TheSameInADaylightSavingZone) {
  usezone("Europe/Berlin");
  EXPECT_EQ(line(example1()), ":4201|12|5551234|050303140736|45|3||02\n");
  pkrecord pk = example1();
  // 01:59:56 CET plus 4 seconds is 03:00:00 CEST.
  settime(&pk, packedat(2003, 3, 30, 1, 59, 56));
  setduration(&pk, 1);
  EXPECT_EQ(line(pk), ":4201|12|5551234|300303030000|1|3||02\n");
}

TEST_F(CdrLine, FieldTexts) {
  struct {
    const char* what;
    void (*change)(pkrecord&);
    const char* want;
  } cases[] = {
      {"end is the next day",
       [](pkrecord& pk) {
         settime(&pk, packedat(2003, 3, 5, 23, 58, 0));
         setduration(&pk, 75);
       },
       ":4201|12|5551234|060303000300|75|3||02\n"},
      {"meter bits 13-15 ignored", [](pkrecord& pk) { setmeter(&pk, 0xE005); },
       ":4201|12|5551234|050303140736|45|5||02\n"},
      {"flags lower case", [](pkrecord& pk) { pk.pk_flags = 0x22; },
       ":4201|12|5551234|050303140736|45|3||22\n"},
      {"zero parties",
       [](pkrecord& pk) {
         setbcd(pk.pk_station, "000000");
         setbcd(pk.pk_trunk, "000000");
       },
       ":||5551234|050303140736|45|3||02\n"},
      {"inner zeros stay", [](pkrecord& pk) { setbcd(pk.pk_station, "100200"); },
       ":100200|12|5551234|050303140736|45|3||02\n"},
      {"blank dialled", [](pkrecord& pk) { setdialled(&pk, ""); },
       ":4201|12||050303140736|45|3||02\n"},
      {"nibbles above 9", [](pkrecord& pk) { pk.pk_trunk[2] = 0xAB; },
       ":4201|AB|5551234|050303140736|45|3||02\n"},
      {"charge code without its high half",
       [](pkrecord& pk) {
         setbcd(pk.pk_chghi, "000012");
         setbcd(pk.pk_chglo, "000340");
       },
       ":4201|12|5551234|050303140736|45|3|340|02\n"},
      {"duration marker",
       [](pkrecord& pk) {
         setduration(&pk, 999999);
         settime(&pk, packedat(2003, 3, 5, 14, 7, 36) - 999999);
       },
       ":4201|12|5551234|050303140736|999999|3||02\n"},
      {"years past 2099 take three digits",
       [](pkrecord& pk) { settime(&pk, packedat(2100, 2, 3, 4, 5, 8) - 45); },
       ":4201|12|5551234|0302100040508|45|3||02\n"},
      {"a duration above 2^31 ticks shows as negative",
       [](pkrecord& pk) {
         setduration(&pk, 0x80000000u);
         settime(&pk, packedat(2003, 3, 5, 14, 7, 36) - 0x80000000u);
       },
       ":4201|12|5551234|050303140736|-2147483648|3||02\n"},
      {"the longest line",
       [](pkrecord& pk) {
         pk.pk_flags = 0xff;
         setbcd(pk.pk_station, "999999");
         setbcd(pk.pk_trunk, "888888");
         setdialled(&pk, "123456789012345678901234");
         setbcd(pk.pk_chglo, "777777");
         setmeter(&pk, 0x1fff);
         setduration(&pk, 0xffffffffu);
         settime(&pk, packedat(2100, 12, 31, 23, 59, 56) + 1);
       },
       ":888888|999999|123456789012345678901234|3112100235956|-1|8191|777777|ff\n"},
  };
  for (const auto& c : cases) {
    pkrecord pk = example1();
    c.change(pk);
    EXPECT_EQ(line(pk), c.want) << c.what;
  }
  pkrecord pk = example1();
  pk.pk_flags = 0xA3;
  EXPECT_EQ(line(pk).substr(line(pk).size() - 4), "|a3\n");
}

// The line as the field functions give its texts, put together by printf.
std::string linefromfields(const pkrecord& pk) {
  char buf[cdrlinemax];
  formcall(buf, &pk);  // for gmpct
  bool trunkfirst = pk.pk_flags & pkf_trunkfirst;
  std::string first = ljs(trunkfirst ? ctrk(&pk) : cstat(&pk));
  std::string second = ljs(trunkfirst ? cstat(&pk) : ctrk(&pk));
  std::string dialled(cdial(&pk), strnlen(cdial(&pk), 24));
  std::string duration = izero(static_cast<int32_t>(getduration(&pk)));
  std::string meter = izero(getmeter(&pk) & 0x1fff);
  snprintf(buf, sizeof buf, ":%s|%s|%s|%02u%02u%02u%02u%02u%02u|%s|%s|%s|%02x\n", first.c_str(),
           second.c_str(), lj(dialled.c_str()), gmpct.date + 1u, gmpct.month + 1u,
           twodigityear(gmpct.year), unsigned{gmpct.hour}, unsigned{gmpct.minute},
           unsigned{gmpct.second}, duration.c_str(), meter.c_str(), ljs(cchg(&pk)),
           unsigned{pk.pk_flags});
  return buf;
}

TEST_F(CdrLine, RandomCallsReadAsTheirFieldTexts) {
  std::mt19937 rng(7);
  auto byte = [&] { return static_cast<uint8_t>(rng()); };
  const char dialchars[] = {' ', ' ', ' ', '0', '5', '9', '\0', '#'};
  for (int i = 0; i < 20000; ++i) {
    pkrecord pk = example1();
    pk.pk_flags = byte();
    for (uint8_t* n : {pk.pk_station, pk.pk_trunk, pk.pk_chglo})
      for (int k = 0; k < 3; ++k) n[k] = rng() % 3 ? byte() & (0x0f << 4 * (rng() % 2)) : 0;
    for (int k = 0; k < 24; ++k) pk.pk_dialled[k] = dialchars[rng() % sizeof dialchars];
    uint32_t duration = rng() % 4 ? rng() % 100000 : static_cast<uint32_t>(rng());
    setduration(&pk, duration);
    settime(&pk, packedat(1990 + static_cast<int>(rng() % 100), 1 + rng() % 12, 1 + rng() % 28,
                          rng() % 24, rng() % 60, rng() % 60) -
                     duration);
    setmeter(&pk, static_cast<uint16_t>(rng() % 3 ? 0 : rng()));
    ASSERT_EQ(line(pk), linefromfields(pk)) << "call " << i;
  }
}

TEST_F(CdrLine, TwoDigitYears) {
  EXPECT_EQ(twodigityear(0), 84);
  EXPECT_EQ(twodigityear(15), 99);
  EXPECT_EQ(twodigityear(16), 0);
  EXPECT_EQ(twodigityear(19), 3);
  EXPECT_EQ(twodigityear(42), 26);
}

TEST_F(CdrLine, NoRemappingInThisBuild) {
  pkrecord pk = example1();
  pk.pk_flags = 0x83;
  setbcd(pk.pk_trunk, "123456");
  setbcd(pk.pk_station, "012345");
  EXPECT_EQ(line(pk), ":123456|12345|5551234|050303140736|45|3||83\n");
  EXPECT_EQ(isfuj9600l, 0);
}

TEST_F(CdrLine, ZorVersionRemapsTrunksAndClassThreeStations) {
  memcpy(testmodule.pakver, "3.12 ZOR9600Ez8 #1 ", 20);
  pkrecord pk = example1();
  pk.pk_flags = 0x83;
  setbcd(pk.pk_trunk, "123456");
  setbcd(pk.pk_station, "012345");
  EXPECT_EQ(line(pk), ":1163456|82345|5551234|050303140736|45|3||83\n");
  EXPECT_EQ(isfuj9600l, 1);
  setbcd(pk.pk_trunk, "301234");
  pk.pk_flags = 0x81;  // the station of a call without both class bits stays
  EXPECT_EQ(line(pk), ":3001234|12345|5551234|050303140736|45|3||81\n");
  setbcd(pk.pk_trunk, "456789");
  EXPECT_EQ(line(pk), ":4456789|12345|5551234|050303140736|45|3||81\n");
}

TEST_F(CdrLine, DebugEchoesTheLine) {
  dodebug = 1;
  testing::internal::CaptureStderr();
  std::string l = line(example1());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "formcall(): [" + l);
}

TEST_F(CdrLine, ListingShowsStartTimeAndTwelveDigitCharge) {
  pkrecord pk = example2();
  testing::internal::CaptureStderr();
  dumppak(&pk);
  std::string got = testing::internal::GetCapturedStderr();
  std::string hex;
  const uint8_t* b = reinterpret_cast<const uint8_t*>(&pk);
  for (int i = 0; i < 52; ++i) {
    char x[4];
    snprintf(x, sizeof x, " %02x", b[i]);
    hex += x;
    if (i == 15) hex += '\n';
  }
  const std::string header =
      "\n  DATE      TIME TYPE METER  DURATION                  DIALLED  TRUNK  CHARGE-CODE "
      "STATION\n";
  const std::string columns = std::string("31-DEC-99  23:59 ") + " 81  " + " 0000" + "      0:00" +
                              " " + std::string(16, ' ') + "81234567" + "      7" +
                              "     98765432" + "  12345" + "\n";
  EXPECT_EQ(got, hex + header + columns);
}

TEST_F(CdrLine, ListingOfTheFirstExampleShowsItsStart) {
  pkrecord pk = example1();
  testing::internal::CaptureStderr();
  dumppak(&pk);
  std::string got = testing::internal::GetCapturedStderr();
  const std::string columns = std::string(" 5-MAR-03  14:04 ") + " 02  " + " 0003" + "      3:00" +
                              " " + std::string(17, ' ') + "5551234" + "     12" + " " +
                              std::string(12, ' ') + "   4201" + "\n";
  EXPECT_EQ(got.substr(got.rfind("STATION\n") + 8), columns);
  EXPECT_EQ(got.substr(0, 16), " 08 02 03 00 2d ");  // 2003 needs bits above 24
}

TEST_F(CdrLine, ListingOfAnEmptyRecord) {
  pkrecord pk{};
  memset(pk.pk_dialled, ' ', 24);
  setmeter(&pk, 0xE005);
  setduration(&pk, 900);
  testing::internal::CaptureStderr();
  dumppak(&pk);
  std::string got = testing::internal::GetCapturedStderr();
  std::string lastline = got.substr(got.rfind("STATION\n") + 8);
  const std::string columns = std::string(12, ' ') + "0:00 " + " 00  " + " 0005" + "   1:00:00" +
                              " " + std::string(24, ' ') + "      0" + " " + std::string(12, ' ') +
                              "      0" + "\n";
  EXPECT_EQ(lastline, columns);
  EXPECT_EQ(got.substr(0, 48),
            std::string(" 00 00 05 e0 84 03 00 00 00 00 00 00 00 00 00 00").substr(0, 48));
}

}  // namespace
