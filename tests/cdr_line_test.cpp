// The CDR line read back: every field, the markers, and lines that are not
// CDR lines, each refused with its reason.
#include <gtest/gtest.h>

#include <string>

#include "cdr/callline.h"

namespace {

TEST(CdrToolLine, WorkedExamplesReadBack) {
  cdrcall c;
  ASSERT_EQ(parsecall(":4201|12|5551234|050303140736|45|3||02", 0, &c), nullptr);
  EXPECT_EQ(c.first, "4201");
  EXPECT_EQ(c.second, "12");
  EXPECT_EQ(c.station(), "4201");
  EXPECT_EQ(c.trunk(), "12");
  EXPECT_EQ(c.dialled, "5551234");
  EXPECT_EQ(c.end.year, 2003);
  EXPECT_EQ(c.end.month, 3);
  EXPECT_EQ(c.end.day, 5);
  EXPECT_EQ(c.end.hour, 14);
  EXPECT_EQ(c.end.minute, 7);
  EXPECT_EQ(c.end.second, 36);
  EXPECT_EQ(c.ticks, 45u);
  EXPECT_EQ(c.seconds(), 180u);
  EXPECT_EQ(c.meter, 3u);
  EXPECT_EQ(c.charge, "");
  EXPECT_EQ(c.flags, 0x02);
  EXPECT_FALSE(c.trunkfirst());
  EXPECT_EQ(c.classbits(), 2);

  ASSERT_EQ(parsecall(":7|12345|81234567|311299235956|||765432|81", 0, &c), nullptr);
  EXPECT_TRUE(c.trunkfirst());
  EXPECT_EQ(c.station(), "12345");
  EXPECT_EQ(c.trunk(), "7");
  EXPECT_EQ(c.end.year, 1999);
  EXPECT_EQ(c.seconds(), 0u);
  EXPECT_FALSE(c.marked());
  EXPECT_EQ(c.meter, 0u);
  EXPECT_EQ(c.charge, "765432");
  EXPECT_EQ(c.classbits(), 1);
}

struct partycase {
  const char* flags;
  const char *station, *trunk, *other;
  bool trunkfirst;
};

// Which party is what, by the flags: the trunk first with 0x80, two
// stations and no trunk with 0x08 as well (the third record kind).
TEST(CdrToolLine, FlagsTellTheParties) {
  const partycase cases[] = {
      {"01", "4201", "12", "", false}, {"43", "4201", "12", "", false},
      {"81", "12", "4201", "", true},  {"d3", "12", "4201", "", true},
      {"89", "4201", "", "12", false}, {"8b", "4201", "", "12", false},
      {"c9", "4201", "", "12", false},
  };
  for (const partycase& p : cases) {
    cdrcall c;
    std::string line = std::string(":4201|12||050303140736|45|3||") + p.flags;
    ASSERT_EQ(parsecall(line, 0, &c), nullptr) << line;
    EXPECT_EQ(c.station(), p.station) << line;
    EXPECT_EQ(c.trunk(), p.trunk) << line;
    EXPECT_EQ(c.otherstation(), p.other) << line;
    EXPECT_EQ(c.trunkfirst(), p.trunkfirst) << line;
    EXPECT_EQ(c.betweenstations(), *p.other != '\0') << line;
  }
}

struct durationcase {
  const char* field;
  uint32_t ticks, seconds;
  bool marked;
  const char* mark;
};

TEST(CdrToolLine, DurationsAreTicksAndMarkersStayMarkers) {
  const durationcase cases[] = {
      {"", 0, 0, false, ""},
      {"1", 1, 4, false, ""},
      {"900", 900, 3600, false, ""},
      {"999997", 999997, 3999988, false, ""},
      {"999998", 999998, 0, true, "end-before-start"},
      {"999999", 999999, 0, true, "too-long"},
  };
  for (const durationcase& d : cases) {
    cdrcall c;
    std::string line = std::string(":1|2|3|010124000000|") + d.field + "|||01";
    ASSERT_EQ(parsecall(line, 0, &c), nullptr) << line;
    EXPECT_EQ(c.ticks, d.ticks) << line;
    EXPECT_EQ(c.seconds(), d.seconds) << line;
    EXPECT_EQ(c.marked(), d.marked) << line;
    EXPECT_STREQ(c.markname(), d.mark) << line;
  }
}

struct yearcase {
  const char* yy;
  int hint, year;
};

TEST(CdrToolLine, TwoDigitYearsTakeTheCenturyOfTheirFile) {
  const yearcase cases[] = {
      {"84", 0, 1984},    {"99", 0, 1999},    {"00", 0, 2000},    {"83", 0, 2083},
      {"99", 2099, 2099}, {"84", 2084, 2084}, {"26", 2026, 2026}, {"99", 2000, 1999},
  };
  for (const yearcase& y : cases) {
    cdrcall c;
    std::string line = std::string(":1|2||3112") + y.yy + "235959||||00";
    ASSERT_EQ(parsecall(line, y.hint, &c), nullptr) << line;
    EXPECT_EQ(c.end.year, y.year) << line << " hint " << y.hint;
  }
}

TEST(CdrToolLine, EveryFieldAtItsLimits) {
  cdrcall c;
  ASSERT_EQ(
      parsecall(":9999999|1|012345678901234567890123|290224000000|999999|8191|999999|ff", 0, &c),
      nullptr);
  EXPECT_EQ(c.first, "9999999");
  EXPECT_EQ(c.dialled, "012345678901234567890123");
  EXPECT_EQ(c.end.year, 2024);
  EXPECT_EQ(c.meter, 8191u);
  EXPECT_EQ(c.flags, 0xff);
  EXPECT_EQ(partynumber(c.first), 9999999u);
  EXPECT_EQ(partynumber(""), 0u);
  // All fields empty but the time and flags.
  ASSERT_EQ(parsecall(":|||010100000000||||00", 0, &c), nullptr);
  EXPECT_EQ(c.station(), "");
  EXPECT_EQ(c.end.year, 2000);
}

struct badcase {
  const char* line;
  const char* why;
};

TEST(CdrToolLine, MalformedLinesAreRefusedWithTheirReason) {
  const badcase cases[] = {
      {"", "no leading ':'"},
      {"4201|12|5551234|050303140736|45|3||02", "no leading ':'"},
      {" :4201|12|5551234|050303140736|45|3||02", "no leading ':'"},
      {":4201|12|5551234|050303140736|45|3|02", "fewer than 8 fields"},
      {":4201|12|5551234|050303140736|45|3||02|", "more than 8 fields"},
      {":04201|12|5551234|050303140736|45|3||02", "field 1 is not a party number"},
      {":0|12|5551234|050303140736|45|3||02", "field 1 is not a party number"},
      {":12345678|12|5551234|050303140736|45|3||02", "field 1 is not a party number"},
      {":42a1|12|5551234|050303140736|45|3||02", "field 1 is not a party number"},
      {":4201| 12|5551234|050303140736|45|3||02", "field 2 is not a party number"},
      {":4201|12|555-1234|050303140736|45|3||02", "field 3 is not up to 24 dialled digits"},
      {":4201|12|0123456789012345678901234|050303140736|45|3||02",
       "field 3 is not up to 24 dialled digits"},
      {":4201|12|5551234|05030314073|45|3||02", "field 4 is not DDMMYYhhmmss"},
      {":4201|12|5551234|0503031407366|45|3||02", "field 4 is not DDMMYYhhmmss"},
      {":4201|12|5551234|05030314073x|45|3||02", "field 4 is not DDMMYYhhmmss"},
      {":4201|12|5551234|320303140736|45|3||02", "field 4 holds no valid date"},
      {":4201|12|5551234|290223140736|45|3||02", "field 4 holds no valid date"},
      {":4201|12|5551234|051303140736|45|3||02", "field 4 holds no valid date"},
      {":4201|12|5551234|000303140736|45|3||02", "field 4 holds no valid date"},
      {":4201|12|5551234|050303240736|45|3||02", "field 4 holds no valid time"},
      {":4201|12|5551234|050303146036|45|3||02", "field 4 holds no valid time"},
      {":4201|12|5551234|050303140760|45|3||02", "field 4 holds no valid time"},
      {":4201|12|5551234|050303140736|045|3||02", "field 5 is not a duration"},
      {":4201|12|5551234|050303140736|0|3||02", "field 5 is not a duration"},
      {":4201|12|5551234|050303140736|1000000|3||02", "field 5 is not a duration"},
      {":4201|12|5551234|050303140736|-4|3||02", "field 5 is not a duration"},
      {":4201|12|5551234|050303140736|45|8192||02", "field 6 is not a meter count"},
      {":4201|12|5551234|050303140736|45|03||02", "field 6 is not a meter count"},
      {":4201|12|5551234|050303140736|45|3|0|02", "field 7 is not a charge code"},
      {":4201|12|5551234|050303140736|45|3|1234567|02", "field 7 is not a charge code"},
      {":4201|12|5551234|050303140736|45|3||2", "field 8 is not two hexadecimal digits"},
      {":4201|12|5551234|050303140736|45|3||002", "field 8 is not two hexadecimal digits"},
      {":4201|12|5551234|050303140736|45|3||8A", "field 8 is not two hexadecimal digits"},
      {":4201|12|5551234|050303140736|45|3||0g", "field 8 is not two hexadecimal digits"},
      {":4201|12|5551234|050303140736|45|3||02\r", "field 8 is not two hexadecimal digits"},
  };
  for (const badcase& b : cases) {
    cdrcall c;
    const char* why = parsecall(b.line, 0, &c);
    ASSERT_NE(why, nullptr) << b.line;
    EXPECT_STREQ(why, b.why) << b.line;
  }
}

}  // namespace

#include <unistd.h>

#include "cdr/linereader.h"
#include "support/tmpdir.h"

namespace {

TEST(CdrLineReader, LinesAcrossBuffersTooLongAndTorn) {
  tmpdir d;
  std::string text;
  // Enough short lines to cross the reader's buffer several times.
  for (int i = 0; i < 40000; ++i) text += std::to_string(i) + ":abcdefghij\n";
  text += std::string(linereader::maxline + 1, 'x') + "\n";  // too long, but whole
  text += "after\n";
  text += std::string(600000, 'y') + "\n";  // longer than the buffer
  text += "last";                           // torn
  writefile(d.file("f"), text);
  linereader in;
  ASSERT_TRUE(in.open(d.file("f")));
  linereader::line l;
  for (int i = 0; i < 40000; ++i) {
    ASSERT_TRUE(in.next(&l));
    ASSERT_EQ(l.text, std::to_string(i) + ":abcdefghij");
    ASSERT_EQ(l.number, i + 1);
    ASSERT_FALSE(l.torn || l.toolong);
  }
  ASSERT_TRUE(in.next(&l));
  EXPECT_TRUE(l.toolong);
  EXPECT_EQ(l.text, std::string(80, 'x'));
  ASSERT_TRUE(in.next(&l));
  EXPECT_EQ(l.text, "after");
  EXPECT_EQ(l.number, 40002);
  ASSERT_TRUE(in.next(&l));
  EXPECT_TRUE(l.toolong);
  EXPECT_FALSE(l.torn);
  EXPECT_EQ(l.text, std::string(80, 'y'));
  ASSERT_TRUE(in.next(&l));
  EXPECT_EQ(l.text, "last");
  EXPECT_TRUE(l.torn);
  EXPECT_EQ(l.number, 40004);
  EXPECT_FALSE(in.next(&l));
  EXPECT_EQ(in.error(), 0);
  // Once more from the start.
  ASSERT_TRUE(in.rewind());
  ASSERT_TRUE(in.next(&l));
  EXPECT_EQ(l.text, "0:abcdefghij");
  EXPECT_FALSE(in.open(d.file("missing")));
}

}  // namespace
