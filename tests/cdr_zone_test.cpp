// Wall times placed in a zone: the
// hour skipped in spring, the hour repeated in autumn, half-hour changes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "tools/common/civil.h"
#include "cdr/zone.h"
#include "support/tmpdir.h"

namespace {

struct zonecase {
  wall w;
  tzone::kind what;
  const char* first;  // the instants, as UTC ISO texts
  const char* second;
};

std::string utc(int64_t t) {
  char buf[32];
  return std::string(buf, isotime(buf, wallof(t), 0));
}

TEST(CdrZone, BerlinSkipsAnHourInSpringAndRepeatsOneInAutumn) {
  tzone z("Europe/Berlin");
  const zonecase cases[] = {
      {{2024, 1, 15, 12, 0, 0}, tzone::unique, "2024-01-15T11:00:00+00:00", nullptr},
      {{2024, 3, 31, 1, 59, 59}, tzone::unique, "2024-03-31T00:59:59+00:00", nullptr},
      {{2024, 3, 31, 2, 0, 0}, tzone::skipped, "2024-03-31T01:00:00+00:00", nullptr},
      {{2024, 3, 31, 2, 59, 59}, tzone::skipped, "2024-03-31T01:59:59+00:00", nullptr},
      {{2024, 3, 31, 3, 0, 0}, tzone::unique, "2024-03-31T01:00:00+00:00", nullptr},
      {{2024, 7, 1, 12, 0, 0}, tzone::unique, "2024-07-01T10:00:00+00:00", nullptr},
      {{2024, 10, 27, 1, 59, 59}, tzone::unique, "2024-10-26T23:59:59+00:00", nullptr},
      {{2024, 10, 27, 2, 0, 0},
       tzone::repeated,
       "2024-10-27T00:00:00+00:00",
       "2024-10-27T01:00:00+00:00"},
      {{2024, 10, 27, 2, 30, 0},
       tzone::repeated,
       "2024-10-27T00:30:00+00:00",
       "2024-10-27T01:30:00+00:00"},
      {{2024, 10, 27, 2, 59, 59},
       tzone::repeated,
       "2024-10-27T00:59:59+00:00",
       "2024-10-27T01:59:59+00:00"},
      {{2024, 10, 27, 3, 0, 0}, tzone::unique, "2024-10-27T02:00:00+00:00", nullptr},
  };
  for (const zonecase& c : cases) {
    tzone::instant t = z.resolve(c.w);
    SCOPED_TRACE(c.first);
    EXPECT_EQ(t.what, c.what);
    EXPECT_EQ(utc(t.first), c.first);
    EXPECT_EQ(utc(t.second), c.second ? c.second : c.first);
    if (c.what == tzone::repeated) {
      EXPECT_EQ(t.offfirst, 7200);
      EXPECT_EQ(t.offsecond, 3600);
    }
  }
  int64_t lo, hi;
  EXPECT_FALSE(z.repeatedin(wallsecs({2024, 10, 27, 1, 0, 0}), &lo, &hi));
  ASSERT_TRUE(z.repeatedin(wallsecs({2024, 10, 27, 2, 0, 0}), &lo, &hi));
  EXPECT_EQ(lo, wallsecs({2024, 10, 27, 2, 0, 0}));
  EXPECT_EQ(hi, wallsecs({2024, 10, 27, 3, 0, 0}));
  EXPECT_FALSE(z.repeatedin(wallsecs({2024, 3, 31, 2, 0, 0}), &lo, &hi));
  EXPECT_EQ(z.offset(wallsecs({2024, 10, 27, 0, 59, 59})), 7200);
  EXPECT_EQ(z.offset(wallsecs({2024, 10, 27, 1, 0, 0})), 3600);
}

TEST(CdrZone, HalfHourChangesRepeatHalfAnHour) {
  // Lord Howe Island goes from +11 back to +10:30 at 02:00 in April.
  tzone z("Australia/Lord_Howe");
  tzone::instant t = z.resolve({2024, 4, 7, 1, 15, 0});
  EXPECT_EQ(t.what, tzone::unique);
  t = z.resolve({2024, 4, 7, 1, 45, 0});
  EXPECT_EQ(t.what, tzone::repeated);
  EXPECT_EQ(t.second - t.first, 1800);
  int64_t lo, hi;
  ASSERT_TRUE(z.repeatedin(wallsecs({2024, 4, 7, 1, 0, 0}), &lo, &hi));
  EXPECT_EQ(lo, wallsecs({2024, 4, 7, 1, 30, 0}));
  EXPECT_EQ(hi, wallsecs({2024, 4, 7, 2, 0, 0}));
}

TEST(CdrZone, PosixStringsWorkAndUnknownNamesAreRefused) {
  tzone z("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(z.resolve({2024, 10, 27, 2, 30, 0}).what, tzone::repeated);
  EXPECT_THROW(tzone("Nowhere/Atlantis"), std::runtime_error);
  tzone u("UTC");
  EXPECT_EQ(u.resolve({2024, 10, 27, 2, 30, 0}).what, tzone::unique);
  EXPECT_EQ(u.offset(0), 0);
}

// The C library reads any file that is not a zone file as UTC.
TEST(CdrZone, OnlyZoneFilesAreTaken) {
  tmpdir d;
  writefile(d.file("passwd"), "root:x:0:0:root:/root:/bin/bash\n");
  writefile(d.file("short"), "TZi");
  ASSERT_EQ(mkfifo(d.file("fifo").c_str(), 0600), 0);
  std::filesystem::create_directory(d.file("dir"));
  for (const char* bad : {"passwd", "short", "fifo", "dir", "none"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(tzone{d.file(bad)}, std::runtime_error);
    EXPECT_THROW(tzone{":" + d.file(bad)}, std::runtime_error);
  }
  // zone.tab lies among the zones but is a table of them.
  EXPECT_THROW(tzone{"zone.tab"}, std::runtime_error);
  std::filesystem::copy_file("/usr/share/zoneinfo/Europe/Berlin", d.file("berlin"));
  tzone z(d.file("berlin"));
  EXPECT_EQ(z.resolve({2024, 10, 27, 2, 30, 0}).what, tzone::repeated);
}

// The C library reads a string it cannot make sense of as UTC: such a
// string must be refused, not quietly move every call by the zone's offset.
TEST(CdrZone, OnlyWellFormedPosixStringsAreTaken) {
  for (const char* good : {"EST5EDT", "JST-9", "UTC0", "<+0330>-3:30",
                           "<-03>3<-02>,M3.5.0/-2,M10.5.0/-1", "NZST-12NZDT,M9.5.0,M4.1.0/3",
                           "IST-2IDT,M3.4.4/26,M10.5.0", "AAA3BBB,J60/2,300/125", "XYZ+2:30:15"}) {
    SCOPED_TRACE(good);
    EXPECT_NO_THROW(tzone{good});
  }
  for (const char* bad : {"999", "XYZ", "AB1", "CET-25", "CET-1x", "<AB>1", "CET-1:60",
                          "CET-1CEST,M3.5.0", "CET-1CEST,M13.5.0,M10.5.0/3", "CET-1CEST,J0,J100",
                          "CET-1CEST,M3.5.0,M10.5.0/3,", "CET-1CEST,M3.6.0,M10.5.0"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(tzone{bad}, std::runtime_error);
  }
  // The offset of a taken string is the one it names, west of Greenwich.
  tzone z("<+0330>-3:30");
  EXPECT_EQ(z.offset(0), 3 * 3600 + 1800);
}

}  // namespace
